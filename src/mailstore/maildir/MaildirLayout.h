#pragma once

#include <QHash>
#include <QString>

#include <memory>
#include <vector>

namespace maildir {

// Folders nested deeper than this are left out of a scan (and reported as skipped): deeper
// paths soon pass the system's path length limit.
constexpr int maxFolderDepth = 64;

// A directory or file that a scan left out, and why, so that callers can report it.
struct SkippedEntry
{
    QString path; // on disk
    QString reason;
};

struct StoreScan;

// One folder of a Maildir store as a mail program presents it.
struct FolderNode
{
    QString name;
    // The Maildir holding the folder's emails (cur/, new/); empty for a folder that
    // only holds other folders.
    QString directory;
    // The folder's identity within its store: the names from the store's top down, each
    // escaped, joined by "/". When that repeats an earlier folder's (a nested "Inbox"
    // folder beside the Inbox, a nested "X/" beside Maildir++ ".X"), "%@" and the escaped
    // place of the folder's directory below the root follow, which no name can spell.
    QString path;
    std::vector<std::shared_ptr<FolderNode>> children;
    // Set on the top node that scanStore returns.
    std::shared_ptr<const StoreScan> scan;
};

// What a scan found besides the folder tree.
struct StoreScan
{
    // Directories left out, in the order met: links that lead outside the store or to a
    // folder listed already, folders more than maxFolderDepth levels deep, directories
    // that cannot be read, Maildirs whose cur/, new/ or tmp/ lead outside the store.
    std::vector<SkippedEntry> skipped;
    // Every folder by its path.
    QHash<QString, std::weak_ptr<FolderNode>> byPath;
};

// The folder tree of the store rooted at root, under a top node named after the
// root's folder name. Its first child is the Inbox (the root's own cur/ and new/,
// or an INBOX folder beside them) when there is one. Both layouts are read:
// Maildir++ (".Projects.2024" is Projects with a child 2024, names in IMAP's
// modified UTF-7) and nested folders ("Projects/2024"); a nested folder may be named
// cur, new or tmp when it has a cur/ of its own. Children are sorted by name.
//
// Each directory is walked once, known by its device and inode, so links cannot make
// the walk loop. A linked directory is followed only when it resolves inside the
// store to a directory that no other place lists; its folders are listed once, under
// the link's name. What is left out is in top->scan->skipped.
std::shared_ptr<FolderNode> scanStore(const QString &root);

// The Inbox node of a scanned store, or null.
std::shared_ptr<FolderNode> inboxOf(const FolderNode &top);

// Finds a node by its path below top, a node that scanStore returned; null when there is none.
std::shared_ptr<FolderNode> findByPath(const std::shared_ptr<FolderNode> &top, const QString &path);

bool isMaildir(const QString &directory);

// Whether the entry name of the open directory directoryFd is an email file: a regular
// file or a link to one. type is the entry's d_type (DT_UNKNOWN when the file system does
// not give it). The entry is only looked at with fstatat, never opened: a named pipe
// would block its reader, a device could feed it without end. When it is not an email
// file, *whyNot says what it is. *link, when given, says whether the entry is a link.
bool isMessageFile(int directoryFd, const char *name, unsigned char type, QString *whyNot,
                   bool *link = nullptr);

// Right after a call on path failed: notes in skipped why, unless path is not there.
void noteUnreadable(const QString &path, std::vector<SkippedEntry> &skipped);

// IMAP's modified UTF-7 ("&AOk-t&AOk-" is "été"); text that is not valid stays as it is.
QString decodeModifiedUtf7(const QByteArray &name);

} // namespace maildir
