#pragma once

#include "mailstore/MailStore.h"

#include <QStringList>

namespace maildir {

// Opens the Maildirs at roots as one mail store: each root is a store whose top
// folder is named after it; the first store's Inbox is the default Inbox.
//
// Ids: a store's id is its root's absolute path; a folder's entry id is the store
// id, "//" and the folder's path of names ("Inbox", "Projects/2024"); an email's
// entry id is its folder's, "::" and the file's unique name, so it survives flag
// changes by other mail programs.
//
// With a summaryCachePath, what analysis reads of each email file is kept in that
// database (SummaryCache.h), and a file met again unchanged is not read again.
mailstore::ApplicationFactory storeFactory(const QStringList &roots,
                                           const QString &summaryCachePath = QString());

} // namespace maildir
