#pragma once

#include "MaildirSession.h"
#include "SummaryReading.h"

#include <functional>

namespace maildir {

// Replaces an email file by a new one: the new content is written to the
// folder's tmp/ and flushed, checked, given the old file's received date and
// permissions, recorded in the journal, moved beside the old file under a new
// unique name with the old file's flags, and then the old file is removed. Mail
// servers and sync tools treat a file name as one unchanging message, hence the
// new name: a sync tool's ",U=" marker is dropped and ",S="/",W=" sizes are renewed.
//
// write(fd) writes the content; check(path) throws when the written file is not
// what it should be, in which case nothing changes. With expected, the old file must
// still have that stamp, the one it had when read: else nothing changes either. Returns
// the new file.
MessageFile replaceEmailFile(Journal &journal, const FolderNode &folder, const MessageFile &old,
                             const std::function<void(int fd)> &write,
                             const std::function<void(const QString &path)> &check,
                             const FileStamp *expected = nullptr);

// A new unique name in the form other mail programs use, keeping the size fields
// of the old one with the new sizes: ",W=" counts each line feed without a CR before it
// as the two bytes it becomes.
QString newUniqueName(const QString &oldUniqueName, qint64 size, qint64 bareLineFeeds);

} // namespace maildir
