#include "support/TestImapServer.h"

#include "support/CourierServer.h"
#include "support/DovecotServer.h"

#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QTcpServer>

TestImapServer::TestImapServer(QString script, QString maildir)
    : m_script(std::move(script)), m_maildir(std::move(maildir)),
      m_instance(QStringLiteral("/tmp/qb-imapd-XXXXXX"))
{
}

TestImapServer::~TestImapServer()
{
    stop();
}

bool TestImapServer::start()
{
    m_error.clear();
    if (m_running)
        return true;
    if (qEnvironmentVariable("QB_TEST_TOOLS").isEmpty()) {
        m_error = QStringLiteral("QB_TEST_TOOLS is not set: run the suite through ctest, which "
                                 "sets it to the project's tools folder");
        return false;
    }
    if (!m_instance.isValid()) {
        m_error = QStringLiteral("cannot make a folder for the server under /tmp: ") +
                  m_instance.errorString();
        return false;
    }
    // Two suites may pick the same free port at once; the loser finds it taken and retries.
    for (int attempt = 0; attempt < 3; ++attempt) {
        m_port = freePort();
        if (m_port == 0) {
            m_error = QStringLiteral("no free port on 127.0.0.1");
            return false;
        }
        m_running = startOnce();
        if (m_running)
            return true;
        if (!m_error.contains(QLatin1String("already taken")))
            return false;
    }
    return false;
}

void TestImapServer::stop()
{
    if (!m_running)
        return;
    runScript({QStringLiteral("stop"), m_instance.path()});
    m_running = false;
}

bool TestImapServer::share(const QString &)
{
    return true;
}

bool TestImapServer::runScript(const QStringList &arguments)
{
    const QString script = qEnvironmentVariable("QB_TEST_TOOLS") + QLatin1Char('/') + m_script;
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("bash"), QStringList{script} + arguments);
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        m_error = QStringLiteral("tools/%1 %2 did not end within a minute: %3")
                      .arg(m_script, arguments.first(), QString::fromLocal8Bit(process.readAll()));
        return false;
    }
    if (process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
        return true;
    m_error = QString::fromLocal8Bit(process.readAll()).trimmed();
    if (m_error.isEmpty())
        m_error = QStringLiteral("tools/%1 %2 failed").arg(m_script, arguments.first());
    return false;
}

// A port nothing listens on now. Another program may take it before the server does:
// start() then tries again with new ports.
quint16 TestImapServer::freePort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

QString TestImapServer::passwordFile() const
{
    const QString path = m_instance.filePath(QStringLiteral("password"));
    QFile file(path);
    if (!file.exists() && file.open(QIODevice::WriteOnly))
        file.write(password().toUtf8() + '\n');
    return path;
}

QString TestImapServer::storeUrl() const
{
    return QStringLiteral("imap://%1@%2:%3").arg(user(), host()).arg(m_port);
}

std::unique_ptr<TestImapServer> makeSuiteServer(const QString &maildir)
{
    if (qEnvironmentVariable("QB_IMAP_SERVER") == QLatin1String("courier"))
        return std::make_unique<CourierServer>(maildir);
    return std::make_unique<DovecotServer>(maildir);
}
