#include "AttachmentTable.h"
#include "mailstore/maildir/MaildirSession.h"
#include "mailstore/maildir/SummaryCache.h"
#include "mailstore/mime/HeaderMemo.h"
#include "processing/StringPool.h"
#include "processing/SummaryReaders.h"
#include "support/MaildirFixture.h"

#include <QDirIterator>
#include <QProcess>
#include <QRegularExpression>

#include <atomic>
#include <cstdio>
#include <fcntl.h>
#include <future>
#include <random>
#include <sys/stat.h>
#include <tuple>

namespace {

// The command-line tool's CSV of records, the output that must never depend on how the
// emails were read.
QString csvOf(const TEmailThread::Records &records)
{
    AttachmentList list;
    for (const auto &record : records)
        list.append(record->Subject, record);
    QString csv;
    table::writeCsv(list, [&csv](const QString &line) { csv += line; });
    return csv;
}

QString lastStatusBarText(const RecordingHost &host)
{
    for (auto it = host.steps.crbegin(); it != host.steps.crend(); ++it) {
        if (it->startsWith(QLatin1String("statusbar: ")))
            return *it;
    }
    return {};
}

// A Maildir with every kind of attachment the reader knows: the demo mail's (encoded and
// continued names, forwarded and signed emails, inline images, broken emails) in both
// layouts' folders, the hostile structures of the MIME reader's corpus, and entries that
// are no emails.
void fillStore(MaildirFixture &store, int emails)
{
    QProcess maker;
    maker.start(QStringLiteral("python3"),
                {qEnvironmentVariable("QB_TEST_TOOLS") + QStringLiteral("/make_maildir.py"),
                 store.root, QStringLiteral("--emails"), QString::number(emails),
                 QStringLiteral("--average-kb"), QStringLiteral("4"), QStringLiteral("--seed"),
                 QStringLiteral("11")});
    QVERIFY(maker.waitForFinished(120000));
    QCOMPARE(maker.exitCode(), 0);
    QDirIterator corpus(QStringLiteral(QB_MIME_CORPUS), QDir::Files);
    int n = 0;
    while (corpus.hasNext()) {
        QFile email(corpus.next());
        QVERIFY(email.open(QIODevice::ReadOnly));
        QVERIFY(!store
                     .add(QStringLiteral(".Projects/cur/1800000%1.corpus:2,S").arg(++n),
                          email.readAll())
                     .isEmpty());
    }
    const QByteArray fifo = QFile::encodeName(store.root + QStringLiteral("/cur/1900000.fifo"));
    QCOMPARE(::mkfifo(fifo.constData(), 0600), 0);
}

struct Analysis
{
    QString csv;
    QStringList unreadable;
    QString status;
};

Analysis analyse(MaildirFixture &store)
{
    Analysis result;
    result.csv = csvOf(store.analyse());
    result.unreadable = store.unreadable;
    result.status = lastStatusBarText(store.host);
    return result;
}

// How many files of the folder the summary cache knows.
qsizetype cachedFiles(const QString &cachePath, const QString &directory)
{
    maildir::SummaryCache cache(cachePath);
    return cache
        .folder(directory,
                std::make_shared<maildir::FolderListing>(maildir::FolderListing::read(directory)))
        ->size();
}

// Whether the cache trusts the folder, and lists it, without a look at its files.
bool trustedFolder(const QString &cachePath, const QString &directory)
{
    maildir::SummaryCache cache(cachePath);
    return cache.trustedFolder(directory, maildir::FolderStamp::of(directory)) != nullptr;
}

// Dates the last change of the folder's cur/ and new/ back to a fixed time.
bool settle(const QString &directory, qint64 seconds)
{
    const struct timespec times[2] = {{0, UTIME_OMIT}, {seconds, 0}};
    for (const char *sub : {"/cur", "/new"}) {
        const QByteArray path = QFile::encodeName(directory + QLatin1String(sub));
        if (::utimensat(AT_FDCWD, path.constData(), times, 0) != 0)
            return false;
    }
    return true;
}

mailstore::SummaryReading readingOf(const QString &subject)
{
    return [subject](mailstore::ReadingScratch &) {
        mailstore::EmailSummary summary;
        summary.subject = subject;
        return std::optional(summary);
    };
}

} // namespace

