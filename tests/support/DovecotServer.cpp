#include "DovecotServer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

QString toolsFolder()
{
    return qEnvironmentVariable("QB_TEST_TOOLS");
}

} // namespace

DovecotServer::DovecotServer(QString maildir, DovecotOptions options)
    : TestImapServer(QStringLiteral("dovecot-instance.sh"), std::move(maildir)),
      m_options(std::move(options))
{
}

DovecotServer::~DovecotServer() = default;

bool DovecotServer::startOnce()
{
    m_imapsPort = m_options.tls ? freePort() : 0;
    while (m_options.tls && m_imapsPort == m_port)
        m_imapsPort = freePort();
    QStringList arguments{
        QStringLiteral("start"),       m_instance.path(),  m_maildir, QString::number(m_port),
        QStringLiteral("--separator"), m_options.separator};
    if (m_options.tls) {
        const QString tls = QFileInfo(caPath()).path();
        arguments << QStringLiteral("--tls") << tls + QStringLiteral("/server.pem")
                  << tls + QStringLiteral("/server.key") << QStringLiteral("--imaps")
                  << QString::number(m_imapsPort);
    }
    return runScript(arguments);
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
