#include "AttachmentTable.h"
#include "Selection.h"
#include "TerminalText.h"
#include "common/AutomationDate.h"
#include "mailstore/AttachmentList.h"
#include "settings/TSettings.h"
#include "support/ChildLimits.h"
#include "support/Files.h"
#include "support/TerminalProcess.h"

#include <QCommandLineParser>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <sys/file.h>
#include <sys/stat.h>

namespace {

struct Result
{
    int status = -1;
    QString out;
    QString err;
};

// status is -1 when the tool crashed, was killed or did not end within a minute.
Result runCli(
    const QStringList &arguments, const std::function<void(QProcess &)> &setUp = [](QProcess &) {})
{
    QProcess process;
    setUp(process);
    process.start(QStringLiteral(QB_CLI_PATH), arguments);
    if (!process.waitForFinished(60000))
        process.kill();
    process.waitForFinished();
    const bool ended = process.exitStatus() == QProcess::NormalExit;
    return {ended ? process.exitCode() : -1, QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

void writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

QByteArray emailWith(const QByteArray &subject, const QByteArray &filename)
{
    return "From: Bob <bob@example.org>\nSubject: " + subject +
           "\nContent-Type: multipart/mixed; boundary=b\n\n--b\nContent-Type: text/plain\n\nhi\n"
           "--b\nContent-Type: application/octet-stream; name=\"" +
           filename + "\"\n\nx\n--b--\n";
}

// A Maildir of the demo mail that the tools' maker writes.
void makeDemoMaildir(const QString &root, int emails)
{
    QProcess maker;
    maker.start(QStringLiteral("python3"),
                {qEnvironmentVariable("QB_TEST_TOOLS") + QStringLiteral("/make_maildir.py"), root,
                 QStringLiteral("--emails"), QString::number(emails),
                 QStringLiteral("--average-kb"), QStringLiteral("2")});
    QVERIFY(maker.waitForFinished(120000));
    QCOMPARE(maker.exitCode(), 0);
}

// Every file below root with its size and modification time: what a change would alter.
QStringList filesOf(const QString &root)
{
    QStringList files;
    QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        files << QStringLiteral("%1 %2 %3")
                     .arg(info.filePath())
                     .arg(info.size())
                     .arg(info.lastModified().toMSecsSinceEpoch());
    }
    files.sort();
    return files;
}

// Rows that the analysis of a whole store finds.
int attachmentCount(const QString &store)
{
    const Result r = runCli({QStringLiteral("analyze"), QStringLiteral("--store"), store,
                             QStringLiteral("--folder"), QStringLiteral("Email Folders\\Mail"),
                             QStringLiteral("--csv")});
    return r.status == 0 ? int(r.out.count(QStringLiteral("\r\n"))) - 1 : -1;
}

} // namespace

class TestCli : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    QString m_store;

private Q_SLOTS:
    void initTestCase()
    {
        m_store = m_dir.path() + QStringLiteral("/Mail");
        for (const char *sub : {"cur", "new", "tmp", ".Projects/cur", ".Projects/new"})
            QDir().mkpath(m_store + QLatin1Char('/') + QLatin1String(sub));
        writeFile(m_store + QStringLiteral("/cur/1.a:2,S"), emailWith("Budget, final", "b.xls"));
        writeFile(m_store + QStringLiteral("/new/2.b"), emailWith("\"Quoted\"", "a.pdf"));
        writeFile(m_store + QStringLiteral("/.Projects/cur/3.c:2,"), emailWith("Plan", "c.zip"));
    }

