#include "common/AutomationDate.h"
#include "mailstore/AttachmentList.h"
#include "mailstore/TAttach.h"
#include "processing/AttachmentTotals.h"

#include <QTest>

namespace {

struct Row
{
    const char *email;
    const char *folder;
    const char *from;
    const char *filename;
    qint64 bytes;
    QDate received = QDate(2023, 6, 1);
};

std::shared_ptr<const TAttach> record(const Row &row)
{
    const QString filename = QString::fromUtf8(row.filename);
    return std::make_shared<const TAttach>(
        TAttach{QStringLiteral("Subject"), QString::fromUtf8(row.from),
                QString::fromUtf8(row.folder), row.bytes + 100, filename, attachmentType(filename),
                qb::toAutomationDate(row.received.startOfDay().addSecs(23 * 3600 + 1800)),
                QString::fromUtf8(row.email), 1, QStringLiteral("store"), row.bytes});
}

AttachmentTotals::Records records(std::initializer_list<Row> rows)
{
    AttachmentTotals::Records result;
    for (const Row &row : rows)
        result.push_back(record(row));
    return result;
}

const GroupTotal *groupOf(const DimensionTotals &totals, const QString &key)
{
    for (const GroupTotal &group : totals.groups) {
        if (!group.other && group.key == key)
            return &group;
    }
    return nullptr;
}

// Every shown group's filter picks exactly the rows the group counts.
void checkFiltersPickTheirRows(const AttachmentTotals::Records &rows, const DimensionTotals &totals)
{
    for (const GroupTotal &group : totals.groups) {
        if (!group.filter)
            continue;
        qint64 bytes = 0;
        int attachments = 0;
        for (const auto &row : rows) {
            if (group.filter->matches(*row)) {
                bytes += row->AttachmentSize;
                ++attachments;
            }
        }
        QCOMPARE(bytes, group.bytes);
        QCOMPARE(attachments, group.attachments);
    }
}

} // namespace

