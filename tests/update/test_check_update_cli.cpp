// quillbrook-cli check-update and --version, against a versions file served on 127.0.0.1.
#include "LocalHttpServer.h"
#include "settings/TRegistry.h"

#include <QFile>
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

const QString programKey = QStringLiteral("SOFTWARE\\Vellmor Software\\Quillbrook");

} // namespace

class TestCheckUpdateCli : public QObject
{
    Q_OBJECT

    QTemporaryDir m_config;

    // status is -1 when the tool crashed or did not end within a minute.
    Result runCli(const QStringList &arguments)
    {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_config.path());
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(QB_CLI_PATH), arguments);
        if (!process.waitForFinished(60000))
            process.kill();
        process.waitForFinished();
        const bool ended = process.exitStatus() == QProcess::NormalExit;
        return {ended ? process.exitCode() : -1, QString::fromUtf8(process.readAllStandardOutput()),
                QString::fromUtf8(process.readAllStandardError())};
    }

    void setWebSite(const QString &site)
    {
        TRegistry registry(TRegistry::Root::LocalMachine);
        QVERIFY(registry.OpenKey(programKey, true));
        registry.WriteString(QStringLiteral("Web site"), site);
        registry.WriteInteger(QStringLiteral("updateDate"), 40000);
    }

    Result checkAgainst(const QByteArray &versionsFile, int status = 200)
    {
        LocalHttpServer server;
        ServedReply reply;
        reply.status = status;
        reply.body = versionsFile;
        server.serve(QStringLiteral("/versions.txt"), reply);
        setWebSite(server.url());
        const Result result = runCli({QStringLiteral("check-update")});
        m_requests = server.requests();
        return result;
    }

    QList<SeenRequest> m_requests;

private Q_SLOTS:
    void initTestCase() { qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path())); }

    void printsTheVersionAndRelease()
    {
        const Result result = runCli({QStringLiteral("--version")});
        QCOMPARE(result.status, 0);
        QCOMPARE(result.out, QStringLiteral("Quillbrook 2.2 (release 37198.8708143519)\n"));
        QCOMPARE(result.err, QString());
    }

    void theLatestReleaseExitsWithZero()
    {
        const Result result = checkAgainst("Tamberline,40000\r\nQuillbrook,37198.8708143519\r\n");
        QCOMPARE(result.status, 0);
        QCOMPARE(result.out, QStringLiteral("You already have the latest version of Quillbrook - "
                                            "no download is necessary\n"));
        QCOMPARE(m_requests.size(), 1);
        QCOMPARE(m_requests[0].target, "/versions.txt?application=Quillbrook&ver=2.2");
        QCOMPARE(m_requests[0].headers.value("user-agent"), "Quillbrook");
    }

    void aNewerReleaseExitsWithTen()
    {
        const Result result = checkAgainst("Quillbrook,37198.871,notes\r");
        QCOMPARE(result.status, 10);
        QVERIFY2(result.out.startsWith(QStringLiteral(
                     "A Quillbrook update is available - would you like to download it now?\n")),
                 qPrintable(result.out));
        // Where to get it: the web site's home page.
        QVERIFY(result.out.contains(QStringLiteral("http://127.0.0.1:")));
    }

    void failuresExitWithOneAndSayWhat_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("httpStatus");
        QTest::addColumn<QString>("message");
        QTest::newRow("invalid stamp")
            << QByteArray("Quillbrook,37300.5 \n") << 200
            << "Quillbrook date information found in invalid format 37300.5 ";
        QTest::newRow("no product line")
            << QByteArray("quillbrook,40000\n") << 200 << "Quillbrook update information not found";
        QTest::newRow("error page") << QByteArray("<html>Not found</html>") << 404
                                    << "Quillbrook update information not found";
        QTest::newRow("empty reply") << QByteArray() << 200 << "Error connecting to web site: ";
    }
    void failuresExitWithOneAndSayWhat()
    {
        QFETCH(QByteArray, file);
        QFETCH(int, httpStatus);
        QFETCH(QString, message);
        const Result result = checkAgainst(file, httpStatus);
        QCOMPARE(result.status, 1);
        QCOMPARE(result.out, QString());
        QVERIFY2(result.err.startsWith(QStringLiteral("quillbrook-cli: ") + message),
                 qPrintable(result.err));
    }

    void noServerExitsWithOne()
    {
        quint16 closedPort = 0;
        {
            LocalHttpServer gone;
            closedPort = gone.port();
        }
        setWebSite(QStringLiteral("http://127.0.0.1:%1").arg(closedPort));
        const Result result = runCli({QStringLiteral("check-update")});
        QCOMPARE(result.status, 1);
        QVERIFY2(result.err.startsWith(QStringLiteral("quillbrook-cli: Error connecting to web "
                                                      "site: Cannot fetch http://127.0.0.1:")),
                 qPrintable(result.err));
    }

    // The command answers a script; the desktop program's schedule stays as it was.
    void leavesTheUpdateDateAlone()
    {
        QCOMPARE(checkAgainst("Quillbrook,37000\n").status, 0);
        TRegistry registry(TRegistry::Root::LocalMachine);
        QVERIFY(registry.OpenKey(programKey, false));
        QCOMPARE(registry.value(QStringLiteral("updateDate"))->number, 40000u);
    }

    void refusesUnknownOptions()
    {
        const Result result = runCli({QStringLiteral("check-update"), QStringLiteral("--now")});
        QCOMPARE(result.status, 1);
        QVERIFY2(result.err.contains(QStringLiteral("now")), qPrintable(result.err));
    }
};

QTEST_GUILESS_MAIN(TestCheckUpdateCli)
#include "test_check_update_cli.moc"
