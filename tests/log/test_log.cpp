#include "common/ProgramFolder.h"
#include "lang/TStringLoader.h"
#include "log/LogDateTime.h"
#include "log/LogFile.h"
#include "log/TLog.h"
#include "log/TLogManager.h"
#include "processing/RecordingHost.h"
#include "support/ErrorOf.h"
#include "support/FileSizeLimit.h"
#include "support/Files.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QStringList linesOf(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromUtf8(file.readAll()).split(QStringLiteral("\r\n"));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

const QRegularExpression
    entryPattern(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d,\\d\\d:\\d\\d:\\d\\d,"));

} // namespace

class TestLog : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    RecordingHost m_host;

private Q_SLOTS:
    void initTestCase()
    {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom));
        TLogManager::setMessageSink(errorBoxesOf(&m_host));
    }
    void init() { m_host.steps.clear(); }

    void newFileHeaderThenEntries()
    {
        const QString path = m_dir.path() + QStringLiteral("/new.log");
        TNullLog *log = AcquireLog(path, true);
        log->Log(llInfo, QStringLiteral("Job started by [me]"));
        log->Log(llWarning, QStringLiteral("a, b, c"));
        log->Log(TLogLevel(7), QStringLiteral("odd level"));
        log->Log(llInfo, QStringLiteral("Subject: one\r\nForged,entry\nthree"));
        ReleaseLog(log);
        const QStringList lines = linesOf(path);
        QCOMPARE(lines.size(), 9);
        QCOMPARE(lines[0], QStringLiteral("Quillbrook Log File"));
        QCOMPARE(lines[1], QString());
        QCOMPARE(lines[2], QStringLiteral("date,time,level,message"));
        QVERIFY(lines[3].endsWith(QStringLiteral(",Info,Log file started")));
        QVERIFY(lines[4].endsWith(QStringLiteral(",Info,Quillbrook")));
        QCOMPARE(lines[3].section(QLatin1Char(','), 0, 1),
                 lines[4].section(QLatin1Char(','), 0, 1));
        for (int i = 3; i < lines.size(); ++i)
            QVERIFY2(entryPattern.match(lines[i]).hasMatch(), qPrintable(lines[i]));
        QVERIFY(lines[6].endsWith(QStringLiteral(",Warning,a, b, c")));
        QVERIFY(lines[7].endsWith(QStringLiteral(",**,odd level")));
        QVERIFY(lines[8].endsWith(QStringLiteral(",Info,Subject: one  Forged,entry three")));
        QVERIFY(m_host.steps.isEmpty());
    }

    // Whatever a subject holds, an entry stays one line of text: a reader that breaks
    // lines at any separator, stops at a NUL or prints to a terminal sees each entry whole.
    void controlsInMessagesBecomeSpaces()
    {
        const QString path = m_dir.path() + QStringLiteral("/controls.log");
        TNullLog *log = AcquireLog(path, false);
        QString hostile = QStringLiteral("Subject [\u00e9");
        for (const char16_t control : {0x00, 0x01, 0x07, 0x09, 0x0B, 0x0C, 0x1B, 0x1C, 0x1D, 0x1E,
                                       0x1F, 0x7F, 0x80, 0x85, 0x9F, 0x2028, 0x2029})
            hostile += QChar(control) + QStringLiteral("b");
        hostile += QStringLiteral("\U0001F600]");
        log->Log(llError, hostile);
        log->Log(llInfo, QStringLiteral("next"));
        ReleaseLog(log);

        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QVERIFY(!bytes.contains('\0'));
        const QRegularExpression anyLineBreak(
            QStringLiteral("\r\n|[\n\r\v\f\x1c-\x1e\x85\u2028\u2029]"));
        const QStringList lines = QString::fromUtf8(bytes).chopped(2).split(anyLineBreak);
        QCOMPARE(lines.size(), 7);
        QVERIFY2(lines[5].endsWith(QStringLiteral(",Error,Subject [\u00e9") +
                                   QStringLiteral(" b").repeated(17) +
                                   QStringLiteral("\U0001F600]")),
                 qPrintable(lines[5]));
        QVERIFY(lines[6].endsWith(QStringLiteral(",Info,next")));
    }

    void appendAddsNoHeader()
    {
        const QString path = m_dir.path() + QStringLiteral("/append.log");
        for (int run = 0; run < 2; ++run) {
            TNullLog *log = AcquireLog(path, true);
            log->Log(llInfo, QStringLiteral("End of job"));
            ReleaseLog(log);
        }
        QCOMPARE(linesOf(path).size(), 7);
        TNullLog *fresh = AcquireLog(path, false); // without append the file starts again
        ReleaseLog(fresh);
        QCOMPARE(linesOf(path).size(), 5);
    }

    void namesAndSharing()
    {
        QCOMPARE(TLogManager::normalise(QString()), QString());
        QCOMPARE(TLogManager::normalise(QStringLiteral("quillbrook.log")),
                 qb::writableProgramFolder() + QStringLiteral("quillbrook.log"));
        QCOMPARE(TLogManager::normalise(QStringLiteral("logs/../a.log")),
                 QDir::currentPath() + QStringLiteral("/a.log"));
        QCOMPARE(TLogManager::normalise(QStringLiteral("/tmp//x/./b.log")),
                 QStringLiteral("/tmp/x/b.log"));

        TNullLog *none = AcquireLog(QString(), true);
        QCOMPARE(AcquireLog(QString(), true), none);
        QVERIFY(none->FileName.isEmpty());
        none->Log(llInfo, QStringLiteral("goes nowhere"));

        const QString lower = m_dir.path() + QStringLiteral("/case.log");
        const QString upper = m_dir.path() + QStringLiteral("/CASE.log");
        TNullLog *a = AcquireLog(lower, true);
        TNullLog *b = AcquireLog(upper, true);
        TNullLog *again = AcquireLog(m_dir.path() + QStringLiteral("/./case.log"), true);
        QVERIFY(a != b);
        QCOMPARE(again, a);
        QCOMPARE(a->RefCount, 2);
        ReleaseLog(a);
        QCOMPARE(a->RefCount, 1);
        a->Log(llInfo, QStringLiteral("still open"));
        ReleaseLog(a);
        ReleaseLog(a); // no longer listed: ignored
        TNullLog unknown;
        ReleaseLog(&unknown);
        ReleaseLog(b);
        QCOMPARE(linesOf(lower).size(), 6);
    }

    void bareNameGoesBesideTheProgram()
    {
        const QString expected = qb::writableProgramFolder() + QStringLiteral("qb-test-bare.log");
        QFile::remove(expected);
        TNullLog *log = AcquireLog(QStringLiteral("qb-test-bare.log"), true);
        ReleaseLog(log);
        QVERIFY(QFile::exists(expected));
        QFile::remove(expected);
    }

    // A log goes only to a log or a new file: a file that a settings file names (a
    // shell's start-up file) keeps its bytes, and a FIFO or a device holds nothing up.
    void onlyALogOrANewFileIsWritten()
    {
        QTemporaryDir dir;
        const auto at = [&](const char *name) { return dir.filePath(QLatin1String(name)); };
        const QByteArray script = "export PATH=$HOME/bin:$PATH\n";
        QVERIFY(QFile(at("empty.log")).open(QIODevice::WriteOnly));
        {
            QFile file(at("bashrc"));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(script);
        }
        QVERIFY(::mkfifo(QFile::encodeName(at("fifo")).constData(), 0600) == 0);
        TNullLog *log = AcquireLog(at("old.log"), true);
        ReleaseLog(log);
        QVERIFY(QFile::link(at("old.log"), at("link.log")));

        for (const char *refused : {"bashrc", "fifo", "link.log", ".profile"}) {
            QVERIFY2(errorOf([&] { checkLogFile(at(refused)); })
                         .startsWith(QStringLiteral("Cannot log to ") + at(refused) +
                                     QStringLiteral(": ")),
                     refused);
            m_host.steps.clear();
            // Were the check passed by, the log itself takes nothing and waits for nothing.
            TNullLog *opened = nullptr;
            QThread *opening = QThread::create([&] { opened = AcquireLog(at(refused), true); });
            opening->start();
            // Waits with the event loop running: the failure is shown on this thread.
            const bool ended = QTest::qWaitFor([&] { return opening->isFinished(); }, 10000);
            if (!ended) { // a writer blocked on the FIFO: a reader lets it go
                const int reader =
                    ::open(QFile::encodeName(at("fifo")).constData(), O_RDONLY | O_NONBLOCK);
                opening->wait();
                ::close(reader);
            }
            delete opening;
            QVERIFY2(ended, refused);
            QVERIFY(static_cast<TLog *>(opened)->disabled());
            opened->Log(llInfo, QStringLiteral("Invoice $(touch pwned)"));
            ReleaseLog(opened);
            QCOMPARE(m_host.steps.size(), 1);
            QVERIFY2(m_host.steps[0].contains(QStringLiteral("Cannot log to ")),
                     qPrintable(m_host.steps[0]));
        }
        QCOMPARE(readFile(at("bashrc")), script);
        QVERIFY(!QFile::exists(at(".profile")));
        QCOMPARE(linesOf(at("old.log")).size(), 5);
        QVERIFY(errorOf([] {
                    checkLogFile(QStringLiteral("/dev/null"));
                }).contains(QStringLiteral("not a regular file")));

        // A log, a new file and an empty file are taken; the empty one gets its header.
        for (const char *taken : {"old.log", "new.log", "empty.log"}) {
            QCOMPARE(errorOf([&] { checkLogFile(at(taken)); }), QString());
            TNullLog *opened = AcquireLog(at(taken), true);
            opened->Log(llInfo, QStringLiteral("End of job"));
            ReleaseLog(opened);
        }
        QCOMPARE(linesOf(at("old.log")).size(), 6);
        QCOMPARE(linesOf(at("new.log")).size(), 6);
        QCOMPARE(linesOf(at("empty.log")).first(), logHeaderLine());
    }

    void openFailureDisablesAndTellsOnce()
    {
        TNullLog *log = AcquireLog(QStringLiteral("/dev/full"), false);
        QVERIFY(static_cast<TLog *>(log)->disabled());
        log->Log(llInfo, QStringLiteral("lost"));
        ReleaseLog(log);
        QCOMPARE(m_host.steps.size(), 1);
        QVERIFY2(
            m_host.steps[0].startsWith(QStringLiteral(
                "error box: Error writing to log file /dev/full - logging is now disabled\r\n")),
            qPrintable(m_host.steps[0]));

        TNullLog *missing = AcquireLog(m_dir.path() + QStringLiteral("/no/such/folder.log"), true);
        ReleaseLog(missing);
        QCOMPARE(m_host.steps.size(), 2);
    }

    void writeFailureDisablesAndTellsOnce()
    {
        const QString path = m_dir.path() + QStringLiteral("/full.log");
        TNullLog *log = AcquireLog(path, false);
        const auto written = QFileInfo(path).size();
        {
            FileSizeLimit full(rlim_t(written + 60));
            for (int i = 0; i < 5; ++i)
                log->Log(llInfo, QStringLiteral("entry %1 of a job that fills the disk").arg(i));
        }
        log->Log(llInfo, QStringLiteral("after the disk has room again"));
        ReleaseLog(log);
        QCOMPARE(m_host.steps.size(), 1);
        QVERIFY(m_host.steps[0].startsWith(QStringLiteral("error box: Error writing to log file ") +
                                           path));
        QCOMPARE(linesOf(path).size(), 6); // the header and the one entry that fitted
    }

    void translatedPatterns()
    {
        QTemporaryDir dir;
        const QString languageFile = dir.path() + QStringLiteral("/English.ini");
        {
            QFile file(languageFile);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(
                "[global]\n900=Informaci\xC3\xB3n\n980=%s|%s|%s|%s\n1010=dd/mm/yyyy\n1000=hh:mm\n");
        }
        TStringLoader loader(languageFile);
        const QString path = m_dir.path() + QStringLiteral("/translated.log");
        TNullLog *log = AcquireLog(path, false);
        log->Log(llInfo, QStringLiteral("done"));
        ReleaseLog(log);
        const QString last = linesOf(path).last();
        QVERIFY2(QRegularExpression(
                     QStringLiteral("^\\d\\d/\\d\\d/\\d{4}\\|\\d\\d:\\d\\d\\|Información\\|done$"))
                     .match(last)
                     .hasMatch(),
                 qPrintable(last));
    }

    // Every entry looks its texts up, and the loader adds the missing ones to its file:
    // a language file that cannot take them leaves the log as it is.
    void unwritableLanguageFileKeepsTheLog()
    {
        QTemporaryDir dir;
        TStringLoader loader(dir.filePath(QStringLiteral("Languages/English.ini")));
        QStringList warnings;
        loader.setWriteWarning([&warnings](const QString &text) { warnings << text; });
        QVERIFY(QDir(dir.filePath(QStringLiteral("Languages"))).removeRecursively());
        const QString path = m_dir.path() + QStringLiteral("/language.log");
        TNullLog *log = AcquireLog(path, false);
        log->Log(llInfo, QStringLiteral("first"));
        log->Log(llWarning, QStringLiteral("second"));
        ReleaseLog(log);
        QVERIFY(m_host.steps.isEmpty());
        const QStringList lines = linesOf(path);
        QCOMPARE(lines.size(), 7);
        QVERIFY(lines[6].endsWith(QStringLiteral(",Warning,second")));
        QCOMPARE(warnings.size(), 1);
    }

    void brokenTranslationDisablesTheLog()
    {
        QTemporaryDir dir;
        const QString languageFile = dir.path() + QStringLiteral("/English.ini");
        {
            QFile file(languageFile);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("[global]\n980=%d,%s,%s,%s,%s\n");
        }
        TStringLoader loader(languageFile);
        TNullLog *log = AcquireLog(m_dir.path() + QStringLiteral("/broken.log"), false);
        log->Log(llInfo, QStringLiteral("first"));
        log->Log(llInfo, QStringLiteral("second"));
        ReleaseLog(log);
        QCOMPARE(m_host.steps.size(), 1);
        QVERIFY2(m_host.steps[0].contains(QStringLiteral("%d needs a whole number")),
                 qPrintable(m_host.steps[0]));
    }

    void dateAndTimePatterns()
    {
        const QDateTime moment(QDate(2026, 7, 14), QTime(9, 5, 31));
        const QLocale english(QLocale::English, QLocale::UnitedStates);
        QCOMPARE(formatLogDateTime(QStringLiteral("yyyy-mm-dd"), moment, english),
                 QStringLiteral("2026-07-14"));
        QCOMPARE(formatLogDateTime(QStringLiteral("hh:nn:ss"), moment, english),
                 QStringLiteral("09:05:31"));
        QCOMPARE(formatLogDateTime(QStringLiteral("hh:mm"), moment, english),
                 QStringLiteral("09:05"));
        QCOMPARE(
            formatLogDateTime(QStringLiteral("dd/mm/yyyy at hh"), moment, QLocale(QLocale::German)),
            QStringLiteral("14.07.2026 at 09"));
        QCOMPARE(formatLogDateTime(QStringLiteral("hh:nn"), moment, QLocale(QLocale::Finnish)),
                 QStringLiteral("09.05"));
    }

    void twoThreadsShareOneLog()
    {
        const QString path = m_dir.path() + QStringLiteral("/shared.log");
        TNullLog *first = AcquireLog(path, false);
        TNullLog *second = AcquireLog(path, true);
        QCOMPARE(first, second);
        auto writer = [](TNullLog *log, QChar mark) {
            return QThread::create([log, mark] {
                for (int i = 0; i < 500; ++i)
                    log->Log(llInfo, QString(200, mark));
            });
        };
        QThread *a = writer(first, QLatin1Char('a'));
        QThread *b = writer(second, QLatin1Char('b'));
        a->start();
        b->start();
        QVERIFY(a->wait(30000) && b->wait(30000));
        delete a;
        delete b;
        ReleaseLog(first);
        ReleaseLog(second);
        const QStringList lines = linesOf(path);
        QCOMPARE(lines.size(), 1005);
        for (int i = 5; i < lines.size(); ++i) {
            const QString message = lines[i].section(QLatin1Char(','), 3);
            QVERIFY(message == QString(200, QLatin1Char('a')) ||
                    message == QString(200, QLatin1Char('b')));
        }
    }
};

QTEST_GUILESS_MAIN(TestLog)
#include "test_log.moc"