    void csvOfTheInbox()
    {
        const Result r = runCli({QStringLiteral("analyze"), QStringLiteral("--store"), m_store,
                                 QStringLiteral("--csv")});
        QCOMPARE(r.status, 0);
        const QStringList lines = r.out.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 3);
        // The columns of the grid in their first order; Attachment size, which came later,
        // last, so that readers of the earlier CSV find every field where it was.
        QCOMPARE(lines[0],
                 QStringLiteral("Subject,Folder,Size,Filename,Type,Date,From,Attachment size"));
        QVERIFY2(lines[1].startsWith(QStringLiteral("\"Budget, final\",Inbox\\,1KB,b.xls,xls,")),
                 qPrintable(lines[1]));
        QVERIFY2(lines[2].startsWith(QStringLiteral("\"\"\"Quoted\"\"\",Inbox\\,1KB,a.pdf,pdf,")),
                 qPrintable(lines[2]));
        QVERIFY(lines[2].endsWith(QStringLiteral(",Bob,1KB")));
        QVERIFY2(r.err.isEmpty(), qPrintable(r.err));
    }

    void folderPathSortAndTable()
    {
        const Result r = runCli({QStringLiteral("analyze"), QStringLiteral("--store"), m_store,
                                 QStringLiteral("--folder"), QStringLiteral("Email Folders\\Mail"),
                                 QStringLiteral("--sort"), QStringLiteral("filename:desc")});
        QCOMPARE(r.status, 0);
        const QStringList lines = r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 4);
        QVERIFY(lines[0].startsWith(QStringLiteral("Subject ")));
        QVERIFY(lines[1].contains(QStringLiteral("Email Folders\\Mail\\Projects\\")));
        QVERIFY(lines[1].contains(QStringLiteral("c.zip")));
        QVERIFY(lines[3].contains(QStringLiteral("a.pdf")));
        // Columns line up.
        QCOMPARE(lines[1].indexOf(QStringLiteral("Email Folders")),
                 lines[0].indexOf(QStringLiteral("Folder")));
    }

    // Each row tells its attachment's decoded size apart from its email's; the column sorts
    // by it, the table shows it after Size and the CSV last.
    void attachmentSizeColumn()
    {
        const QString store = m_dir.path() + QStringLiteral("/Sizes");
        const auto email = [](const QByteArray &name, const QByteArray &encoding,
                              const QByteArray &body, qsizetype padding) {
            return "From: Ann <ann@example.org>\nSubject: " + name +
                   "\nContent-Type: multipart/mixed; boundary=b\n\n--b\nContent-Type: "
                   "text/plain\n\n" +
                   QByteArray(padding, 't') +
                   "\n--b\nContent-Type: application/octet-stream; name=\"" + name +
                   "\"\nContent-Transfer-Encoding: " + encoding + "\n\n" + body + "\n--b--\n";
        };
        QByteArray base64;
        const QByteArray encoded = QByteArray(5000, 'q').toBase64();
        for (qsizetype at = 0; at < encoded.size(); at += 76)
            base64 += encoded.mid(at, 76) + '\n';
        // 300,000 bytes in quoted-printable: escapes and soft line breaks count as decoded.
        QByteArray quoted;
        for (int line = 0; line < 6000; ++line)
            quoted += QByteArray(48, 'a') + "=3D=0A=\n";
        // The email with the smallest attachment is the largest: the sizes differ by column.
        writeFile(store + QStringLiteral("/cur/1.a:2,S"),
                  email("small.bin", "base64", base64, 3'000'000));
        writeFile(store + QStringLiteral("/cur/2.b:2,S"),
                  email("middle.txt", "quoted-printable", quoted, 0));
        writeFile(store + QStringLiteral("/cur/3.c:2,S"),
                  email("large.bin", "8bit", QByteArray(2'000'000, 'z'), 0));

        const Result csv = runCli({QStringLiteral("analyze"), QStringLiteral("--store"), store,
                                   QStringLiteral("--csv"), QStringLiteral("--sort"),
                                   QStringLiteral("attachment-size")});
        QCOMPARE(csv.status, 0);
        const QStringList rows = csv.out.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
        QCOMPARE(rows.size(), 4);
        QVERIFY2(rows[1].startsWith(QStringLiteral("small.bin,Inbox\\,3MB,small.bin,bin,")) &&
                     rows[1].endsWith(QStringLiteral(",Ann,5KB")),
                 qPrintable(rows[1]));
        QVERIFY2(rows[2].startsWith(QStringLiteral("middle.txt,Inbox\\,336KB,")) &&
                     rows[2].endsWith(QStringLiteral(",Ann,300KB")),
                 qPrintable(rows[2]));
        QVERIFY2(rows[3].startsWith(QStringLiteral("large.bin,Inbox\\,2MB,")) &&
                     rows[3].endsWith(QStringLiteral(",Ann,2MB")),
                 qPrintable(rows[3]));

        for (const QString &name :
             {QStringLiteral("Attachment size:desc"), QStringLiteral("ATTACHMENTSIZE:desc")}) {
            const Result table = runCli({QStringLiteral("analyze"), QStringLiteral("--store"),
                                         store, QStringLiteral("--sort"), name});
            QCOMPARE(table.status, 0);
            const QStringList lines = table.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
            QCOMPARE(lines.size(), 4);
            QVERIFY2(lines[0].contains(QRegularExpression(
                         QStringLiteral("^Subject +Folder +Size +Attachment size +Filename "))),
                     qPrintable(lines[0]));
            QVERIFY(lines[1].startsWith(QStringLiteral("large.bin ")));
            QVERIFY(lines[3].startsWith(QStringLiteral("small.bin ")));
            // Sizes line up on the right, under the heading's end.
            const qsizetype end = lines[0].indexOf(QStringLiteral("Attachment size")) + 15;
            for (int i = 1; i < 4; ++i)
                QVERIFY2(lines[i].indexOf(QStringLiteral("B  "), end - 2) == end - 1,
                         qPrintable(lines[i]));
        }
    }

    void folderById()
    {
        const QString id = QDir::cleanPath(m_store) + QStringLiteral("//Projects");
        const Result r = runCli({QStringLiteral("analyze"), QStringLiteral("--store"), m_store,
                                 QStringLiteral("--folder-id"), id, QStringLiteral("--csv")});
        QCOMPARE(r.status, 0);
        QVERIFY2(r.out.contains(QStringLiteral("Plan,Projects\\,1KB,c.zip")), qPrintable(r.out));
    }

    void badInput_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");
        QTest::newRow("no command") << QStringList() << "no command given";
        QTest::newRow("unknown command")
            << QStringList{"frobnicate"} << "unknown command frobnicate";
        QTest::newRow("unknown option") << QStringList{"analyze", "--bogus"} << "bogus";
        QTest::newRow("unknown column")
            << QStringList{"analyze", "--store", "STORE", "--sort", "Colour"}
            << "Unknown column Colour";
        QTest::newRow("missing store")
            << QStringList{"analyze", "--store", "/nonexistent/Mail"}
            << "Cannot open the mail store /nonexistent/Mail: it does not exist";
        QTest::newRow("unknown folder")
            << QStringList{"analyze", "--store", "STORE", "--folder", "Email Folders\\Nope"}
            << "No mail folder has the path Email Folders\\Nope";
        QTest::newRow("unknown folder id")
            << QStringList{"analyze", "--store", "STORE", "--folder-id", "x"}
            << "No mail folder has the entry id x";
        QTest::newRow("no inbox")
            << QStringList{"analyze", "--store", "STORE/.Projects/cur"}
            << "Warning: Cannot locate default Inbox - mail items cannot be located. Exiting";
    }
    void badInput()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        arguments.replaceInStrings(QStringLiteral("STORE"), m_store);
        const Result r = runCli(arguments);
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.contains(message), qPrintable(r.err));
        if (message.startsWith(QStringLiteral("no command")))
            QVERIFY(r.err.contains(QStringLiteral("Usage: quillbrook-cli COMMAND")));
        else
            QCOMPARE(r.err.count(QLatin1Char('\n')), 1); // one line, no trace
    }

    void jobCommands()
    {
        QTemporaryDir dir;
        const QString store = dir.path() + QStringLiteral("/Mail");
        for (const char *sub : {"cur", "new", "tmp"})
            QDir().mkpath(store + QLatin1Char('/') + QLatin1String(sub));
        writeFile(store + QStringLiteral("/cur/1.a:2,S"), emailWith("Budget", "b.xls"));
        writeFile(store + QStringLiteral("/cur/2.b:2,S"), emailWith("Plan", "p.pdf"));
        const QStringList base = {QStringLiteral("--store"), store};

        Result r = runCli(QStringList{QStringLiteral("detach")} + base +
                          QStringList{QStringLiteral("--all")});
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.contains(QStringLiteral("The folder to save resumes to is blank")),
                 qPrintable(r.err));
        r = runCli(QStringList{QStringLiteral("delete")} + base);
        QCOMPARE(r.status, 1);
        QVERIFY(r.err.contains(QStringLiteral("Nothing is selected")));
        r = runCli(QStringList{QStringLiteral("delete")} + base +
                   QStringList{QStringLiteral("--before"), QStringLiteral("yesterday")});
        QCOMPARE(r.status, 1);

        const QString out = dir.path() + QStringLiteral("/out");
        const QString log = dir.path() + QStringLiteral("/job.log");
        r = runCli(QStringList{QStringLiteral("detach")} + base +
                   QStringList{QStringLiteral("--type"), QStringLiteral("XLS"),
                               QStringLiteral("--to"), out, QStringLiteral("--log"), log});
        QCOMPARE(r.status, 0);
        QVERIFY2(r.err.contains(QStringLiteral("1 of 2 attachment(s) selected")),
                 qPrintable(r.err));
        QVERIFY(r.err.endsWith(QStringLiteral("Complete. 1 attachment(s) processed\n")));
        QVERIFY(QFile::exists(out + QStringLiteral("/Inbox/Budget.xls")));
        QVERIFY(QFile::exists(log));

        // Without a terminal nobody can be asked: the delete goes ahead.
        r = runCli(QStringList{QStringLiteral("delete")} + base +
                   QStringList{QStringLiteral("--subject"), QStringLiteral("plan")});
        QCOMPARE(r.status, 0);
        r = runCli(QStringList{QStringLiteral("analyze")} + base +
                   QStringList{QStringLiteral("--csv")});
        QCOMPARE(r.out.count(QStringLiteral("\r\n")),
                 1); // the header alone: both attachments are gone
    }

    void jobStoppedByAnErrorIsNoCancel()
    {
        QTemporaryDir dir;
        const QString store = dir.path() + QStringLiteral("/Mail");
        for (const char *sub : {"cur", "new", "tmp"})
            QDir().mkpath(store + QLatin1Char('/') + QLatin1String(sub));
        writeFile(store + QStringLiteral("/cur/1.a:2,S"), emailWith("Budget", "b.xls"));
        // Another program holds the store, and the job does not wait for it.
        QFile lock(store + QStringLiteral("/quillbrook.lock"));
        QVERIFY(lock.open(QIODevice::ReadWrite));
        QCOMPARE(::flock(lock.handle(), LOCK_EX | LOCK_NB), 0);
        const QString log = dir.path() + QStringLiteral("/job.log");
        const Result r = runCli({QStringLiteral("detach"), QStringLiteral("--store"), store,
                                 QStringLiteral("--all"), QStringLiteral("--to"),
                                 dir.path() + QStringLiteral("/out"), QStringLiteral("--log"), log,
                                 QStringLiteral("--lock-timeout"), QStringLiteral("0")});
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.contains(QStringLiteral("Stopped by an error: Another program is changing "
                                               "the mail store")),
                 qPrintable(r.err));
        QFile logFile(log);
        QVERIFY(logFile.open(QIODevice::ReadOnly));
        const QByteArray entries = logFile.readAll();
        QVERIFY2(entries.trimmed().split('\n').last().contains(",End of job"), entries.constData());
    }

    void settingsFiles()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("job.qbk"));
        Result r =
            runCli({QStringLiteral("settings"), QStringLiteral("write"), file,
                    QStringLiteral("from folder name=Email Folders\\Mail\\Projects"),
                    QStringLiteral("get from default folder=0"),
                    QStringLiteral("Save folder=") + dir.path(),
                    QStringLiteral("msgDestination=tab\there"), QStringLiteral("First number=-3"),
                    QStringLiteral("Skarvell filter=Email Folders\\Maildir\\travel\\reports")});
        QCOMPARE(r.status, 0);
        r = runCli({QStringLiteral("settings"), QStringLiteral("show"), file});
        QCOMPARE(r.status, 0);
        const QStringList lines = r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 14);
        QCOMPARE(lines[0], QStringLiteral("format version=7"));
        // Values are taken as they are given: a backslash is a backslash.
        QCOMPARE(lines[1],
                 QStringLiteral("Skarvell filter=Email Folders\\Maildir\\travel\\reports"));
        TSettings written;
        written.loadFromFile(file);
        QCOMPARE(written.skarvellFilter, QStringLiteral("Email Folders\\Maildir\\travel\\reports"));
        QCOMPARE(lines[3], QStringLiteral("First number=-3"));
        QCOMPARE(lines[6], QStringLiteral("msgDestination=tab\\x09here")); // shown, not sent
        QCOMPARE(lines[9], QStringLiteral("get from default folder=0"));
        QCOMPARE(lines[13], QStringLiteral("log filename=quillbrook.log"));

        // The file chooses the folder: only Projects is walked; --folder would override it.
        r = runCli({QStringLiteral("analyze"), QStringLiteral("--store"), m_store,
                    QStringLiteral("--settings"), file, QStringLiteral("--csv")});
        QCOMPARE(r.status, 0);
        QCOMPARE(r.out.count(QStringLiteral("\r\n")), 2);
        QVERIFY(r.out.contains(QStringLiteral("Email Folders\\Mail\\Projects\\")));

        for (const QStringList &bad :
             {QStringList{QStringLiteral("write"), file, QStringLiteral("Include subject=yes")},
              QStringList{QStringLiteral("write"), file, QStringLiteral("nonsense")},
              QStringList{QStringLiteral("show"), dir.filePath(QStringLiteral("missing.qbk"))},
              QStringList{QStringLiteral("write"), QStringLiteral("/nonexistent/x.qbk")}}) {
            r = runCli(QStringList{QStringLiteral("settings")} + bad);
            QCOMPARE(r.status, 1);
        }
        QVERIFY(r.err.contains(QStringLiteral("Cannot create file /nonexistent/x.qbk")));
        QFile junk(dir.filePath(QStringLiteral("junk.qbk")));
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write("not a settings file");
        junk.close();
        r = runCli({QStringLiteral("analyze"), QStringLiteral("--store"), m_store,
                    QStringLiteral("--settings"), junk.fileName()});
        QCOMPARE(r.status, 1);
        QVERIFY(r.err.contains(QStringLiteral("Invalid stream format")));
    }

    void settingsShowWriteRoundTrip()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("texts.qbk"));
        TSettings original;
        original.setRegistryDefaults();
        original.saveFolder = QStringLiteral("C:\\new\\Données\\");
        original.fromFolderName = QStringLiteral("Email Folders\\Mail \"quoted\"\\a\\\\b");
        original.msgDestination = QStringLiteral("two\r\nlines\tand a tab \\t \\012 ü€😀");
        original.logFilename = QStringLiteral("\\");
        original.saveToFile(file);

        const auto show = [&] {
            return runCli({QStringLiteral("settings"), QStringLiteral("show"),
                           QStringLiteral("--escaped"), file});
        };
        const Result first = show();
        QCOMPARE(first.status, 0);
        const QString shown = first.out;
        // Two cycles: a text that changed on the first would grow on every one.
        for (int cycle = 0; cycle < 2; ++cycle) {
            QStringList assignments = shown.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
            QCOMPARE(assignments.size(), 14);
            assignments.removeFirst(); // the format version is not written
            const Result r = runCli(QStringList{QStringLiteral("settings"), QStringLiteral("write"),
                                                QStringLiteral("--escaped"), file} +
                                    assignments);
            QCOMPARE(r.status, 0);
            QCOMPARE(show().out, shown);
        }
        TSettings loaded;
        loaded.loadFromFile(file);
        QCOMPARE(loaded.saveFolder, original.saveFolder);
        QCOMPARE(loaded.fromFolderName, original.fromFolderName);
        QCOMPARE(loaded.msgDestination, original.msgDestination);
        QCOMPARE(loaded.logFilename, original.logFilename);

        // An escape that cannot be read is refused, naming the item; the file stays.
        for (const QString &bad :
             {QStringLiteral("Save folder=C:\\"), QStringLiteral("Save folder=\\12x"),
              QStringLiteral("Save folder=\\377")}) {
            const Result r = runCli({QStringLiteral("settings"), QStringLiteral("write"), file,
                                     QStringLiteral("--escaped"), bad});
            QCOMPARE(r.status, 1);
            QVERIFY2(r.err.startsWith(QStringLiteral("quillbrook-cli: Save folder: ")),
                     qPrintable(r.err));
        }
        QCOMPARE(show().out, shown);
        // Without --escaped the same text is a value like any other.
        QCOMPARE(runCli({QStringLiteral("settings"), QStringLiteral("write"), file,
                         QStringLiteral("Save folder=C:\\")})
                     .status,
                 0);
        TSettings literal;
        literal.loadFromFile(file);
        QCOMPARE(literal.saveFolder, QStringLiteral("C:\\"));

        const Result help = runCli({QStringLiteral("settings"), QStringLiteral("--help")});
        QCOMPARE(help.status, 0);
        QVERIFY(help.out.contains(QStringLiteral("\\\\ is a backslash")));
        QVERIFY(help.out.contains(QStringLiteral("--escaped")));
    }

    void selectionFilters()
    {
        QCommandLineParser parser;
        cli::Selection::addOptions(parser);
        QVERIFY(parser.parse(
            {QStringLiteral("x"), QStringLiteral("--type"), QStringLiteral("pdf,DOCX"),
             QStringLiteral("--min-size"), QStringLiteral("1000"), QStringLiteral("--after"),
             QStringLiteral("2024-01-01"), QStringLiteral("--from"), QStringLiteral("ALICE")}));
        const cli::Selection selection = cli::Selection::fromOptions(parser);
        const auto make = [](const QString &type, qint64 size, QDate date, const QString &from) {
            return TAttach{QStringLiteral("s"),
                           from,
                           QStringLiteral("Inbox\\"),
                           size,
                           QStringLiteral("f.") + type,
                           type,
                           qb::toAutomationDate(QDateTime(date, QTime(12, 0))),
                           QString(),
                           1,
                           QString()};
        };
        QVERIFY(selection.matches(
            make(QStringLiteral("PDF"), 1000, QDate(2024, 1, 2), QStringLiteral("Alice M"))));
        QVERIFY(!selection.matches(
            make(QStringLiteral("xls"), 1000, QDate(2024, 1, 2), QStringLiteral("Alice"))));
        QVERIFY(!selection.matches(
            make(QStringLiteral("pdf"), 999, QDate(2024, 1, 2), QStringLiteral("Alice"))));
        QVERIFY(!selection.matches(
            make(QStringLiteral("pdf"), 1000, QDate(2024, 1, 1), QStringLiteral("Alice"))));
        QVERIFY(!selection.matches(
            make(QStringLiteral("pdf"), 1000, QDate(2024, 1, 2), QStringLiteral("Bob"))));
        QVERIFY(!cli::Selection().matches(
            make(QStringLiteral("pdf"), 1, QDate(2024, 1, 2), QString())));

        // The attachment's own size, the folder alone (not its subfolders) and the last day.
        QCommandLineParser more;
        cli::Selection::addOptions(more);
        QVERIFY(more.parse({QStringLiteral("x"), QStringLiteral("--min-attachment-size"),
                            QStringLiteral("500"), QStringLiteral("--in-folder"),
                            QStringLiteral("Inbox"), QStringLiteral("--before"),
                            QStringLiteral("2024-02-01")}));
        const cli::Selection narrow = cli::Selection::fromOptions(more);
        const auto row = [](const QString &folder, qint64 attachmentSize, QDate date) {
            return TAttach{QStringLiteral("s"),
                           QStringLiteral("a"),
                           folder,
                           100000,
                           QStringLiteral("f.pdf"),
                           QStringLiteral("pdf"),
                           qb::toAutomationDate(QDateTime(date, QTime(23, 59))),
                           QString(),
                           1,
                           QString(),
                           attachmentSize};
        };
        QVERIFY(narrow.matches(row(QStringLiteral("Inbox\\"), 500, QDate(2024, 1, 31))));
        QVERIFY(!narrow.matches(row(QStringLiteral("Inbox\\"), 499, QDate(2024, 1, 31))));
        QVERIFY(!narrow.matches(row(QStringLiteral("Inbox\\Work\\"), 500, QDate(2024, 1, 31))));
        QVERIFY(!narrow.matches(row(QStringLiteral("Inbox\\"), 500, QDate(2024, 2, 1))));
    }

    // --log with a bare name writes where the user stands, not beside the program.
    void relativeLogGoesToTheWorkingDirectory()
    {
        QTemporaryDir dir;
        const QString store = dir.path() + QStringLiteral("/Mail");
        for (const char *sub : {"/cur", "/new", "/tmp"})
            QDir().mkpath(store + QLatin1String(sub));
        writeFile(store + QStringLiteral("/cur/1.a:2,S"), emailWith("Budget", "b.xls"));
        const QString name =
            QStringLiteral("qb-relative-%1.log").arg(QCoreApplication::applicationPid());
        const QString besideProgram = QFileInfo(QStringLiteral(QB_CLI_PATH)).dir().filePath(name);
        const QString dataFolder = dir.filePath(QStringLiteral("data"));
        const Result r =
            runCli({QStringLiteral("save"), QStringLiteral("--store"), store,
                    QStringLiteral("--all"), QStringLiteral("--to"),
                    dir.filePath(QStringLiteral("out")), QStringLiteral("--log"), name},
                   [&](QProcess &p) {
                       p.setWorkingDirectory(dir.path());
                       QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
                       environment.insert(QStringLiteral("XDG_DATA_HOME"), dataFolder);
                       p.setProcessEnvironment(environment);
                   });
        QCOMPARE(r.status, 0);
        const bool strayed = QFile::exists(besideProgram);
        QFile::remove(besideProgram);
        QVERIFY(!strayed);
        QVERIFY(!QDir(dataFolder).exists());
        QFile log(dir.filePath(name));
        QVERIFY(log.open(QIODevice::ReadOnly));
        QVERIFY(log.readAll().contains("Copying document [b.xls]"));

        const Result help = runCli({QStringLiteral("save"), QStringLiteral("--help")});
        QVERIFY(help.out.simplified().contains(
            QStringLiteral("a relative path is taken from the working directory")));
    }

    // A log is added to only when it is one: a settings file (or --log) that names any
    // other file, a FIFO among them, stops the job before it starts, in one line.
    void logThatIsNoLogStopsTheJob()
    {
        QTemporaryDir dir;
        const QString store = dir.filePath(QStringLiteral("Mail"));
        for (const char *sub : {"/cur", "/new", "/tmp"})
            QDir().mkpath(store + QLatin1String(sub));
        writeFile(store + QStringLiteral("/cur/1.a:2,S"),
                  emailWith("Invoice $(touch pwned)", "b.xls"));
        const QStringList before = filesOf(store);
        const QString bashrc = dir.filePath(QStringLiteral("bashrc"));
        writeFile(bashrc, "alias ll='ls -l'\n");
        const QString fifo = dir.filePath(QStringLiteral("fifo"));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        const QString out = dir.filePath(QStringLiteral("out"));
        const QString settings = dir.filePath(QStringLiteral("job.qbk"));
        QCOMPARE(runCli({QStringLiteral("settings"), QStringLiteral("write"), settings,
                         QStringLiteral("log to file=1"), QStringLiteral("log filename=") + bashrc,
                         QStringLiteral("Save folder=") + out})
                     .status,
                 0);
        const QStringList job = {QStringLiteral("detach"), QStringLiteral("--store"), store,
                                 QStringLiteral("--all")};
        for (const QStringList &choice :
             {QStringList{QStringLiteral("--settings"), settings},
              QStringList{QStringLiteral("--to"), out, QStringLiteral("--log"), bashrc},
              QStringList{QStringLiteral("--to"), out, QStringLiteral("--log"), fifo}}) {
            const Result r = runCli(job + choice);
            QCOMPARE(r.status, 1);
            QVERIFY2(r.err.startsWith(QStringLiteral("quillbrook-cli: Cannot log to ")) &&
                         r.err.count(QLatin1Char('\n')) == 1,
                     qPrintable(r.err));
        }
        QCOMPARE(readFile(bashrc), QByteArray("alias ll='ls -l'\n"));
        QCOMPARE(filesOf(store), before);
        QVERIFY(!QFileInfo::exists(out));
        const Result relink = runCli({QStringLiteral("relink"), store, dir.path(),
                                      QStringLiteral("--log"), fifo, QStringLiteral("--yes")});
        QCOMPARE(relink.status, 1);
    }

    // Past a file size limit (ulimit -f) a write fails and its attachment counts as
    // failed; the signal the limit raises does not end the job.
    void fileSizeLimitFailsOnlyTheAttachment()
    {
        QTemporaryDir dir;
        const QString store = dir.path() + QStringLiteral("/Mail");
        for (const char *sub : {"/cur", "/new", "/tmp"})
            QDir().mkpath(store + QLatin1String(sub));
        QByteArray content;
        for (int i = 0; content.size() < 200000; ++i)
            content += QByteArray::number(i * 7919) + ' ';
        QByteArray encoded;
        const QByteArray base64 = content.toBase64();
        for (qsizetype i = 0; i < base64.size(); i += 76)
            encoded += base64.mid(i, 76) + '\n';
        writeFile(store + QStringLiteral("/cur/1.a:2,S"),
                  "From: Bob <bob@example.org>\nSubject: Big\n"
                  "Content-Type: multipart/mixed; boundary=b\n\n--b\nContent-Type: text/plain\n\n"
                  "hi\n--b\nContent-Type: application/octet-stream; name=\"big.bin\"\n"
                  "Content-Transfer-Encoding: base64\n\n" +
                      encoded + "--b--\n");
        writeFile(store + QStringLiteral("/cur/2.b:2,S"), emailWith("Small", "small.bin"));
        const QString out = dir.filePath(QStringLiteral("out"));
        const QString log = dir.filePath(QStringLiteral("job.log"));

        const Result r = runCli({QStringLiteral("detach"), QStringLiteral("--store"), store,
                                 QStringLiteral("--all"), QStringLiteral("--to"), out,
                                 QStringLiteral("--log"), log},
                                [](QProcess &p) {
                                    limitChild(p, {{RLIMIT_FSIZE, 64 * 1024}});
                                });
        QCOMPARE(r.status, 3);
        QVERIFY2(r.err.endsWith(QStringLiteral(
                     "Complete. 2 attachment(s) processed, 1 failed - see the log\n")),
                 qPrintable(r.err));
        QFile logFile(log);
        QVERIFY(logFile.open(QIODevice::ReadOnly));
        const QString entries = QString::fromUtf8(logFile.readAll());
        QVERIFY2(entries.contains(QStringLiteral(
                     ",Error,Could not process attachment [big.bin] of email [Inbox\\Big]: ")),
                 qPrintable(entries));
        QVERIFY(entries.contains(QStringLiteral("File too large")));
        // The small one is detached; nothing half-written stays; the big one stays in its email.
        QCOMPARE(QDir(out + QStringLiteral("/Inbox")).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QStringLiteral("Small.bin")});
        const Result left = runCli(
            {QStringLiteral("analyze"), QStringLiteral("--store"), store, QStringLiteral("--csv")});
        QCOMPARE(left.out.count(QStringLiteral("\r\n")), 2);
        QVERIFY(left.out.contains(QStringLiteral(",big.bin,")));
    }

    void tablesOfAList()
    {
        AttachmentList list;
        const auto add = [&list](const QString &subject, const QString &filename) {
            list.append(subject, std::make_shared<const TAttach>(TAttach{
                                     subject, QStringLiteral("F"), QStringLiteral("Inbox\\"), 0,
                                     filename, QString(), 0, QString(), 1, QString()}));
        };
        add(QStringLiteral("two\r\nlines"), QStringLiteral("x"));
        // 58 characters, then three that take two UTF-16 units each: the cut falls
        // between the first two, never inside one.
        const QString faces = QStringLiteral("\U0001F600\U0001F601\U0001F602");
        add(QString(58, QLatin1Char('s')) + faces, QStringLiteral("\U0001F600.png"));
        const auto text = [&list](bool csv) {
            QString out;
            const table::LineSink collect = [&out](const QString &line) { out += line; };
            if (csv)
                table::writeCsv(list, collect);
            else
                table::writeAligned(list, collect);
            return out;
        };
        QVERIFY(text(true).contains(QStringLiteral("\"two\r\nlines\",Inbox\\,Unknown,x,,")));
        QVERIFY(text(true).contains(QString(58, QLatin1Char('s')) + faces + QLatin1Char(',')));

        const QStringList lines = text(false).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines[1].startsWith(QStringLiteral("two\\x0D\\x0Alines ")));
        QVERIFY(lines[2].startsWith(QString(58, QLatin1Char('s')) + faces.left(2) +
                                    QStringLiteral("\u2026  Inbox")));
        // Columns line up by characters, a surrogate pair being one.
        const qsizetype folderColumn = lines[0].indexOf(QStringLiteral("Folder"));
        QCOMPARE(folderColumn, table::cellWidth + 2);
        for (int i = 1; i < 3; ++i) {
            const qsizetype folder = lines[i].indexOf(QStringLiteral("Inbox\\"));
            QCOMPARE(cli::characterCount(QStringView(lines[i]).left(folder)), folderColumn);
        }
    }

    void terminalTextCapsLongTexts()
    {
        const QString face = QStringLiteral("\U0001F600");
        const QString a58(58, QLatin1Char('a'));
        QCOMPARE(cli::terminalSafe(QStringLiteral("abc"), 3), QStringLiteral("abc"));
        QCOMPARE(cli::terminalSafe(QStringLiteral("abcd"), 3), QStringLiteral("ab\u2026"));
        QCOMPARE(cli::terminalSafe(a58 + face + face, 60), a58 + face + face);
        QCOMPARE(cli::terminalSafe(a58 + face + face + face, 60),
                 a58 + face + QStringLiteral("\u2026"));
        QCOMPARE(cli::terminalSafe(a58 + QStringLiteral("\x1b") + QStringLiteral("b"), 60),
                 a58 + QStringLiteral("\u2026")); // never half an \xNN
        QCOMPARE(cli::terminalSafe(a58 + QStringLiteral("\x1b"), 62),
                 a58 + QStringLiteral("\\x1B"));
        QCOMPARE(cli::characterCount(a58 + face + face), 60);
        // Only the cell's worth of a huge text is read.
        const QString huge(10'000'000, QLatin1Char('h'));
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < 1000; ++i)
            QCOMPARE(cli::terminalSafe(huge, 60).size(), 60);
        QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));
    }

    // One 10 MB subject in 300 rows: the table shows it in capped cells, row by row,
    // in little memory and time.
    void hugeSubjectTableStaysSmall()
    {
        QTemporaryDir dir;
        const QString store = dir.path() + QStringLiteral("/Mail");
        for (const char *sub : {"/cur", "/new", "/tmp"})
            QDir().mkpath(store + QLatin1String(sub));
        QByteArray email = "From: Bob <bob@example.org>\nSubject: " + QByteArray(10 << 20, 'S') +
                           "\nContent-Type: multipart/mixed; boundary=b\n\n";
        for (int i = 0; i < 300; ++i)
            email += "--b\nContent-Type: application/octet-stream; name=\"f" +
                     QByteArray::number(i) + ".bin\"\n\nx\n";
        writeFile(store + QStringLiteral("/cur/1.a:2,S"), email + "--b--\n");

        QElapsedTimer timer;
        timer.start();
        const Result r =
            runCli({QStringLiteral("analyze"), QStringLiteral("--store"), store}, [](QProcess &p) {
                limitChild(p, {{RLIMIT_AS, rlim_t(1) << 30}, {RLIMIT_CPU, 30}});
            });
        QCOMPARE(r.status, 0);
        QVERIFY2(timer.elapsed() < 20000, qPrintable(QString::number(timer.elapsed())));
        const QStringList lines = r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 301);
        QCOMPARE(lines[1].left(61), QString(59, QLatin1Char('S')) + QStringLiteral("\u2026 "));
        for (const QString &line : lines)
            QVERIFY2(line.size() < 150, qPrintable(line.left(200)));
        QCOMPARE(lines[300].indexOf(QStringLiteral("Inbox\\")),
                 lines[0].indexOf(QStringLiteral("Folder")));
    }

    void terminalTextShowsControls()
    {
        QCOMPARE(cli::terminalSafe(QStringLiteral("a\x1b[2Jb\u009b31m\x7f\tc\r\n\0d")),
                 QStringLiteral("a\\x1B[2Jb\\x9B31m\\x7F\\x09c\\x0D\\x0A\\x00d"));
        const QString printable = QStringLiteral("Caf\u00e9 \u00a0\u00ff \U0001F600 \\x1B ~");
        QCOMPARE(cli::terminalSafe(printable), printable);
    }

    // Subjects, file names and folder names reach the terminal shown, never obeyed: in
    // the table, the progress lines, warnings and errors. CSV keeps them as they are.
    void hostileTextStaysOffTheTerminal()
    {
        QTemporaryDir dir;
        const QString store = dir.path() + QStringLiteral("/Mail");
        const QString evilFolder = store + QStringLiteral("/.Evil\x1b[5m");
        for (const QString &folder : {store, evilFolder}) {
            for (const char *sub : {"/cur", "/new", "/tmp"})
                QDir().mkpath(folder + QLatin1String(sub));
        }
        writeFile(store + QStringLiteral("/cur/1.a:2,S"),
                  "From: Bob <bob@example.org>\n"
                  "Subject: Evil\x1b]0;owned\x07 =?UTF-8?Q?=C2=9B31m?= \x1b[2J\n"
                  "Content-Type: multipart/mixed; boundary=b\n\n--b\nContent-Type: text/plain\n\n"
                  "hi\n--b\nContent-Type: application/octet-stream; "
                  "name*=UTF-8''%1B%5B8mred%7F.pdf\n\nx\n--b--\n");
        writeFile(evilFolder + QStringLiteral("/cur/2.b:2,S"), emailWith("Plain", "p.pdf"));
        const auto controlsIn = [](QByteArray text) {
            text.replace("\r\033[K", ""); // the tool's own progress line
            QByteArrayList found;
            for (qsizetype i = 0; i < text.size(); ++i) {
                const auto byte = uchar(text[i]);
                const bool c1 = byte == 0xC2 && i + 1 < text.size() && uchar(text[i + 1]) >= 0x80 &&
                                uchar(text[i + 1]) <= 0x9F;
                if ((byte < 0x20 && byte != '\n') || byte == 0x7F || c1)
                    found << text.mid(qMax<qsizetype>(0, i - 10), 20);
            }
            return found.join(" | ");
        };

        TerminalProcess terminal;
        QVERIFY(terminal.opened());
        QVERIFY(
            terminal.start(QStringLiteral(QB_CLI_PATH),
                           {QStringLiteral("analyze"), QStringLiteral("--store"), store,
                            QStringLiteral("--folder"), QStringLiteral("Email Folders\\Mail")}));
        QCOMPARE(terminal.finish(), 0);
        QVERIFY2(terminal.output().contains("in Email Folders\\Mail\\Evil\\x1B[5m\\"),
                 terminal.output().constData());
        QCOMPARE(controlsIn(terminal.output()), QByteArray());
        const QByteArray table = terminal.process().readAllStandardOutput();
        QCOMPARE(controlsIn(table), QByteArray());
        QVERIFY2(table.contains("Evil\\x1B]0;owned\\x07 \\x9B31m \\x1B[2J"), table.constData());
        QVERIFY(table.contains("\\x1B[8mred\\x7F.pdf"));
        QVERIFY(table.contains("Email Folders\\Mail\\Evil\\x1B[5m\\"));

        Result r = runCli(
            {QStringLiteral("analyze"), QStringLiteral("--store"), store, QStringLiteral("--csv")});
        QCOMPARE(r.status, 0);
        QVERIFY2(
            r.out.contains(QStringLiteral("\"Evil\x1b]0;owned\x07 \u009b31m \x1b[2J\",Inbox\\,")),
            qPrintable(r.out));
        QVERIFY(r.out.contains(QStringLiteral(",\"\x1b[8mred\x7f.pdf\",")));

        // An error quoting the command line, and a warning naming a folder of a settings file.
        r = runCli({QStringLiteral("analyze"), QStringLiteral("--store"), store,
                    QStringLiteral("--folder"), QStringLiteral("Email Folders\\Gone\x1b[2J")});
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.contains(QStringLiteral("has the path Email Folders\\Gone\\x1B[2J\n")),
                 qPrintable(r.err));
        const QString settings = dir.filePath(QStringLiteral("gone.qbk"));
        QCOMPARE(runCli({QStringLiteral("settings"), QStringLiteral("write"), settings,
                         QStringLiteral("get from default folder=0"),
                         QStringLiteral("from folder name=Gone\x1b[2J\x07")})
                     .status,
                 0);
        r = runCli({QStringLiteral("analyze"), QStringLiteral("--store"), store,
                    QStringLiteral("--settings"), settings});
        QCOMPARE(r.status, 1);
        QVERIFY2(
            r.err.contains(QStringLiteral("Cannot locate source folder Gone\\x1B[2J\\x07 - mail")),
            qPrintable(r.err));
        QCOMPARE(controlsIn(r.err.toUtf8()), QByteArray());
    }

    // Ctrl+C while a job command still analyses cancels the whole command; during the
    // job it stops after the attachment in progress. The terminal's output is held
    // while the signal arrives, so the program cannot move on in the meantime.
    void interruptWhileAnalysingChangesNothing()
    {
        QTemporaryDir dir;
        const QString store = dir.path() + QStringLiteral("/Mail");
        makeDemoMaildir(store, 1000);
        const QStringList before = filesOf(store);

        TerminalProcess terminal;
        QVERIFY(terminal.opened());
        QVERIFY(terminal.start(QStringLiteral(QB_CLI_PATH),
                               {QStringLiteral("delete"), QStringLiteral("--store"), store,
                                QStringLiteral("--folder"), QStringLiteral("Email Folders\\Mail"),
                                QStringLiteral("--all"), QStringLiteral("--yes")}));
        QVERIFY(terminal.readUntil("] Email "));
        terminal.holdOutput();
        terminal.sendSignal(SIGINT);
        QVERIFY(terminal.signalTaken(SIGINT));
        terminal.releaseOutput();
        QCOMPARE(terminal.finish(), 2);
        QVERIFY2(terminal.output().endsWith("Cancelled: nothing was changed.\n"),
                 terminal.output().right(300).constData());
        QVERIFY(!terminal.output().contains("Processing attachment"));
        QCOMPARE(filesOf(store), before);
    }

    void interruptDuringTheJobStopsIt()
    {
        QTemporaryDir dir;
        const QString store = dir.path() + QStringLiteral("/Mail");
        makeDemoMaildir(store, 300);
        const int found = attachmentCount(store);
        QVERIFY(found > 300);

        TerminalProcess terminal;
        QVERIFY(terminal.opened());
        QVERIFY(terminal.start(QStringLiteral(QB_CLI_PATH),
                               {QStringLiteral("delete"), QStringLiteral("--store"), store,
                                QStringLiteral("--folder"), QStringLiteral("Email Folders\\Mail"),
                                QStringLiteral("--all"), QStringLiteral("--yes")}));
        QVERIFY(terminal.readUntil("Processing attachment "));
        terminal.holdOutput();
        terminal.sendSignal(SIGINT);
        QVERIFY(terminal.signalTaken(SIGINT));
        terminal.releaseOutput();
        QCOMPARE(terminal.finish(), 2);
        QVERIFY2(terminal.output().contains("\033[KINCOMPLETE. "),
                 terminal.output().right(300).constData());
        const int left = attachmentCount(store);
        QVERIFY2(left < found && left > found / 2, qPrintable(QString::number(left)));
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "test_cli.moc"
