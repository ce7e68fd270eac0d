#pragma once

#include "MailStore.h"

namespace mailstore {

// The root of the folder tree as the mail folder chooser shows it.
inline const char *const folderTreeRoot = "Email Folders";

// The mail folder at a path of the chooser's tree ("Email Folders\Store\Inbox\Projects"):
// node names from the root down, joined by "\". Only mail folders are looked at.
// Null when no folder has that path.
std::shared_ptr<Folder> folderAtPath(Namespace &mapi, const QString &path);

} // namespace mailstore
