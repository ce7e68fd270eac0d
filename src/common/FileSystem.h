#pragma once

#include <QString>

namespace qb {

// Flushes a folder's entries to disk, so that a file created, renamed or removed in
// it stays so after a crash. Failures are ignored: not every file system can.
void syncDirectory(const QString &directory);

// The text of errno, for messages.
QString systemErrorText();

// Writes all of bytes to fd, going on after interruptions. False, with errno set, when
// the system refuses.
bool writeAll(int fd, QByteArrayView bytes);

// The SHA-256 of all that the open file fd holds (read from its start, whatever its
// position); empty when it cannot be read.
QByteArray sha256OfFile(int fd);

// Creates a folder and every missing one above it, and flushes each new entry
// to disk (the new folders and the folder that holds the topmost one). False,
// with errno set, when a level cannot be made.
bool makePathDurably(const QString &folder);

// How a finished file takes its final name without replacing what is there.
// File systems without hard links (vfat, exFAT, many network mounts) refuse the
// first; the later ones serve there.
enum class NoReplaceMove {
    HardLink,        // link() then unlink(): atomic where hard links exist
    RenameNoReplace, // renameat2(RENAME_NOREPLACE): atomic where the kernel offers it
    Placeholder,     // create the name with O_EXCL, then rename over that empty file
};

// Moves from to to unless to exists: false with errno EEXIST when it does, false
// with another errno when the move fails. Starts with the given method and falls
// back to the later ones where a file system does not offer it.
bool moveWithoutReplacing(const QString &from, const QString &to,
                          NoReplaceMove first = NoReplaceMove::HardLink);
// The same between two names in the folder open as folderFd; a link at to is never
// followed.
bool moveWithoutReplacingAt(int folderFd, const QByteArray &from, const QByteArray &to,
                            NoReplaceMove first = NoReplaceMove::HardLink);

} // namespace qb
