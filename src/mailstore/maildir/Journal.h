#pragma once

#include <QStringList>

namespace maildir {

// Makes the replacement of an email file whole. Rewriting an email writes a new
// file under a new name and then removes the old one; a crash between the two
// would leave both. Each replacement is recorded here, and flushed, before the new
// file is moved into place; a store opened later finishes what a dead session
// left: it removes the old file when the new one is in place, else the new one's
// temporary file, so one of the two always stays, never both, never neither.
//
// Each session keeps its own journal file in the store's root, locked while the
// session lives, so a session never touches the replacements of a live one.
class Journal
{
public:
    explicit Journal(QString root);
    ~Journal();
    Journal(const Journal &) = delete;
    Journal &operator=(const Journal &) = delete;

    // Records that folderDirectory's email uniqueName is being replaced by
    // newUniqueName (written to tmp/ first). Throws qb::MailStoreError when the
    // record cannot be made durable.
    void record(const QString &folderDirectory, const QString &oldUniqueName,
                const QString &newUniqueName);
    // A replacement could not be finished: the journal outlives this session.
    void keepUnfinished() { m_unfinished = true; }

    // Finishes the replacements of every journal in root whose session has ended.
    static void recover(const QString &root);

private:
    QString m_root;
    QString m_path;
    int m_fd = -1;
    bool m_unfinished = false;
    QStringList m_folders; // where old files were removed
};

} // namespace maildir
