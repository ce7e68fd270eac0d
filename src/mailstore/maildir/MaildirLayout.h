#pragma once

#include <QString>

#include <memory>
#include <vector>

namespace maildir {

// One folder of a Maildir store as a mail program presents it.
struct FolderNode
{
    QString name;
    // The Maildir holding the folder's emails (cur/, new/); empty for a folder that
    // only holds other folders.
    QString directory;
    // The names from the store's top down, each escaped, joined by "/": the
    // folder's identity within its store.
    QString path;
    std::vector<std::shared_ptr<FolderNode>> children;
};

// The folder tree of the store rooted at root, under a top node named after the
// root's folder name. Its first child is the Inbox (the root's own cur/ and new/,
// or an INBOX folder beside them) when there is one. Both layouts are read:
// Maildir++ (".Projects.2024" is Projects with a child 2024, names in IMAP's
// modified UTF-7) and nested folders ("Projects/2024"). Children are sorted by name.
std::shared_ptr<FolderNode> scanStore(const QString &root);

// The Inbox node of a scanned store, or null.
std::shared_ptr<FolderNode> inboxOf(const FolderNode &top);

// Finds a node by its path below top; null when there is none.
std::shared_ptr<FolderNode> findByPath(const std::shared_ptr<FolderNode> &top, const QString &path);

bool isMaildir(const QString &directory);

// IMAP's modified UTF-7 ("&AOk-t&AOk-" is "été"); text that is not valid stays as it is.
QString decodeModifiedUtf7(const QByteArray &name);

} // namespace maildir
