#include "DovecotServer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QProcess>
#include <QTcpServer>

namespace {

QString toolsFolder()
{
    return qEnvironmentVariable("QB_TEST_TOOLS");
}

// A port nothing listens on now. Another program may take it before the server does:
// start() then tries again with new ports.
quint16 freePort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

} // namespace

DovecotServer::DovecotServer(QString maildir, DovecotOptions options)
    : m_maildir(std::move(maildir)), m_options(std::move(options)),
      m_instance(QStringLiteral("/tmp/qb-dovecot-XXXXXX"))
{
}

DovecotServer::~DovecotServer()
{
    stop();
}

bool DovecotServer::start()
{
    m_error.clear();
    if (m_running)
        return true;
    if (toolsFolder().isEmpty()) {
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
        if (startOnce())
            return true;
        if (!m_error.contains(QLatin1String("already taken")))
            return false;
    }
    return false;
}

bool DovecotServer::startOnce()
{
    m_port = freePort();
    m_imapsPort = m_options.tls ? freePort() : 0;
    while (m_options.tls && m_imapsPort == m_port)
        m_imapsPort = freePort();
    if (m_port == 0) {
        m_error = QStringLiteral("no free port on 127.0.0.1");
        return false;
    }
    QStringList arguments{
        QStringLiteral("start"),       m_instance.path(),  m_maildir, QString::number(m_port),
        QStringLiteral("--separator"), m_options.separator};
    if (m_options.tls) {
        const QString tls = QFileInfo(caPath()).path();
        arguments << QStringLiteral("--tls") << tls + QStringLiteral("/server.pem")
                  << tls + QStringLiteral("/server.key") << QStringLiteral("--imaps")
                  << QString::number(m_imapsPort);
    }
    m_running = runScript(arguments);
    return m_running;
}

void DovecotServer::stop()
{
    if (!m_running)
        return;
    runScript({QStringLiteral("stop"), m_instance.path()});
    m_running = false;
}

bool DovecotServer::runScript(const QStringList &arguments)
{
    QProcess script;
    script.setProcessChannelMode(QProcess::MergedChannels);
    script.start(QStringLiteral("bash"),
                 QStringList{toolsFolder() + QStringLiteral("/dovecot-instance.sh")} + arguments);
    if (!script.waitForFinished(60000)) {
        script.kill();
        script.waitForFinished();
        m_error = QStringLiteral("tools/dovecot-instance.sh %1 did not end within a minute: %2")
                      .arg(arguments.first(), QString::fromLocal8Bit(script.readAll()));
        return false;
    }
    if (script.exitStatus() == QProcess::NormalExit && script.exitCode() == 0)
        return true;
    m_error = QString::fromLocal8Bit(script.readAll()).trimmed();
    if (m_error.isEmpty())
        m_error = QStringLiteral("tools/dovecot-instance.sh %1 failed").arg(arguments.first());
    return false;
}

QString DovecotServer::passwordFile() const
{
    const QString path = m_instance.filePath(QStringLiteral("password"));
    QFile file(path);
    if (!file.exists() && file.open(QIODevice::WriteOnly))
        file.write(password().toUtf8() + '\n');
    return path;
}

QString DovecotServer::storeUrl() const
{
    return QStringLiteral("imap://%1@%2:%3").arg(user(), host()).arg(m_port);
}

QString DovecotServer::caPath()
{
    return QDir::cleanPath(toolsFolder() + QStringLiteral("/../tests/update/tls/ca.pem"));
}

QList<QSslCertificate> DovecotServer::ca()
{
    return QSslCertificate::fromPath(caPath());
}

QString DovecotServer::log() const
{
    QFile file(m_instance.filePath(QStringLiteral("dovecot.log")));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("(no log: %1)").arg(file.errorString());
    return QString::fromUtf8(file.readAll());
}

bool DovecotServer::share(const QString &path)
{
    m_error.clear();
    return runScript({QStringLiteral("share"), path});
}

ServableMaildir::ServableMaildir() : m_dir(QStringLiteral("/tmp/qb-maildir-XXXXXX"))
{
    // QTemporaryDir makes its folder 0700: the server's mail user could not pass through.
    if (!m_dir.isValid() ||
        !QFile::setPermissions(m_dir.path(), QFile::ReadOwner | QFile::WriteOwner |
                                                 QFile::ExeOwner | QFile::ReadOther |
                                                 QFile::ExeOther | QFile::ReadGroup |
                                                 QFile::ExeGroup))
        return;
    const QString root = m_dir.filePath(QStringLiteral("Mail"));
    for (const char *sub : {"cur", "new", "tmp"})
        if (!QDir().mkpath(root + QLatin1Char('/') + QLatin1String(sub)))
            return;
    m_root = root;
}

QString ServableMaildir::addFolder(const QStringList &levels) const
{
    const QString folder = m_root + QStringLiteral("/.") + levels.join(QLatin1Char('.'));
    for (const char *sub : {"cur", "new", "tmp"})
        if (!QDir().mkpath(folder + QLatin1Char('/') + QLatin1String(sub)))
            return {};
    return folder;
}
