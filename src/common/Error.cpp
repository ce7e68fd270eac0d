#include "Error.h"

namespace qb {

Error::Error(QString message) : m_message(std::move(message)), m_utf8(m_message.toUtf8()) {}

LoginRefused::LoginRefused(QString message, QString accountKey)
    : MailStoreError(std::move(message)), m_accountKey(std::move(accountKey))
{
}

QString messageOf(const std::exception &error)
{
    if (const auto *own = dynamic_cast<const Error *>(&error))
        return own->message();
    return QString::fromLocal8Bit(error.what());
}

} // namespace qb
