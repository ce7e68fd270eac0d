#pragma once

#include "SummaryReading.h"
#include "SummaryWriting.h"

#include <QHash>
#include <QString>

#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class QSqlError;

namespace maildir {

class BackgroundRowWriter;
struct FolderListing;
struct MessageFile;
struct FolderStamp;

// What the cache held of one folder's email files when it was read, beside the listing
// it was read for. It never changes, so readings on any thread may look in it.
class CachedFolder
{
public:
    // The summary of the listed file, when the file read before had the same stamp.
    std::optional<mailstore::EmailSummary> find(const MessageFile &file,
                                                const FileStamp &stamp) const;
    // The same without a stamp to compare, for a trusted folder.
    std::optional<mailstore::EmailSummary> find(const MessageFile &file) const;
    // Whether the cache held an entry for the listed file, whatever its stamp.
    bool holds(const MessageFile &file) const;
    // How many of the listed files the cache knows.
    qsizetype size() const { return m_known; }
    // Nothing was added to the folder's cur/ and new/, removed or renamed there since every
    // entry of the folder was last checked against its file: as no file's content changes
    // under its name, each entry is true without a look at its file.
    bool trusted() const { return m_trusted; }
    // Whether the folder was listed from its snapshot.
    bool fromSnapshot() const { return !m_snapshot.isNull(); }
    const FolderListing &listing() const { return *m_listing; }
    const std::shared_ptr<const FolderListing> &listingShared() const { return m_listing; }

private:
    friend class SummaryCache;
    const QByteArray *entryOf(const MessageFile &file) const;

    std::shared_ptr<const FolderListing> m_listing;
    std::vector<QByteArray> m_entries; // SummaryEntry.h's, by position in the listing
    QByteArray m_snapshot;             // the memory of m_entries, when they came in one
    qsizetype m_known = 0;
    std::optional<qint64> m_folderId;
    bool m_trusted = false;
};

// Summaries read on other threads, waiting to be stored on the cache's own thread.
class PendingSummaries
{
public:
    using Row = SummaryRow;

    // Safe on any thread.
    void add(const QString &directory, const QString &uniqueName, const FileStamp &stamp,
             const mailstore::EmailSummary &summary);
    qsizetype count() const;
    std::vector<Row> take();

private:
    mutable std::mutex m_mutex;
    std::vector<Row> m_rows;
};

// Remembers across runs what analysis lists of each email file of the Maildir folders:
// its subject, sender, attachment names and sizes, keyed by the folder's directory, the file's
// unique name and its stamp. A file's content never changes under its unique name (every
// Maildir writer, this program included, gives a rewritten email a new one), so a file
// with the same stamp is read from here instead of from its bytes.
//
// An SQLite database, in WAL mode so that readers never wait for the one writer: the
// thread that created this object, the session's. The cache is an optimisation only:
// a database that is corrupt, or of another format, is replaced by an empty one with one
// warning and none of it is believed; one that cannot be used at all leaves the store
// reading every email. No call throws.
class SummaryCache
{
public:
    // What the database holds and how emails are read into it: change it whenever either
    // changes, and databases of the old format are rebuilt.
    static constexpr int formatVersion = 4;
    // When this many summaries wait, the session stores them.
    static constexpr qsizetype storeBatch = 512;
    // A larger summary (a subject of megabytes, thousands of attachments) is not kept:
    // reading such an email again costs less than loading it with its folder each time.
    static constexpr qsizetype largestEntry = 1 << 20;

    // $XDG_CACHE_HOME/quillbrook/maildir-summaries.sqlite, ~/.cache when unset.
    static QString defaultPath();

    // Opens the database at path when first needed, creating it and its folder.
    explicit SummaryCache(QString path);
    // Stores what is pending, and the snapshots of the folders confirmed.
    ~SummaryCache();
    SummaryCache(const SummaryCache &) = delete;
    SummaryCache &operator=(const SummaryCache &) = delete;

    // A folder trusted, with its listing, when its snapshot was taken at this stamp of
    // its cur/ and new/: null otherwise. Then the directories need not be read.
    std::shared_ptr<const CachedFolder> trustedFolder(const QString &directory,
                                                      const FolderStamp &stamp);
    // What the cache holds of the files listed in listing, a listing of directory.
    // Rows of files no longer listed are removed with the next store().
    std::shared_ptr<const CachedFolder> folder(const QString &directory,
                                               std::shared_ptr<const FolderListing> listing);
    // The folder's entry for this file no longer matches it: it goes with the next store(),
    // unless a reading of the file has replaced it by then.
    void outdated(const CachedFolder &folder, const QString &uniqueName);
    // Every file of the listing was checked against the folder's entries, and those that
    // did not match are being read or are outdated(): once the readings are stored, when
    // the cache closes, the folder is trusted while its stamp stays the listing's.
    void confirm(const QString &directory, std::shared_ptr<const FolderListing> listing);
    // Where readings on other threads leave what they read.
    const std::shared_ptr<PendingSummaries> &pending() const { return m_pending; }
    // Writes the pending summaries, in one transaction.
    void store();
    // A rewrite replaced the file oldUniqueName of directory with newUniqueName.
    void replace(const QString &directory, const QString &oldUniqueName,
                 const QString &newUniqueName, const FileStamp &stamp,
                 const mailstore::EmailSummary &summary);
    // The same, when nothing is known of the new file.
    void forget(const QString &directory, const QString &uniqueName);

    const QString &path() const { return m_path; }

private:
    enum class State { Unopened, Open, Off };
    enum class Outcome { Open, Foreign, Failed };
    // Opens the database when first needed; true while it can be used.
    bool ready();
    void open();
    // Opens the connection, making the tables of a new database; *error says why not.
    Outcome connect(std::optional<QSqlError> *error);
    void removeFoldersGone();
    void close();
    // Replaces the database by an empty one, saying why in one warning; a second time in
    // one session, the cache is turned off instead.
    void rebuild(const QString &why);
    // After a failed statement (no query or handle of the connection left): rebuilds a
    // corrupt database, else turns the cache off.
    void failed(const QSqlError &error);
    void turnOff(const QString &why);
    // Waits for the rows being written in the background; false when that failed, and
    // the cache was rebuilt or turned off.
    bool drainWriter();
    struct Confirmed
    {
        QString directory;
        std::shared_ptr<const FolderListing> listing;
    };
    // Writes the rows after the removals; the folders of distrusted are no longer trusted.
    bool write(const std::vector<SummaryRow> &rows, const std::vector<StaleRow> &removals,
               const QStringList &distrusted = {});
    // Takes a snapshot of each confirmed folder from its rows, and trusts it.
    void writeSnapshots();

    QString m_path;
    QString m_connection;
    State m_state = State::Unopened;
    bool m_rebuilt = false;
    bool m_warnedOff = false;
    std::shared_ptr<PendingSummaries> m_pending = std::make_shared<PendingSummaries>();
    std::vector<StaleRow> m_stale;
    std::vector<Confirmed> m_confirmed;
    RowWriter m_rows{m_connection};
    std::unique_ptr<BackgroundRowWriter> m_background; // the walk's batches, when there are some
};

} // namespace maildir