class TestParallelAnalysis : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { g_mime_init(); }
    void cleanupTestCase() { g_mime_shutdown(); }

    // The list is the same whether emails are read on the walk's thread value by value, by
    // one reader or many, from their files or from the cache, cold or warm.
    void sameListHoweverRead()
    {
        MaildirFixture store;
        fillStore(store, 400);
        // Folders left alone for long: the cache comes to trust them, and lists them itself.
        QDirIterator folders(store.root, QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot,
                             QDirIterator::Subdirectories);
        QStringList maildirs{store.root};
        while (folders.hasNext()) {
            const QString folder = folders.next();
            if (QFileInfo(folder).fileName() == QLatin1String("cur"))
                maildirs << QFileInfo(folder).path();
        }
        QVERIFY(maildirs.size() > 3);
        for (const QString &maildir : maildirs)
            QVERIFY(settle(maildir, 1700000000));
        store.wholeStore = true;
        store.readers = 0;
        const Analysis expected = analyse(store);
        QVERIFY(expected.csv.count(QStringLiteral("\r\n")) > 400);
        // The rows know their attachments' own sizes, which the ways below must agree on.
        QVERIFY(expected.csv.count(QRegularExpression(QStringLiteral(",[0-9,\"]+[KM]B\r\n"))) >
                400);
        QVERIFY2(expected.status == QStringLiteral("statusbar: Complete. 448 emails processed, "
                                                   "1 other entries skipped"),
                 qPrintable(expected.status));
        store.summaryCache = store.dir.filePath(QStringLiteral("cache/summaries.sqlite"));
        const struct
        {
            int readers;
            bool cached;
            const char *what;
        } ways[] = {{1, false, "one reader"},       {4, false, "four readers"},
                    {4, true, "cache, cold"},       {4, true, "cache, warm"},
                    {1, true, "cache, one reader"}, {0, true, "value by value beside a cache"}};
        for (const auto &way : ways) {
            store.readers = way.readers;
            const QString cache = store.summaryCache;
            if (!way.cached)
                store.summaryCache.clear();
            const Analysis found = analyse(store);
            store.summaryCache = cache;
            QVERIFY2(found.csv == expected.csv, way.what);
            QCOMPARE(found.unreadable, expected.unreadable);
            QCOMPARE(found.status, expected.status);
        }
        // Every email file of the Inbox is known; the named pipe is not.
        QCOMPARE(cachedFiles(store.summaryCache, store.root),
                 qsizetype(maildir::FolderListing::read(store.root).files.size()));
        // All but the Inbox: an entry left out, its named pipe, is never vouched for.
        for (const QString &maildir : maildirs)
            QVERIFY2(trustedFolder(store.summaryCache, maildir) == (maildir != store.root),
                     qPrintable(maildir));
    }

    // A file whose size or modification time is not what the cache knows is read again.
    void changedFileIsReadAgain()
    {
        MaildirFixture store;
        store.summaryCache = store.dir.filePath(QStringLiteral("summaries.sqlite"));
        const QString path = store.add(QStringLiteral("cur/1.a:2,S"), emailWith("one.pdf"));
        const auto setTime = [&path](qint64 seconds) {
            const struct timespec times[2] = {{0, UTIME_OMIT}, {seconds, 0}};
            return ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) == 0;
        };
        QVERIFY(setTime(1700000000));
        QCOMPARE(namesIn(store.analyse()), QStringList{"one.pdf"});
        // A file of the same name, size and time is the file read before: not read again.
        QVERIFY(!store.add(QStringLiteral("cur/1.a:2,S"), emailWith("won.pdf")).isEmpty());
        QVERIFY(setTime(1700000000));
        QCOMPARE(namesIn(store.analyse()), QStringList{"one.pdf"});
        // Same size, another time.
        QVERIFY(!store.add(QStringLiteral("cur/1.a:2,S"), emailWith("two.pdf")).isEmpty());
        QVERIFY(setTime(1700000000 - 3600));
        QCOMPARE(namesIn(store.analyse()), QStringList{"two.pdf"});
        // Same time, another size.
        QVERIFY(!store.add(QStringLiteral("cur/1.a:2,S"), emailWith("three.docx")).isEmpty());
        QVERIFY(setTime(1700000000 - 3600));
        QCOMPARE(namesIn(store.analyse()), QStringList{"three.docx"});
    }

    // A walk through every email of a folder lets the next analyses trust the cache for it
    // while its cur/ and new/ stay unchanged; an email renamed over with another is read.
    void wholeWalkTrustsTheFolder()
    {
        MaildirFixture store;
        store.summaryCache = store.dir.filePath(QStringLiteral("summaries.sqlite"));
        store.add(QStringLiteral("cur/1.a:2,S"), emailWith("one.pdf"));
        store.add(QStringLiteral("new/2.b"), emailWith("two.pdf"));
        QVERIFY(settle(store.root, 1700000000));
        const QStringList both{"one.pdf", "two.pdf"};
        QCOMPARE(namesIn(store.analyse()), both);
        QVERIFY(trustedFolder(store.summaryCache, store.root));
        QCOMPARE(namesIn(store.analyse()), both);

        const QString replacement = store.add(QStringLiteral("tmp/1.a"), emailWith("won.pdf"));
        const QString target = store.root + QStringLiteral("/cur/1.a:2,S");
        QCOMPARE(::rename(QFile::encodeName(replacement).constData(),
                          QFile::encodeName(target).constData()),
                 0);
        QVERIFY(settle(store.root, 1700000000 + 60));
        QVERIFY(!trustedFolder(store.summaryCache, store.root));
        const QStringList renamed{"won.pdf", "two.pdf"};
        QCOMPARE(namesIn(store.analyse()), renamed);
        QVERIFY(trustedFolder(store.summaryCache, store.root));
        QCOMPARE(namesIn(store.analyse()), renamed);
    }

    // Emails rewritten by a job are known to the cache under their new names, and what the
    // next analysis lists is what reading every file lists.
    void jobRewritesKeepTheCacheTrue()
    {
        MaildirFixture store;
        fillStore(store, 120);
        store.summaryCache = store.dir.filePath(QStringLiteral("summaries.sqlite"));
        TEmailThread::Records records = store.analyse();
        const QStringList before = QDir(store.root + QStringLiteral("/cur")).entryList(QDir::Files);
        TEmailThread::Records chosen;
        for (const auto &record : records) {
            if (record->Folder == QLatin1String("Inbox\\") &&
                record->Filename.endsWith(QLatin1String(".pdf")))
                chosen.push_back(record);
        }
        QVERIFY(chosen.size() > 3);
        const TEmailThread::Result result = store.run(chosen, true, true);
        QCOMPARE(result.processed, int(chosen.size()));
        QVERIFY(result.failed < result.processed);

        const QString cached = csvOf(store.analyse());
        store.summaryCache.clear();
        QCOMPARE(cached, csvOf(store.analyse()));
        // Every file of the Inbox is known, the rewritten ones included.
        const auto listing =
            std::make_shared<maildir::FolderListing>(maildir::FolderListing::read(store.root));
        QVERIFY(listing->files.size() >= size_t(before.size()));
        QCOMPARE(cachedFiles(store.dir.filePath(QStringLiteral("summaries.sqlite")), store.root),
                 qsizetype(listing->files.size()));
    }

    // Cancel ends the walk at the email showing; the readers are at most a bounded number
    // of emails ahead, and what they read beyond it is not listed.
    void cancelStopsReadingAhead()
    {
        MaildirFixture store;
        fillStore(store, 400);
        store.readers = 0;
        const TEmailThread::Records all = store.analyse();
        store.summaryCache = store.dir.filePath(QStringLiteral("summaries.sqlite"));
        QVERIFY(settle(store.root, 1700000000));

        RecordingHost host;
        host.stepByStep = true;
        RecordingStatusWindow window(&host);
        window.cancelOnStatus = QStringLiteral("Email 40 of ");
        AttachmentList list;
        auto *settings = new TSettings;
        settings->getFromDefaultFolder = true;
        const int readers = 2;
        auto *analysis = new TAnalyseThread(settings, &window, &host,
                                            maildir::storeFactory({store.root}, store.summaryCache),
                                            &list, readers);
        QSignalSpy ended(analysis, &QObject::destroyed);
        QVERIFY(ended.wait(60000));
        QCOMPARE(window.lastStatus, QStringLiteral("Interrupted by user. 40 emails processed, "
                                                   "1 other entries skipped"));
        // The records of the first 39 emails, as a walk without readers lists them.
        QVERIFY(list.count() > 0);
        QVERIFY(list.count() < int(all.size()));
        for (int i = 0; i < list.count(); ++i)
            QCOMPARE(list.record(i)->EntryId, all[size_t(i)]->EntryId);
        const QString next = all[size_t(list.count())]->EntryId;
        QVERIFY(!next.endsWith(list.record(list.count() - 1)->EntryId.section(u':', -1)));
        const qsizetype read = cachedFiles(store.summaryCache, store.root);
        QVERIFY2(read >= 39 && read <= 40 + TAnalyseThread::readAhead(readers),
                 qPrintable(QString::number(read)));
        // The emails not reached were never checked: the folder is not trusted.
        QVERIFY(!trustedFolder(store.summaryCache, store.root));
    }

    void readersKeepTheOrderGiven()
    {
        SummaryReaders readers(4);
        std::vector<SummaryReaders::Ticket> tickets;
        std::mt19937 random(5);
        for (int i = 0; i < 200; ++i) {
            const int pause = int(random() % 300);
            tickets.push_back(readers.start([i, pause](mailstore::ReadingScratch &scratch) {
                scratch.buffer.resize(pause); // each thread's own, reused
                std::this_thread::sleep_for(std::chrono::microseconds(pause));
                mailstore::EmailSummary summary;
                summary.size = i;
                return std::optional(summary);
            }));
        }
        for (int i = 0; i < 200; ++i) {
            const auto summary = readers.wait(tickets[size_t(i)], [] { return false; });
            QVERIFY(summary);
            QCOMPARE(summary->size, i);
        }
        QCOMPARE(readers.started(), 200);
    }

    void readingThatFailsGivesNothing()
    {
        SummaryReaders readers(1);
        const auto throwing = readers.start(
            [](mailstore::ReadingScratch &) -> std::optional<mailstore::EmailSummary> {
                throw std::runtime_error("unreadable");
            });
        const auto empty = readers.start(
            [](mailstore::ReadingScratch &) { return std::optional<mailstore::EmailSummary>(); });
        const auto fine = readers.start(readingOf(QStringLiteral("fine")));
        QVERIFY(!readers.wait(throwing, [] { return false; }));
        QVERIFY(!readers.wait(empty, [] { return false; }));
        QCOMPARE(readers.wait(fine, [] { return false; })->subject, QStringLiteral("fine"));
    }

    // Waiting ends when asked to, however long the reading takes; no more readings run
    // at once than there are threads.
    void waitingStopsWhenAsked()
    {
        std::promise<void> release;
        std::shared_future<void> released = release.get_future().share();
        SummaryReaders readers(1);
        const auto slow = readers.start([released](mailstore::ReadingScratch &) {
            released.wait();
            return std::optional(mailstore::EmailSummary());
        });
        std::vector<SummaryReaders::Ticket> queued;
        for (int i = 0; i < 10; ++i)
            queued.push_back(readers.start(readingOf(QString::number(i))));
        std::atomic<int> asked = 0;
        QVERIFY(!readers.wait(slow, [&asked] { return ++asked == 3; }));
        QCOMPARE(asked.load(), 3);
        QCOMPARE(readers.started(), 1);
        release.set_value();
        QCOMPARE(readers.wait(queued.back(), [] { return false; })->subject, QStringLiteral("9"));
        QCOMPARE(readers.started(), 11);
    }

    // Readers remember header values across emails; what they find must be what a reading
    // of each email alone finds, also once the memo has filled and started again.
    void rememberedHeadersReadTheSame()
    {
        QList<QByteArray> emails;
        QDirIterator corpus(QStringLiteral(QB_MIME_CORPUS), QDir::Files);
        while (corpus.hasNext()) {
            QFile email(corpus.next());
            QVERIFY(email.open(QIODevice::ReadOnly));
            emails << email.readAll();
        }
        const QByteArray head = "Content-Type: multipart/mixed; boundary=\"b%1\"\n\n--b%1\n";
        for (const char *part :
             {"Content-Type: text/plain; charset=utf-8\n\nx\n",
              "Content-Type: application/pdf; name=\"=?UTF-8?B?SGVsbG8=?=.pdf\"\n\nx\n",
              "Content-Type: application/pdf\nContent-Disposition: attachment;\n"
              " filename*0*=UTF-8''R%C3%A9sum;\n filename*1*=%C3%A9.pdf\n\nx\n",
              "Content-Type: image/png\nContent-Disposition: inline\n\nx\n",
              "Content-Type: (comment) text/html ; name = x.html\nContent-Disposition: "
              "attachment\n\nx\n",
              "Content-Type: ;;; broken\nContent-Disposition: ;filename=\"\"\n\nx\n"}) {
            for (int i = 0; i < 3; ++i)
                emails << QByteArray(head).replace("%1", QByteArray::number(emails.size())) + part;
        }
        for (int i = 0; i < int(mime::HeaderMemo::capacity) + 50; ++i)
            emails << QByteArray(head).replace("%1", QByteArray::number(i)) +
                          "Content-Type: text/plain\n\nx\n";
        emails += emails.mid(0, 60);
        mime::HeaderMemo memo;
        for (const QByteArray &email : std::as_const(emails)) {
            const mime::ParsedEmail alone(email);
            const mime::ParsedEmail remembering(email, &memo);
            QCOMPARE(remembering.tree().nodes().size(), alone.tree().nodes().size());
            for (size_t n = 0; n < alone.tree().nodes().size(); ++n) {
                QCOMPARE(remembering.tree().nodes()[n].mimeType, alone.tree().nodes()[n].mimeType);
                QCOMPARE(remembering.tree().nodes()[n].boundary, alone.tree().nodes()[n].boundary);
            }
            QCOMPARE(attachmentNamesIn(email), [&] {
                QStringList names;
                for (const auto &part : remembering.attachments())
                    names << part.filename;
                return names;
            }());
        }
    }

    // The command-line tool keeps the cache in the user's cache folder unless told not to,
    // and lists the same either way.
    void commandLineCacheAndNoCache()
    {
        MaildirFixture store;
        fillStore(store, 150);
        QTemporaryDir home;
        const auto run = [&](const QStringList &extra) {
            QProcess cli;
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(QStringLiteral("XDG_CACHE_HOME"), home.path());
            cli.setProcessEnvironment(environment);
            cli.start(QStringLiteral(QB_CLI_PATH),
                      QStringList{QStringLiteral("analyze"), QStringLiteral("--store"), store.root,
                                  QStringLiteral("--folder"), QStringLiteral("Email Folders\\Mail"),
                                  QStringLiteral("--csv")} +
                          extra);
            cli.waitForFinished(60000);
            return cli.readAllStandardOutput();
        };
        const QString cacheFile =
            home.filePath(QStringLiteral("quillbrook/maildir-summaries.sqlite"));
        const QByteArray uncached = run({QStringLiteral("--no-cache")});
        QVERIFY(uncached.count("\r\n") > 150);
        // The tool prints rows while the walk finds them: every row once, in the list's order.
        store.wholeStore = true;
        QCOMPARE(QString::fromUtf8(uncached), analyse(store).csv);
        QVERIFY(!QFile::exists(cacheFile));
        QCOMPARE(run({}), uncached);
        QVERIFY(QFile::exists(cacheFile));
        QCOMPARE(run({}), uncached);
        QVERIFY(QFile::remove(cacheFile));
        QCOMPARE(run({}), uncached);
    }

    // An email file written anew under its name (saved in place, copied over) leaves its
    // folder's stamp as it was, so the cache lists the email the file held before. A job
    // then refuses the email now in the file instead of taking its attachment for the one
    // listed, and the folder is checked file by file at the next analysis.
    void jobRefusesAFileWrittenOverSinceListed()
    {
        MaildirFixture store;
        QTemporaryDir home;
        const auto run = [&](const QStringList &arguments) {
            QProcess cli;
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(QStringLiteral("XDG_CACHE_HOME"), home.path());
            cli.setProcessEnvironment(environment);
            cli.start(QStringLiteral(QB_CLI_PATH),
                      arguments + QStringList{QStringLiteral("--store"), store.root});
            cli.waitForFinished(60000);
            return std::pair(cli.exitCode(), QString::fromUtf8(cli.readAllStandardOutput()));
        };
        const QString cacheFile =
            home.filePath(QStringLiteral("quillbrook/maildir-summaries.sqlite"));
        const QString contractPath = store.add(QStringLiteral("cur/1.a:2,S"),
                                               emailWith("document.pdf", "Newsletter", "news"));
        store.add(QStringLiteral("cur/2.b:2,S"),
                  emailWith("flyer.pdf", "Newsletter of May", "flyer"));
        const QString invoicePath = store.add(QStringLiteral("cur/3.c:2,S"),
                                              emailWith("report.pdf", "Newsletter 3", "aaaa"));
        QVERIFY(settle(store.root, 1700000000));
        QCOMPARE(run({QStringLiteral("analyze"), QStringLiteral("--csv")}).first, 0);
        QVERIFY(trustedFolder(cacheFile, store.root));

        // One written over with another size; one with the same size and time, its file's
        // stamp as it was.
        const QByteArray contract = emailWith("document.pdf", "Signed contract", "contract");
        QCOMPARE(store.add(QStringLiteral("cur/1.a:2,S"), contract), contractPath);
        struct stat before = {};
        QCOMPARE(::stat(QFile::encodeName(invoicePath).constData(), &before), 0);
        const QByteArray invoice = emailWith("report.pdf", "Invoice 0003", "bbbb");
        QCOMPARE(store.add(QStringLiteral("cur/3.c:2,S"), invoice), invoicePath);
        const struct timespec times[2] = {{0, UTIME_OMIT}, before.st_mtim};
        QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(invoicePath).constData(), times, 0), 0);
        QVERIFY(trustedFolder(cacheFile, store.root));

        const QString log = store.dir.filePath(QStringLiteral("job.log"));
        const auto job = run({QStringLiteral("delete"), QStringLiteral("--subject"),
                              QStringLiteral("Newsletter"), QStringLiteral("--yes"),
                              QStringLiteral("--log"), log});
        QCOMPARE(job.first, 3);
        QFile logFile(log);
        QVERIFY(logFile.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(logFile.readAll()).split(u'\n');
        const auto entries = [&lines](const QString &text) {
            return lines.filter(text).join(u'\n');
        };
        for (const auto &[path, content, name] :
             {std::tuple(contractPath, contract, QStringLiteral("document.pdf")),
              std::tuple(invoicePath, invoice, QStringLiteral("report.pdf"))}) {
            QFile kept(path);
            QVERIFY(kept.open(QIODevice::ReadOnly));
            QCOMPARE(kept.readAll(), content);
            const QString about = entries(QLatin1Char('[') + name + QLatin1Char(']'));
            QVERIFY2(about.contains(QStringLiteral("Error")) &&
                         !about.contains(QStringLiteral("Deleting")),
                     qPrintable(lines.join(u'\n')));
        }
        // The other newsletter, unchanged, is done.
        QVERIFY(!entries(QStringLiteral("Deleting attachment [flyer.pdf]")).isEmpty());
        QVERIFY(!trustedFolder(cacheFile, store.root));
        const auto again = run({QStringLiteral("analyze"), QStringLiteral("--csv")});
        QVERIFY2(again.second.contains(QStringLiteral("Signed contract")) &&
                     again.second.contains(QStringLiteral("Invoice 0003")) &&
                     !again.second.contains(QStringLiteral("Newsletter")),
                 qPrintable(again.second));
    }

    // The tool reads the system's time zone once, the zone TZ names when it is set.
    void commandLineKeepsTheTimeZone()
    {
        MaildirFixture store;
        store.add(QStringLiteral("cur/1.a:2,S"), emailWith("a.pdf"));
        const struct timespec times[2] = {{0, UTIME_OMIT}, {1700000000, 0}};
        QCOMPARE(::utimensat(AT_FDCWD,
                             QFile::encodeName(store.root + QStringLiteral("/cur/1.a:2,S")), times,
                             0),
                 0);
        const auto dateWith = [&](const QByteArray &zone) {
            QProcess cli;
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.remove(QStringLiteral("TZ"));
            if (!zone.isNull())
                environment.insert(QStringLiteral("TZ"), QString::fromLatin1(zone));
            environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
            cli.setProcessEnvironment(environment);
            cli.start(QStringLiteral(QB_CLI_PATH),
                      {QStringLiteral("analyze"), QStringLiteral("--store"), store.root,
                       QStringLiteral("--csv"), QStringLiteral("--no-cache")});
            cli.waitForFinished(60000);
            return cli.readAllStandardOutput().split('\n').value(1).split(',').value(5);
        };
        const QByteArray system = dateWith({});
        QVERIFY(!system.isEmpty());
        QCOMPARE(dateWith(":/etc/localtime"), system);
        if (!QFile::exists(QStringLiteral("/usr/share/zoneinfo/Asia/Kolkata")))
            QSKIP("no time zone data");
        // Half an hour off any zone whole hours off UTC: never the system's by chance.
        const QByteArray kolkata = dateWith("Asia/Kolkata");
        QVERIFY2(kolkata.contains(":43:20") && kolkata != system, kolkata.constData());
    }

    // The table takes a row's size and date texts from the row before when they are the
    // same, and only then.
    // Pooling gives back the very text the records would hold without it: types for more
    // extensions than are remembered, names whose ends are no types, and a label changed
    // where it lies.
    void pooledTextsAreTheTextsGiven()
    {
        StringPool pool;
        TypePool types;
        QStringList names{
            QStringLiteral("a.pdf"),
            QStringLiteral("b.PDF"),
            QStringLiteral("no extension"),
            QStringLiteral("trailing."),
            QStringLiteral("c.tar.gz"),
            QStringLiteral("odd.a\\b"),
            QStringLiteral("drive.c:x"),
            QStringLiteral("long.abcdefghijklmno"),
            QStringLiteral("faces.\U0001F600\U0001F600\U0001F600\U0001F600\U0001F600\U0001F600")};
        for (int i = 0; i < 40; ++i)
            names << QStringLiteral("f.e%1").arg(i);
        for (int round = 0; round < 3; ++round) {
            for (const QString &name : names) {
                const QString type = types.typeOf(name, pool);
                QCOMPARE(type, attachmentType(name));
                QCOMPARE(type.constData(), pool.pooled(type).constData());
            }
        }
        StringPool::Recent recent;
        QString label = QString::fromLatin1("Inbox\\");
        QCOMPARE(recent.pooled(pool, label), QStringLiteral("Inbox\\"));
        label[0] = u'J';
        QCOMPARE(recent.pooled(pool, label), QStringLiteral("Jnbox\\"));
        QCOMPARE(recent.pooled(pool, QString::fromLatin1("Inbox\\")), QStringLiteral("Inbox\\"));
    }

    void tableRowsShareOnlyEqualTexts()
    {
        AttachmentList list;
        const double day = 45000.25;
        const struct
        {
            qint64 size;
            double date;
        } rows[] = {{1500, day},  {1500, day}, {1500, day + 1}, {2'500'000, day + 1},
                    {0, day + 1}, {0, 0},      {1500, 0},       {1500, day}};
        for (const auto &row : rows) {
            list.append(QStringLiteral("s"),
                        std::make_shared<const TAttach>(TAttach{
                            QStringLiteral("s"), QStringLiteral("f"), QStringLiteral("Inbox\\"),
                            row.size, QStringLiteral("a.pdf"), QStringLiteral("pdf"), row.date,
                            QStringLiteral("id"), 1, QStringLiteral("store"), row.size / 3}));
        }
        QStringList lines;
        table::writeCsv(list, [&lines](const QString &line) { lines << line; });
        QCOMPARE(lines.size(), list.count() + 1);
        for (int i = 0; i < list.count(); ++i)
            QCOMPARE(lines[i + 1], table::rowTexts(list, i).join(u',') + QStringLiteral("\r\n"));
    }

private:
    static QByteArray emailWith(const QByteArray &filename, const QByteArray &subject = "s",
                                const QByteArray &content = "xxxxx")
    {
        return "From: Bob <bob@example.org>\nSubject: " + subject +
               "\nContent-Type: multipart/mixed; "
               "boundary=b\n\n--b\nContent-Type: text/plain\n\nhi\n--b\nContent-Type: "
               "application/octet-stream; name=\"" +
               filename + "\"\n\n" + content + "\n--b--\n";
    }
    static QStringList namesIn(const TEmailThread::Records &records)
    {
        QStringList names;
        for (const auto &record : records)
            names << record->Filename;
        return names;
    }
};

QTEST_GUILESS_MAIN(TestParallelAnalysis)
#include "test_parallel_analysis.moc"
