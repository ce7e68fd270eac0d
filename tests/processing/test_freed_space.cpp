#include "mailstore/AttachmentList.h"
#include "mailstore/maildir/MaildirStore.h"
#include "processing/FreedSpace.h"
#include "processing/RecordingHost.h"
#include "processing/SaveNaming.h"
#include "processing/TAnalyseThread.h"
#include "processing/TEmailThread.h"
#include "settings/TSettings.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gmime/gmime.h>

namespace {

// The attachment part of an email as written in its file, from its boundary line on.
QByteArray attachmentPart(const QByteArray &name, const QByteArray &encoding,
                          const QByteArray &body)
{
    return "--b\nContent-Type: application/octet-stream; name=\"" + name +
           "\"\nContent-Disposition: attachment; filename=\"" + name +
           "\"\nContent-Transfer-Encoding: " + encoding + "\n\n" + body;
}

QByteArray email(const QByteArray &subject, const QList<QByteArray> &parts)
{
    QByteArray text = "From: a@example.com\nSubject: " + subject + "\nMessage-ID: <" + subject +
                      "@x>\nMIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=b\n\n"
                      "--b\nContent-Type: text/plain\n\nhello\n";
    for (const QByteArray &part : parts)
        text += part;
    return text + "--b--\n";
}

// Base64 in 76-character lines, each ending in LF.
QByteArray base64Lines(const QByteArray &content)
{
    const QByteArray encoded = content.toBase64();
    QByteArray lines;
    for (qsizetype at = 0; at < encoded.size(); at += 76)
        lines += encoded.mid(at, 76) + '\n';
    return lines;
}

qint64 bytesBelow(const QString &root)
{
    qint64 total = 0;
    for (QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
         it.hasNext();) {
        it.next();
        if (!QDir(root).relativeFilePath(it.filePath()).startsWith(QLatin1String("tmp/")))
            total += it.fileInfo().size();
    }
    return total;
}

void writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

std::shared_ptr<const TAttach> row(const QString &entryId, const QString &storeId, qint64 size)
{
    return std::make_shared<const TAttach>(TAttach{
        QStringLiteral("S"), QStringLiteral("F"), QStringLiteral("Inbox\\"), 100,
        QStringLiteral("a.bin"), QStringLiteral("bin"), 45000.0, entryId, 1, storeId, size});
}

} // namespace

