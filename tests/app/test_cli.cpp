#include "AttachmentTable.h"
#include "mailstore/AttachmentList.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct Result
{
    int status = -1;
    QString out;
    QString err;
};

Result cli(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral(QB_CLI_PATH), arguments);
    process.waitForFinished(60000);
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
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
        const Result r = cli({QStringLiteral("analyze"), QStringLiteral("--store"), m_store,
                              QStringLiteral("--csv")});
        QCOMPARE(r.status, 0);
        const QStringList lines = r.out.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines[0], QStringLiteral("Subject,Folder,Size,Filename,Type,Date,From"));
        QVERIFY2(lines[1].startsWith(QStringLiteral("\"Budget, final\",Inbox\\,1KB,b.xls,xls,")),
                 qPrintable(lines[1]));
        QVERIFY2(lines[2].startsWith(QStringLiteral("\"\"\"Quoted\"\"\",Inbox\\,1KB,a.pdf,pdf,")),
                 qPrintable(lines[2]));
        QVERIFY(lines[2].endsWith(QStringLiteral(",Bob")));
        QVERIFY2(r.err.isEmpty(), qPrintable(r.err));
    }

    void folderPathSortAndTable()
    {
        const Result r = cli({QStringLiteral("analyze"), QStringLiteral("--store"), m_store,
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

    void folderById()
    {
        const QString id = QDir::cleanPath(m_store) + QStringLiteral("//Projects");
        const Result r = cli({QStringLiteral("analyze"), QStringLiteral("--store"), m_store,
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
        const Result r = cli(arguments);
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.contains(message), qPrintable(r.err));
        QCOMPARE(r.err.count(QLatin1Char('\n')),
                 message.startsWith(QStringLiteral("no command")) ? 6 : 1);
    }

    void csvQuotesLineBreaks()
    {
        AttachmentList list;
        list.append(QStringLiteral("a"), std::make_shared<const TAttach>(TAttach{
                                             QStringLiteral("two\r\nlines"), QStringLiteral("F"),
                                             QStringLiteral("Inbox\\"), 0, QStringLiteral("x"),
                                             QString(), 0, QString(), 1, QString()}));
        QVERIFY(table::csv(list).contains(QStringLiteral("\"two\r\nlines\",Inbox\\,Unknown,x,,")));
        QVERIFY(table::aligned(list).contains(QStringLiteral("two  lines")));
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "test_cli.moc"
