#pragma once

#include "MailStore.h"

#include <QStringList>

namespace mailstore {

// The Maildir used when none is configured: $MAILDIR, else ~/Maildir.
QString defaultMaildir();

// The Maildirs listed in the registry under the program key's "Mail stores": one
// subkey per store with the values "Type" ("maildir") and "Path".
QStringList registeredMaildirs();

// Opens the given Maildirs; with none given, those of the registry, else the default one.
ApplicationFactory configuredStores(const QStringList &maildirs);

} // namespace mailstore
