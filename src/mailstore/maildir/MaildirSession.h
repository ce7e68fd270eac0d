#pragma once

#include "Journal.h"
#include "MaildirLayout.h"
#include "StoreLock.h"

#include <QHash>
#include <QStringList>

#include <array>
#include <memory>
#include <optional>
#include <vector>

struct stat;

namespace maildir {

class CachedFolder;
class SummaryCache;

// One email file of a folder. Its unique name (the file name before ":2,") stays
// the same when a mail program moves it from new/ to cur/ or changes its flags.
struct MessageFile
{
    QString uniqueName;
    QString relativePath; // "cur/<file name>" or "new/<file name>"
    int position = -1;    // in the listing that lists it, when one does
};

// The device, inode and modification time of a folder's cur/ and new/. Every email
// file added to them, removed or renamed there (a flag changed, a rewrite) changes it.
struct FolderStamp
{
    std::array<qint64, 6> values{};
    // Taken from both directories, on a local file system, whose last change was long enough
    // before that a change in the same clock tick cannot have gone unseen.
    bool settled = false;

    // Taken before the directories are read.
    static FolderStamp of(const QString &directory);
    QByteArray bytes() const;
    static FolderStamp fromBytes(const QByteArray &bytes); // unsettled when malformed
    friend bool operator==(const FolderStamp &, const FolderStamp &) = default;
};

// The emails of one folder, ordered by unique name (delivery time first, in practice).
struct FolderListing
{
    std::vector<MessageFile> files;
    QHash<QString, int> indexOfUnique;
    std::vector<SkippedEntry> skipped; // entries of cur/ and new/ that are no email files
    FolderStamp stamp;                 // of cur/ and new/ before they were read
    // Whether the stamp tells every change to come: not with a link, whose file can change
    // apart from the folder, nor with entries left out (a permission mended, a link's file
    // come back), two files of one unique name, or directories not read to their end.
    bool stampTellsAll = false;

    static FolderListing read(const QString &directory);
};

// What the objects of one application share: the stores, their folder trees and
// the listings read so far. Belongs to the thread that created the application.
class Session
{
public:
    struct Store
    {
        QString id; // the root's absolute path
        QString root;
        std::shared_ptr<FolderNode> top;
        std::shared_ptr<Journal> journal; // this session's rewrites of the store's emails
    };

    // Throws qb::MailStoreError naming the path of a store that cannot be opened.
    // Finishes the email replacements that ended sessions left unfinished. With a
    // summaryCachePath, what analysis reads of the emails is kept there across sessions.
    explicit Session(const QStringList &roots, const QString &summaryCachePath = QString());
    ~Session();
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    // Each store lives as long as the session and every object that holds it.
    const std::vector<std::shared_ptr<const Store>> &stores();
    std::shared_ptr<const Store> storeById(const QString &storeId);

    // The folder named by an entry id, with its store; null when there is none.
    std::shared_ptr<FolderNode> folderFromId(const QString &entryId,
                                             std::shared_ptr<const Store> *store);

    // The listing read when first asked; refresh reads the folder again. A listing
    // never changes once handed out.
    std::shared_ptr<const FolderListing> listing(const FolderNode &folder, bool refresh = false);

    // Within this session, an email's old unique name leads to the file that replaced it.
    void recordReplacement(const FolderNode &folder, const QString &oldUniqueName,
                           const MessageFile &replacement);
    std::optional<MessageFile> replacementOf(const FolderNode &folder,
                                             const QString &uniqueName) const;

    // The summary cache, opened when first asked for; null without one.
    SummaryCache *summaryCache();
    // What the summary cache holds of the folder's files; null without a cache. The
    // folder asked for last is kept, as a walk asks for each of its emails in turn.
    std::shared_ptr<const CachedFolder> cachedFolder(const FolderNode &folder);
    // One more of the files of the folder asked about last was checked against the cache;
    // read says it is read from its file. When every listed file was checked, the cache
    // may trust the folder from now on, or keep a snapshot of it that lacked some.
    void fileChecked(const FolderNode &folder, bool read);
    // The status of one of the folder's email files, following a link, as stat gives it;
    // false when there is none. Looked up in the folder's cur/ or new/, kept open while
    // the same folder is asked about.
    bool fileStatus(const FolderNode &folder, const MessageFile &file, struct stat *info);

    // Locks every store against other rewriting programs for the session's life,
    // then clears what killed runs of this program left in the folders' tmp/.
    void lockForChanges(const std::function<bool(int)> &stillWaiting);

    static QString folderEntryId(const Store &store, const FolderNode &folder);
    static QString itemEntryId(const QString &folderEntryId, const QString &uniqueName);
    // Splits an item's entry id; false when it is not one.
    static bool splitItemEntryId(const QString &entryId, QString *folderEntryId,
                                 QString *uniqueName);

private:
    void scan();

    QStringList m_roots;
    bool m_scanned = false;
    std::vector<std::shared_ptr<const Store>> m_stores;
    QHash<const FolderNode *, std::shared_ptr<const FolderListing>> m_listings;
    QHash<QString, MessageFile> m_replacements; // keyed by folder directory and unique name
    std::vector<std::unique_ptr<StoreLock>> m_locks;
    QString m_summaryCachePath;
    std::unique_ptr<SummaryCache> m_summaryCache;
    const FolderNode *m_cachedNode = nullptr;
    std::shared_ptr<const CachedFolder> m_cachedFolder;
    std::shared_ptr<const CachedFolder> m_trustedFolder; // came with the listing read last
    size_t m_filesChecked = 0;                           // of m_cachedFolder's listing
    bool m_filesRead = false;                            // of them
    struct OpenDirectories; // the cur/ and new/ of the folder asked about last
    std::unique_ptr<OpenDirectories> m_statDirectories;
};

} // namespace maildir