class TestFreedSpace : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { g_mime_init(); }

    void sizesReadAsTheyRound()
    {
        const QLocale c = QLocale::c();
        QCOMPARE(freedSizeText(0, c), QStringLiteral("0 bytes"));
        QCOMPARE(freedSizeText(999, c), QStringLiteral("999 bytes"));
        QCOMPARE(freedSizeText(1000, c), QStringLiteral("1.0 KB"));
        QCOMPARE(freedSizeText(1234567, c), QStringLiteral("1.2 MB"));
        // Rounding up to the next unit shows in that unit, never as "1000.0 KB".
        QCOMPARE(freedSizeText(999949, c), QStringLiteral("999.9 KB"));
        QCOMPARE(freedSizeText(999950, c), QStringLiteral("1.0 MB"));
        QCOMPARE(freedSizeText(3400000000, c), QStringLiteral("3.4 GB"));
        QCOMPARE(freedSizeText(1500, QLocale(QLocale::German)), QStringLiteral("1,5 KB"));
    }

    // Emails count once however many of their attachments are chosen; a size the store
    // could not tell makes the figure a lower bound.
    void totalsOfRows()
    {
        const QString store = QStringLiteral("store");
        const RowTotals totals =
            totalsOf({row(QStringLiteral("e1"), store, 1500), row(QStringLiteral("e1"), store, 500),
                      row(QStringLiteral("e2"), store, 0),
                      row(QStringLiteral("e1"), QStringLiteral("other"), 7)});
        QCOMPARE(totals, (RowTotals{4, 3, 2007, 1}));
        QCOMPARE(freeableSize(totals), QStringLiteral("at least 2.0 KB"));
        QCOMPARE(freeableText(totalsOf({row(QStringLiteral("e1"), store, 1500)})),
                 QStringLiteral("in 1 email(s), Delete or Detach frees 1.5 KB"));
        QCOMPARE(freeableSize(totalsOf({row(QStringLiteral("e1"), store, 0)})),
                 QStringLiteral("an unknown size"));
        QCOMPARE(freeableText(RowTotals()), QString());
        QCOMPARE(freedText(RowTotals{2, 1, 0, 2}, std::nullopt), QString());
        QCOMPARE(freedText(RowTotals{2, 1, 0, 2}, FolderBytes{1, 5000, 4000}),
                 QStringLiteral("Freed 2 attachment(s) of unknown size; the 1 folder(s) changed "
                                "went from 5.0 KB to 4.0 KB"));
        QCOMPARE(freedText(RowTotals{3, 2, 1500, 1}, std::nullopt),
                 QStringLiteral("Freed 1.5 KB in 3 attachment(s) of 2 email(s) (1 of unknown "
                                "size)"));
    }

    // Rows of a store that is no Maildir name no folder; a Maildir row names its folder's
    // directory, nested or Maildir++, once however many of its emails are chosen.
    void touchedFoldersAreTheRowsMaildirs()
    {
        QCOMPARE(TouchedFolders({row(QStringLiteral("item-1"), QStringLiteral("store-1"), 5)})
                     .directories(),
                 QStringList());
        QTemporaryDir dir;
        const QString root = QDir(dir.path()).absoluteFilePath(QStringLiteral("Mail"));
        writeFile(root + QStringLiteral("/cur/1.a:2,S"), "x");
        writeFile(root + QStringLiteral("/.Projects/cur/2.b:2,S"), "yy");
        writeFile(root + QStringLiteral("/.Projects/new/3.c"), "zzz");
        QDir().mkpath(root + QStringLiteral("/tmp"));
        QDir().mkpath(root + QStringLiteral("/.Projects/tmp"));
        const TouchedFolders touched({row(root + QStringLiteral("//Projects::2.b"), root, 5),
                                      row(root + QStringLiteral("//Projects::3.c"), root, 5),
                                      row(QStringLiteral("elsewhere//Projects::3.c"), root, 5)});
        QCOMPARE(touched.directories(), QStringList{root + QStringLiteral("/.Projects")});
        QCOMPARE(touched.bytes(), 5);
    }

    // A delete on a real Maildir: the figure the job gives is the removed attachments'
    // decoded bytes, and the folder sizes it gives are the store's own before and after.
    // The store shrinks by more than the decoded bytes, by exactly what the file held
    // besides them (each part's boundary line and headers, base64's line breaks and its
    // four characters for three bytes) less the note appended to each email.
    void deleteFreesWhatTheStoreLoses()
    {
        QTemporaryDir dir;
        const QString root = QDir(dir.path()).absoluteFilePath(QStringLiteral("Mail"));
        for (const char *sub : {"cur", "new", "tmp"})
            QDir().mkpath(root + QLatin1Char('/') + QLatin1String(sub));
        const QByteArray plain(3000, 'p');
        QByteArray binary;
        for (int i = 0; i < 4000; ++i)
            binary += char(i * 7);
        const QByteArray plainPart = attachmentPart("p.txt", "7bit", plain + '\n');
        const QByteArray base64Part = attachmentPart("b.bin", "base64", base64Lines(binary));
        const QByteArray kept = attachmentPart("k.txt", "7bit", "keep\n");
        writeFile(root + QStringLiteral("/cur/1.one:2,S"), email("one", {plainPart, base64Part}));
        writeFile(root + QStringLiteral("/cur/2.two:2,S"), email("two", {kept}));
        const qint64 before = bytesBelow(root);

        RecordingHost host;
        AttachmentList list;
        auto *settings = new TSettings;
        settings->getFromDefaultFolder = true;
        const auto stores = maildir::storeFactory({root});
        auto *analysis = new TAnalyseThread(settings, nullptr, &host, stores, &list);
        QSignalSpy analysed(analysis, &QObject::destroyed);
        QVERIFY(analysed.wait(10000));
        QCOMPARE(list.count(), 3);
        TEmailThread::Records chosen;
        for (int i = 0; i < list.count(); ++i) {
            if (list.record(i)->Filename != QLatin1String("k.txt"))
                chosen.push_back(list.record(i));
        }
        QCOMPARE(totalsOf(chosen), (RowTotals{2, 1, 7000, 0}));

        TEmailThread::Result result;
        auto *job = new TEmailThread(
            new TSettings, nullptr, &host, stores, [chosen] { return chosen; }, true, false);
        QObject::connect(job, &TEmailThread::jobEnded, job,
                         [&](TEmailThread::Result r) { result = r; });
        QSignalSpy done(job, &QObject::destroyed);
        QVERIFY(done.wait(20000));
        QCOMPARE(result.failed, 0);
        const qint64 after = bytesBelow(root);
        QCOMPARE(result.freed, freedText(RowTotals{2, 1, 7000, 0}, FolderBytes{1, before, after}));
        QVERIFY(result.freed.startsWith(QStringLiteral("Freed 7.0 KB in 2 attachment(s)")));

        // The notes, with the line ends of a Maildir file: 41 and 41 bytes.
        const qint64 notes = QString(bodyNote(false, true, QStringLiteral("p.txt"), QString()) +
                                     bodyNote(false, true, QStringLiteral("b.bin"), QString()))
                                 .replace(QStringLiteral("\r\n"), QStringLiteral("\n"))
                                 .toUtf8()
                                 .size();
        QCOMPARE(notes, 82);
        // Part headers and boundary lines of both parts, the 7bit part's last line end,
        // base64's growth and line ends: 1,690 bytes.
        const qint64 overhead = plainPart.size() + base64Part.size() - 7000;
        QCOMPARE(overhead, 1690);
        QCOMPARE(before - after, 7000 + overhead - notes);
    }
};

QTEST_GUILESS_MAIN(TestFreedSpace)
#include "test_freed_space.moc"
