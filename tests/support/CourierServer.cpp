#include "support/CourierServer.h"

#include <QFile>

CourierServer::CourierServer(QString maildir, CourierOptions options)
    : TestImapServer(QStringLiteral("courier-instance.sh"), std::move(maildir)), m_options(options)
{
}

CourierServer::~CourierServer() = default;

bool CourierServer::startOnce()
{
    QStringList arguments{QStringLiteral("start"), m_instance.path(), m_maildir,
                          QString::number(m_port)};
    if (!m_options.uidPlus)
        arguments << QStringLiteral("--no-uidplus");
    return runScript(arguments);
}

QString CourierServer::log() const
{
    QFile file(m_instance.filePath(QStringLiteral("courier.log")));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("(no log: %1)").arg(file.errorString());
    return QString::fromUtf8(file.readAll());
}