class TestAttachmentTotals : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // A sender's filter picks that sender alone, not the senders whose names contain it.
    void senderFilterIsExact()
    {
        const auto rows = records({
            {"e1", "Inbox\\", "Ann", "a.pdf", 5000},
            {"e2", "Inbox\\", "Joanna", "b.pdf", 3000},
            {"e3", "Inbox\\", "ann", "c.pdf", 1000},
        });
        const DimensionTotals senders = AttachmentTotals(rows).by(TotalsDimension::Sender, 8);
        QCOMPARE(senders.groups.size(), size_t(3));
        checkFiltersPickTheirRows(rows, senders);
    }

    void groupsCountBytesAttachmentsAndEmails()
    {
        const auto rows = records({
            {"e1", "Inbox\\", "Ann", "a.pdf", 5000},
            {"e1", "Inbox\\", "Ann", "b.jpg", 3000},
            {"e2", "Inbox\\", "Bob", "c.PDF", 2000},
            {"e3", "Archive\\", "Ann", "d.pdf", 7000, QDate(2019, 12, 31)},
        });
        const AttachmentTotals totals(rows);
        QCOMPARE(totals.bytes(), 17000);
        QCOMPARE(totals.attachments(), 4);
        QCOMPARE(totals.emails(), 3);
        QCOMPARE(totals.unknownSizes(), 0);

        const DimensionTotals folders = totals.by(TotalsDimension::Folder, 8);
        QCOMPARE(folders.groups.size(), size_t(2));
        QCOMPARE(folders.groups[0].key, QStringLiteral("Inbox\\"));
        QCOMPARE(folders.groups[0].bytes, 10000);
        QCOMPARE(folders.groups[0].attachments, 3);
        QCOMPARE(folders.groups[0].emails, 2); // e1's two attachments are one email
        QCOMPARE(folders.groups[1].key, QStringLiteral("Archive\\"));
        checkFiltersPickTheirRows(rows, folders);

        // One email with a pdf and a jpg counts in both; PDF and pdf are one type.
        const DimensionTotals types = totals.by(TotalsDimension::Type, 8);
        QCOMPARE(types.groups.size(), size_t(2));
        QCOMPARE(types.groups[0].key, QStringLiteral("pdf"));
        QCOMPARE(types.groups[0].bytes, 14000);
        QCOMPARE(types.groups[0].emails, 3);
        QCOMPARE(types.groups[1].key, QStringLiteral("jpg"));
        QCOMPARE(types.groups[1].emails, 1);
        checkFiltersPickTheirRows(rows, types);

        const DimensionTotals senders = totals.by(TotalsDimension::Sender, 8);
        QCOMPARE(groupOf(senders, QStringLiteral("Ann"))->bytes, 15000);
        QCOMPARE(groupOf(senders, QStringLiteral("Ann"))->emails, 2);
        QCOMPARE(groupOf(senders, QStringLiteral("Bob"))->bytes, 2000);
        checkFiltersPickTheirRows(rows, senders);

        // The last evening of a year belongs to that year, as the filter's days do.
        const DimensionTotals years = totals.by(TotalsDimension::Year, 8);
        QCOMPARE(groupOf(years, QStringLiteral("2023"))->bytes, 10000);
        QCOMPARE(groupOf(years, QStringLiteral("2019"))->bytes, 7000);
        QCOMPARE(groupOf(years, QStringLiteral("2019"))->filter->lastDay, QDate(2019, 12, 31));
        checkFiltersPickTheirRows(rows, years);
    }

    void theSmallestGroupsFoldIntoOther()
    {
        const auto rows = records({
            {"e1", "A\\", "x", "a.pdf", 900},
            {"e2", "B\\", "x", "b.pdf", 800},
            {"e3", "C\\", "x", "c.pdf", 300},
            {"e3", "D\\", "x", "d.pdf", 200},
            {"e4", "E\\", "x", "e.pdf", 100},
        });
        const AttachmentTotals totals(rows);
        // At the limit nothing folds: one folded group would say less than its own bar.
        QCOMPARE(totals.by(TotalsDimension::Folder, 5).groups.size(), size_t(5));
        QVERIFY(!totals.by(TotalsDimension::Folder, 5).groups.back().other);

        const DimensionTotals folded = totals.by(TotalsDimension::Folder, 3);
        QCOMPARE(folded.groups.size(), size_t(3));
        QCOMPARE(folded.groups[0].key, QStringLiteral("A\\"));
        QCOMPARE(folded.groups[1].key, QStringLiteral("B\\"));
        const GroupTotal &other = folded.groups[2];
        QVERIFY(other.other);
        QVERIFY(!other.filter);
        QCOMPARE(other.bytes, 600);
        QCOMPARE(other.attachments, 3);
        QCOMPARE(other.emails, 2); // e3 is in C and D, counted once
        qint64 sum = 0;
        for (const GroupTotal &group : folded.groups)
            sum += group.bytes;
        QCOMPARE(sum, totals.bytes());

        // A limit below two still shows the largest group beside the rest.
        QCOMPARE(totals.by(TotalsDimension::Folder, 0).groups.size(), size_t(2));
    }

    void tiesGoByAttachmentsThenKey()
    {
        const AttachmentTotals totals(records({
            {"e1", "Inbox\\", "Zed", "a.pdf", 500},
            {"e2", "Inbox\\", "Amy", "b.pdf", 500},
            {"e3", "Inbox\\", "Kim", "c.pdf", 250},
            {"e4", "Inbox\\", "Kim", "d.pdf", 250},
        }));
        const DimensionTotals senders = totals.by(TotalsDimension::Sender, 8);
        QCOMPARE(senders.groups[0].key, QStringLiteral("Kim"));
        QCOMPARE(senders.groups[1].key, QStringLiteral("Amy"));
        QCOMPARE(senders.groups[2].key, QStringLiteral("Zed"));
    }

    void groupsAFilterCannotPickHaveNone()
    {
        const auto rows = records({
            {"e1", "Inbox\\", "", "noextension", 400},
            {"e2", "Inbox\\", "Ann", "a.pdf", 0},
        });
        const AttachmentTotals totals(rows);
        QCOMPARE(totals.unknownSizes(), 1);
        const DimensionTotals senders = totals.by(TotalsDimension::Sender, 8);
        // An empty sender's filter would be no filter at all.
        QVERIFY(!groupOf(senders, QString())->filter);
        QVERIFY(groupOf(senders, QStringLiteral("Ann"))->filter);
        // Rows without a type can be picked: the filter's list holds the empty type.
        const DimensionTotals types = totals.by(TotalsDimension::Type, 8);
        QVERIFY(groupOf(types, QString())->filter);
        checkFiltersPickTheirRows(rows, types);
        QVERIFY(!AttachmentTotals::filterFor(TotalsDimension::Year, QString()));
        QVERIFY(!AttachmentTotals::filterFor(TotalsDimension::Folder, QString()));
    }

    void aListIsReadUpToTheRowsGiven()
    {
        AttachmentList list;
        list.append(QStringLiteral("a"), record({"e1", "Inbox\\", "Ann", "a.pdf", 100}));
        list.append(QStringLiteral("b"), record({"e2", "Inbox\\", "Ann", "b.pdf", 200}));
        list.append(QStringLiteral("c"), record({"e3", "Inbox\\", "Ann", "c.pdf", 400}));
        QCOMPARE(AttachmentTotals::ofList(list, 2).bytes(), 300);
        QCOMPARE(AttachmentTotals::ofList(list, 2).emails(), 2);
        QCOMPARE(AttachmentTotals::ofList(list, 10).bytes(), 700);
        QCOMPARE(AttachmentTotals::ofList(list, 0).by(TotalsDimension::Type, 8).groups.size(),
                 size_t(0));
    }
};

QTEST_GUILESS_MAIN(TestAttachmentTotals)
#include "test_attachment_totals.moc"
