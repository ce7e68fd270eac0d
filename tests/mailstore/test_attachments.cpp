#include "common/AutomationDate.h"
#include "mailstore/AttachText.h"
#include "mailstore/AttachmentList.h"

#include <QSet>
#include <QTest>

#include <time.h>

namespace {

std::shared_ptr<const TAttach> record(const QString &subject, qint64 size = 1,
                                      const QString &filename = QStringLiteral("a.txt"),
                                      double date = 45000)
{
    return std::make_shared<const TAttach>(
        TAttach{subject, QStringLiteral("From"), QStringLiteral("Inbox\\"), size, filename,
                attachmentType(filename), date, QStringLiteral("id"), 1, QStringLiteral("store")});
}

QStringList subjects(const AttachmentList &list)
{
    QStringList result;
    for (int i = 0; i < list.count(); ++i)
        result << list.record(i)->Subject;
    return result;
}

} // namespace

class TestAttachments : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }

    void typeOfFilename_data()
    {
        QTest::addColumn<QString>("filename");
        QTest::addColumn<QString>("type");
        QTest::newRow("last dot, case kept") << "Q3 report.final.PDF"
                                             << "PDF";
        QTest::newRow("double extension") << "archive.tar.gz"
                                          << "gz";
        QTest::newRow("no dot") << "README"
                                << "";
        QTest::newRow("trailing dot") << "file."
                                      << "";
        QTest::newRow("cut at ten") << "x.abcdefghijkl"
                                    << "abcdefghij";
        QTest::newRow("backslash after dot") << "dir.d\\file"
                                             << "";
        QTest::newRow("colon after dot") << "a.b:c"
                                         << "";
        QTest::newRow("non-ascii counted as characters") << "x.ééééééééééé"
                                                         << "éééééééééé";
        QTest::newRow("surrogate pair not split")
            << QStringLiteral("x.abcdefghi\U0001F600z") << QStringLiteral("abcdefghi\U0001F600");
    }
    void typeOfFilename()
    {
        QFETCH(QString, filename);
        QFETCH(QString, type);
        QCOMPARE(attachmentType(filename), type);
    }

    void sizeText_data()
    {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << qint64(0) << "Unknown";
        QTest::newRow("1") << qint64(1) << "1KB";
        QTest::newRow("499") << qint64(499) << "1KB";
        QTest::newRow("500") << qint64(500) << "1KB";
        QTest::newRow("1499") << qint64(1499) << "1KB";
        QTest::newRow("1500") << qint64(1500) << "2KB";
        QTest::newRow("2500 rounds away from zero") << qint64(2500) << "3KB";
        QTest::newRow("999499") << qint64(999499) << "999KB";
        QTest::newRow("999500") << qint64(999500) << "1,000KB";
        QTest::newRow("1000000") << qint64(1000000) << "1,000KB";
        QTest::newRow("1000001") << qint64(1000001) << "1MB";
        QTest::newRow("2500000") << qint64(2500000) << "3MB";
        QTest::newRow("int max") << qint64(2147483647) << "2,147MB";
        QTest::newRow("over 2 GB stays positive") << qint64(5000000000) << "5,000MB";
        QTest::newRow("negative") << qint64(-1500) << "-2KB";
    }
    void sizeText()
    {
        QFETCH(qint64, bytes);
        QFETCH(QString, text);
        QCOMPARE(::sizeText(bytes), text);
    }

    void sizeTextUsesLocaleSeparator()
    {
        QCOMPARE(::sizeText(1000000, QLocale(QLocale::German, QLocale::Germany)),
                 QStringLiteral("1.000KB"));
    }

    void safeFileName_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("safe");
        QTest::newRow("example") << "Re: notes.doc / final?"
                                 << "Re  notes,doc   final";
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("only unsafe") << " \t\\/:*?\"<>| "
                                     << "";
        QTest::newRow("control chars trimmed") << "\x01\nabc\r\n"
                                               << "abc";
        QTest::newRow("inner controls become spaces") << QStringLiteral("a\tb\x7f"
                                                                        "c") +
                                                             QChar(0) + QStringLiteral("d")
                                                      << "a b c d";
        QTest::newRow("dots") << ".."
                              << ",,";
        QTest::newRow("unicode kept") << "Résumé: été"
                                      << "Résumé  été";
    }
    void safeFileName()
    {
        QFETCH(QString, text);
        QFETCH(QString, safe);
        QCOMPARE(SafeFileName(text), safe);
    }

    void automationDate()
    {
        QCOMPARE(qb::toAutomationDate(QDateTime(QDate(1899, 12, 30), QTime(0, 0))), 0.0);
        QCOMPARE(qb::toAutomationDate(QDateTime(QDate(1900, 1, 1), QTime(18, 0))), 2.75);
        const QDateTime when(QDate(2026, 12, 7), QTime(8, 55, 31));
        QCOMPARE(qb::fromAutomationDate(qb::toAutomationDate(when)), when);
    }

    // On the days the clocks change, a received time reads back as the same time on the
    // clock, before and after the change (a zone rule that needs no zone files).
    void automationDateKeepsTheClockTimeOnChangeDays()
    {
        const QByteArray savedZone = qgetenv("TZ");
        qputenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3");
        tzset();
        for (const QDate day : {QDate(2024, 3, 31), QDate(2024, 10, 27)}) {
            for (const QTime time :
                 {QTime(1, 30), QTime(3, 30), QTime(15, 0, 7), QTime(23, 59, 59)}) {
                const QDateTime when(day, time);
                const QDateTime back = qb::fromAutomationDate(qb::toAutomationDate(when));
                QCOMPARE(back.date(), day);
                QCOMPARE(back.time(), time);
            }
        }
        if (savedZone.isNull())
            qunsetenv("TZ");
        else
            qputenv("TZ", savedZone);
        tzset();
    }

    void dateTextDropsMidnight()
    {
        const QLocale locale(QLocale::English, QLocale::UnitedStates);
        const double midnight = qb::toAutomationDate(QDateTime(QDate(2024, 3, 5), QTime(0, 0)));
        QCOMPARE(dateText(midnight, locale),
                 locale.toString(QDate(2024, 3, 5), QLocale::ShortFormat));
        const QString withTime = dateText(midnight + 0.5, locale);
        QVERIFY2(withTime.contains(QStringLiteral("12:00:00")), qPrintable(withTime));
    }

    void textComparisonDistinguishesCase()
    {
        AttachmentList list;
        list.append(QStringLiteral("abc"), record(QStringLiteral("abc")));
        list.append(QStringLiteral("ABC"), record(QStringLiteral("ABC")));
        list.append(QStringLiteral("abc"), record(QStringLiteral("abc")));
        QVERIFY(CompareSubject(list, 0, 1) != 0);
        QCOMPARE(CompareSubject(list, 0, 2), 0);
        QCOMPARE(CompareSubject(list, 1, 0), -CompareSubject(list, 0, 1));
    }

    void descendingNegatesEveryComparison()
    {
        AttachmentList list;
        list.append(QStringLiteral("small"), record(QStringLiteral("small"), 10));
        list.append(QStringLiteral("big"), record(QStringLiteral("big"), 20));
        list.append(QStringLiteral("same"), record(QStringLiteral("same"), 20));
        QCOMPARE(CompareSize(list, 0, 1), -1);
        QCOMPARE(CompareSize(list, 1, 2), 0);
        list.SortDescending = true;
        QCOMPARE(CompareSize(list, 0, 1), 1);
        QCOMPARE(CompareSize(list, 1, 2), 0);
    }

    void sortEachColumn()
    {
        AttachmentList list;
        list.append(QStringLiteral("b"),
                    record(QStringLiteral("b"), 300, QStringLiteral("x.pdf"), 3));
        list.append(QStringLiteral("a"),
                    record(QStringLiteral("a"), 100, QStringLiteral("README"), 2));
        list.append(QStringLiteral("c"),
                    record(QStringLiteral("c"), 200, QStringLiteral("y.doc"), 1));

        list.sort(AttachColumn::Subject);
        QCOMPARE(subjects(list), QStringList({"a", "b", "c"}));
        list.sort(AttachColumn::Size);
        QCOMPARE(subjects(list), QStringList({"a", "c", "b"}));
        list.sort(AttachColumn::Date);
        QCOMPARE(subjects(list), QStringList({"c", "a", "b"}));
        // A name without a dot has an empty type, which sorts first.
        list.sort(AttachColumn::Type);
        QCOMPARE(subjects(list), QStringList({"a", "c", "b"}));
        list.SortDescending = true;
        list.sort(AttachColumn::Type);
        QCOMPARE(subjects(list), QStringList({"b", "c", "a"}));
        list.sort(AttachColumn::Subject);
        QCOMPARE(subjects(list), QStringList({"c", "b", "a"}));
        QCOMPARE(list.text(0), QStringLiteral("c"));
    }

    // The attachment's own size is a column of its own: it sorts, compares and shows apart
    // from the email's Size, formatted as Size is.
    void attachmentSizeIsItsOwnColumn()
    {
        AttachmentList list;
        const auto add = [&list](const QString &subject, qint64 emailSize, qint64 ownSize) {
            list.append(subject,
                        std::make_shared<const TAttach>(TAttach{
                            subject, QStringLiteral("From"), QStringLiteral("Inbox\\"), emailSize,
                            QStringLiteral("a.bin"), QStringLiteral("bin"), 45000,
                            QStringLiteral("id"), 1, QStringLiteral("store"), ownSize}));
        };
        add(QStringLiteral("a"), 9'000'000, 1'500);
        add(QStringLiteral("b"), 3'000, 2'600'000);
        add(QStringLiteral("c"), 5'000'000'000, 0);
        QCOMPARE(CompareAttachmentSize(list, 0, 1), -1);
        QCOMPARE(CompareSize(list, 0, 1), 1);
        list.sort(AttachColumn::AttachmentSize);
        QCOMPARE(subjects(list), QStringList({"c", "a", "b"}));
        list.SortDescending = true;
        QCOMPARE(CompareAttachmentSize(list, 0, 1), 1);
        list.sort(AttachColumn::AttachmentSize);
        QCOMPARE(subjects(list), QStringList({"b", "a", "c"}));
        QStringList shown;
        for (int i = 0; i < list.count(); ++i)
            shown << cellText(*list.record(i), AttachColumn::AttachmentSize) + QLatin1Char('/') +
                         cellText(*list.record(i), AttachColumn::Size);
        QCOMPARE(shown, QStringList({"3MB/3KB", "2KB/9MB", "Unknown/5,000MB"}));
        QCOMPARE(columnHeading(AttachColumn::AttachmentSize), QStringLiteral("Attachment size"));
        QVERIFY(!isTextColumn(AttachColumn::AttachmentSize));
        // The grid shows it right after Size; every column once.
        const auto &order = shownColumnOrder();
        QCOMPARE(std::find(order.begin(), order.end(), AttachColumn::AttachmentSize) -
                     std::find(order.begin(), order.end(), AttachColumn::Size),
                 1);
        QCOMPARE(QSet<AttachColumn>(order.begin(), order.end()).size(), attachColumnCount);
    }

    void sortedKeysAgreeWithComparison()
    {
        AttachmentList list;
        const QStringList words = {"zeta", "Alpha", "alpha", "Élan", "elan",
                                   "beta", "Beta",  "ALPHA", "ärger"};
        for (const QString &w : words)
            list.append(w, record(w));
        list.sort(AttachColumn::Subject);
        for (int i = 0; i + 1 < list.count(); ++i)
            QVERIFY2(CompareSubject(list, i, i + 1) <= 0, qPrintable(subjects(list).join(u',')));
    }

    void outOfRangeIsEmpty()
    {
        AttachmentList list;
        QVERIFY(!list.record(0));
        QCOMPARE(list.text(-1), QString());
    }
};

QTEST_GUILESS_MAIN(TestAttachments)
#include "test_attachments.moc"
