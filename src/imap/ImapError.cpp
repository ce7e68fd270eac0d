#include "imap/ImapError.h"

namespace imap {

namespace {

QString refusalText(const QByteArray &commandName, const QByteArray &status,
                    const QByteArray &responseCode, const QByteArray &serverText)
{
    QString text = QStringLiteral("The IMAP server refused %1 (%2")
                       .arg(QString::fromLatin1(commandName), QString::fromLatin1(status));
    if (!responseCode.isEmpty())
        text += QStringLiteral(" [%1]").arg(QString::fromLatin1(responseCode));
    text += QStringLiteral(")");
    if (!serverText.isEmpty())
        text += QStringLiteral(": ") + QString::fromUtf8(serverText);
    return text;
}

} // namespace

CommandFailed::CommandFailed(const QByteArray &commandName, QByteArray status,
                             QByteArray responseCode, QByteArray serverText)
    : qb::MailStoreError(refusalText(commandName, status, responseCode, serverText)),
      m_status(std::move(status)), m_responseCode(std::move(responseCode)),
      m_serverText(std::move(serverText))
{
}

CertificateError::CertificateError(QString message, QByteArray fingerprint)
    : qb::MailStoreError(std::move(message)), m_fingerprint(std::move(fingerprint))
{
}

Cancelled::Cancelled() : qb::MailStoreError(QStringLiteral("The IMAP operation was cancelled")) {}

} // namespace imap
