#include "mailstore/AttachmentList.h"
#include "mailstore/maildir/MaildirStore.h"
#include "processing/RecordingHost.h"
#include "processing/TAnalyseThread.h"
#include "processing/TEmailThread.h"
#include "settings/TSettings.h"
#include "support/FileSizeLimit.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gmime/gmime.h>

namespace {

QByteArray emailWith(const QByteArray &subject, const QByteArray &name, int bytes)
{
    return "From: a@example.com\nSubject: " + subject + "\nMessage-ID: <" + subject +
           "@x>\nContent-Type: multipart/mixed; boundary=b\n\n"
           "--b\nContent-Type: text/plain\n\nhello\n--b\nContent-Type: application/octet-stream; "
           "name=\"" +
           name + "\"\nContent-Transfer-Encoding: base64\n\n" + QByteArray(bytes, 'x').toBase64() +
           "\n--b--\n";
}

QStringList filesBelow(const QString &root)
{
    QStringList files;
    for (QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
         it.hasNext();) {
        const QString file = QDir(root).relativeFilePath(it.next());
        if (!file.startsWith(QLatin1String(".quillbrook/"))) // the job's undo record
            files << file;
    }
    files.sort();
    return files;
}

// Every email of the Maildir's Inbox, as an analysis lists them.
void analyseInbox(const mailstore::ApplicationFactory &stores, RecordingHost &host,
                  AttachmentList &list)
{
    auto *settings = new TSettings;
    settings->getFromDefaultFolder = true;
    auto *analysis = new TAnalyseThread(settings, nullptr, &host, stores, &list);
    QSignalSpy analysed(analysis, &QObject::destroyed);
    QVERIFY(analysed.wait(10000));
}

// A detach of the records into saveFolder while files may grow to limit bytes at most.
void detachUnderLimit(const mailstore::ApplicationFactory &stores, RecordingHost &host,
                      const TEmailThread::Records &records, const QString &saveFolder, qint64 limit,
                      TEmailThread::Result &result)
{
    auto *settings = new TSettings;
    settings->saveFolder = saveFolder;
    FileSizeLimit full(limit);
    auto *job = new TEmailThread(
        settings, nullptr, &host, stores, [records] { return records; }, true, true);
    QObject::connect(job, &TEmailThread::jobEnded, job,
                     [&](TEmailThread::Result r) { result = r; });
    QSignalSpy done(job, &QObject::destroyed);
    QVERIFY(done.wait(20000));
}

} // namespace

class TestJobMaildir : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { g_mime_init(); }

    void fullDiskKeepsAttachmentsThatCouldNotBeSaved()
    {
        QTemporaryDir dir;
        const QString root = dir.path() + QStringLiteral("/Mail");
        for (const char *sub : {"cur", "new", "tmp"})
            QDir().mkpath(root + QLatin1Char('/') + QLatin1String(sub));
        const QByteArray big = emailWith("big", "big.bin", 300000);
        const QByteArray small = emailWith("small", "small.bin", 1000);
        for (const auto &[name, content] : {std::pair{QStringLiteral("/cur/1.big:2,S"), big},
                                            std::pair{QStringLiteral("/cur/2.small:2,S"), small}}) {
            QFile file(root + name);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(content);
        }
        const auto stores = maildir::storeFactory({root});

        RecordingHost host;
        AttachmentList list;
        analyseInbox(stores, host, list);
        QCOMPARE(list.count(), 2);

        TEmailThread::Records all = {list.record(0), list.record(1)};
        // Room for the small attachment and its rewritten email, not for the big one.
        TEmailThread::Result result;
        detachUnderLimit(stores, host, all, dir.path() + QStringLiteral("/out"), 100000, result);
        QCOMPARE(result.processed, 2);
        QCOMPARE(result.failed, 1);
        // Only whole files under their final names; the big email is untouched.
        QCOMPARE(filesBelow(dir.path() + QStringLiteral("/out")), QStringList{"Inbox/small.bin"});
        QFile bigFile(root + QStringLiteral("/cur/1.big:2,S"));
        QVERIFY(bigFile.open(QIODevice::ReadOnly));
        QCOMPARE(bigFile.readAll(), big);
        QVERIFY(!QFile::exists(root + QStringLiteral("/cur/2.small:2,S")));
        QCOMPARE(QDir(root + QStringLiteral("/cur")).entryList(QDir::Files).size(), 2);
        QVERIFY(QDir(root + QStringLiteral("/tmp")).entryList(QDir::Files).isEmpty());
    }

    void refusedRewriteTakesBackItsFile()
    {
        // A long text and a small attachment: the file fits, the rewritten email does not.
        QTemporaryDir dir;
        const QString root = dir.path() + QStringLiteral("/Mail");
        for (const char *sub : {"cur", "new", "tmp"})
            QDir().mkpath(root + QLatin1Char('/') + QLatin1String(sub));
        const QByteArray email =
            "From: a@example.com\nSubject: Long\nMessage-ID: <long@x>\nContent-Type: "
            "multipart/mixed; boundary=b\n\n--b\nContent-Type: text/plain\n\n" +
            QByteArray(200000, 'x') +
            "\n--b\nContent-Type: application/octet-stream; name=\"s.bin\"\n\nsmall\n--b--\n";
        QFile file(root + QStringLiteral("/cur/1.long:2,S"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(email);
        file.close();
        const auto stores = maildir::storeFactory({root});
        RecordingHost host;
        AttachmentList list;
        analyseInbox(stores, host, list);
        QCOMPARE(list.count(), 1);

        TEmailThread::Records all = {list.record(0)};
        TEmailThread::Result result;
        detachUnderLimit(stores, host, all, dir.path() + QStringLiteral("/out"), 100000, result);
        QCOMPARE(result.failed, 1);
        QVERIFY(QFile(file.fileName()).open(QIODevice::ReadOnly));
        QCOMPARE(filesBelow(dir.path() + QStringLiteral("/out")), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestJobMaildir)
#include "test_job_maildir.moc"
