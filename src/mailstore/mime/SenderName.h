#pragma once

#include <QByteArray>
#include <QString>

namespace mime {

// The sender as a mail program lists it: the display name of the first mailbox of
// a raw From value, decoded, else that mailbox's address.
QString senderName(const QByteArray &rawFrom);

} // namespace mime
