#pragma once

#include "MailStore.h"

#include <QStringList>

namespace mailstore {

// The Maildir used when none is configured: $MAILDIR, else ~/Maildir.
QString defaultMaildir();

// Opens the given Maildirs, or the default one when the list is empty.
ApplicationFactory configuredStores(const QStringList &maildirs);

} // namespace mailstore
