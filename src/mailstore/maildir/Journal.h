#pragma once

#include <QStringList>

#include <optional>

namespace maildir {

// Which file an email was when the journal recorded it, so that recovery and a
// rewrite racing another program never mistake another email for it.
struct FileIdentity
{
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = 0;
    bool operator==(const FileIdentity &) const = default;

    // The identity of a regular file (not followed through a link); none otherwise.
    static std::optional<FileIdentity> of(const QString &path);
};

// The path relative to folderDirectory ("cur/<name>") of the email file whose unique
// name is uniqueName and whose identity is identity, wherever another program
// moved it between cur/ and new/ or renamed it for its flags.
std::optional<QString> findMessageFile(const QString &folderDirectory, const QString &uniqueName,
                                       const FileIdentity &identity);

// One replacement of an email file by a rewritten one.
struct Replacement
{
    QString folderDirectory;
    QString oldRelativePath; // "cur/<old file name>"
    QString oldUniqueName;
    FileIdentity oldIdentity;
    QString readyName;       // the new file in tmp/ until it is moved into place
    QString newRelativePath; // where it goes: "cur/<new file name>"
};

// Makes the replacement of an email file whole. Rewriting an email writes a new
// file under a new name and then removes the old one; a crash between the two
// would leave both, or (were the renames written out of order) neither. Each
// replacement is recorded here, and flushed, before the new file is moved into
// place; a store opened later finishes what a dead session left, looking only at
// the exact files recorded: the old one goes when the new one is in place; when
// it is not, the new one is moved into place if the old one is gone, else removed.
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

    // Throws qb::MailStoreError when the record cannot be made durable.
    void record(const Replacement &replacement);
    // A replacement could not be finished: the journal outlives this session.
    void keepUnfinished() { m_unfinished = true; }

    // Finishes the replacements of every journal in root whose session has ended.
    static void recover(const QString &root);

private:
    QString m_root;
    QString m_path;
    int m_fd = -1;
    bool m_unfinished = false;
    QStringList m_folders; // where files were moved and removed
};

} // namespace maildir
