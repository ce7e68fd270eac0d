#pragma once

#include "MailStore.h"

#include <QStringList>

namespace mailstore {

// The Maildir used when none is configured: $MAILDIR, else ~/Maildir.
QString defaultMaildir();

// The Maildirs listed in the registry under the program key's "Mail stores": one
// subkey per store with the values "Type" ("maildir") and "Path".
QStringList registeredMaildirs();

// Whether analysis keeps what it read of the emails for the next time.
enum class SummaryCaching { Kept, Off };

// Opens the given Maildirs; with none given, those of the registry, else the default one.
// What analysis reads of Maildir emails is kept in the user's cache folder unless caching
// is Off.
ApplicationFactory configuredStores(const QStringList &maildirs,
                                    SummaryCaching caching = SummaryCaching::Kept);

} // namespace mailstore
