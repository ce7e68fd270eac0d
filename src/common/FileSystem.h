#pragma once

#include <QString>

namespace qb {

// Flushes a folder's entries to disk, so that a file created, renamed or removed in
// it stays so after a crash. Failures are ignored: not every file system can.
void syncDirectory(const QString &directory);

// The text of errno, for messages.
QString systemErrorText();

} // namespace qb
