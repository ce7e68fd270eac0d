#include "SummaryCache.h"

#include "BackgroundRowWriter.h"
#include "FolderSnapshot.h"
#include "MaildirSession.h"
#include "SummaryEntry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>
#include <cerrno>
#include <cstdio>

namespace maildir {

namespace {

// "QBMS" in the database header: a database of this cache, not another program's.
constexpr qint64 applicationId = 0x51424D53;
// SQLite's result codes for a damaged file and for one that is no database.
constexpr int sqliteCorrupt = 11;
constexpr int sqliteNotADatabase = 26;

bool isCorruption(const QSqlError &error)
{
    // The low byte is the primary code of an extended one.
    const int code = error.nativeErrorCode().toInt() & 0xff;
    return code == sqliteCorrupt || code == sqliteNotADatabase;
}

// Why the database lacks a table or column that the cache reads or writes, if it does.
std::optional<QSqlError> schemaProblem(const QSqlDatabase &db)
{
    QSqlQuery query(db);
    for (const auto *statement : {"SELECT id, directory, stamp, snapshot FROM folders",
                                  "SELECT folder, unique_name, entry FROM emails"}) {
        if (!query.prepare(QLatin1String(statement)))
            return query.lastError();
    }
    return std::nullopt;
}

QString describe(const QSqlError &error)
{
    const QString text = error.text().trimmed();
    return text.isEmpty() ? QStringLiteral("SQLite error %1").arg(error.nativeErrorCode()) : text;
}

} // namespace

const QByteArray *CachedFolder::entryOf(const MessageFile &file) const
{
    if (m_known == 0)
        return nullptr;
    // A file of the listing the entries are by knows its place; any other is looked up.
    const bool placed = file.position >= 0 && size_t(file.position) < m_listing->files.size() &&
                        m_listing->files[size_t(file.position)].uniqueName == file.uniqueName;
    const int position =
        placed ? file.position : m_listing->indexOfUnique.value(file.uniqueName, -1);
    if (position < 0 || m_entries[size_t(position)].isEmpty())
        return nullptr;
    return &m_entries[size_t(position)];
}

std::optional<mailstore::EmailSummary> CachedFolder::find(const MessageFile &file,
                                                          const FileStamp &stamp) const
{
    const QByteArray *entry = entryOf(file);
    if (!entry || !(entryStamp(*entry) == stamp))
        return std::nullopt;
    return decodeEntry(*entry);
}

std::optional<mailstore::EmailSummary> CachedFolder::find(const MessageFile &file) const
{
    const QByteArray *entry = entryOf(file);
    return entry ? decodeEntry(*entry) : std::nullopt;
}

bool CachedFolder::holds(const MessageFile &file) const
{
    return entryOf(file) != nullptr;
}

void PendingSummaries::add(const QString &directory, const QString &uniqueName,
                           const FileStamp &stamp, const mailstore::EmailSummary &summary)
{
    Row row{directory, uniqueName, encodeEntry(uniqueName, stamp, summary)};
    if (row.entry.size() > SummaryCache::largestEntry)
        return;
    const std::lock_guard lock(m_mutex);
    m_rows.push_back(std::move(row));
}

qsizetype PendingSummaries::count() const
{
    const std::lock_guard lock(m_mutex);
    return qsizetype(m_rows.size());
}

std::vector<PendingSummaries::Row> PendingSummaries::take()
{
    const std::lock_guard lock(m_mutex);
    return std::exchange(m_rows, {});
}

QString SummaryCache::defaultPath()
{
    QString base = qEnvironmentVariable("XDG_CACHE_HOME");
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.cache");
    return base + QStringLiteral("/quillbrook/maildir-summaries.sqlite");
}

SummaryCache::SummaryCache(QString path)
    : m_path(std::move(path)),
      m_connection(QStringLiteral("quillbrook-summaries-%1").arg(quintptr(this), 0, 16))
{
}

SummaryCache::~SummaryCache()
{
    store();
    if (drainWriter())
        writeSnapshots();
    close();
}

bool SummaryCache::ready()
{
    if (m_state == State::Unopened)
        open();
    return m_state == State::Open;
}

void SummaryCache::open()
{
    m_state = State::Off;
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE"))) {
        turnOff(QStringLiteral("Qt SQL has no SQLite driver: install libqt6sql6-sqlite"));
        return;
    }
    if (!QDir().mkpath(QFileInfo(m_path).path())) {
        turnOff(QStringLiteral("its folder cannot be made"));
        return;
    }
    std::optional<QSqlError> error;
    const Outcome outcome = connect(&error);
    if (outcome == Outcome::Open) {
        m_state = State::Open;
        removeFoldersGone();
    } else if (outcome == Outcome::OtherVersion) {
        rebuild(QStringLiteral("was written by another version"), false);
    } else if (outcome == Outcome::Foreign) {
        rebuild(QStringLiteral("belongs to another program"), true);
    } else if (outcome == Outcome::Damaged) {
        rebuild(QStringLiteral("is damaged (%1)").arg(describe(*error)), true);
    } else {
        failed(*error);
    }
}

SummaryCache::Outcome SummaryCache::connect(std::optional<QSqlError> *error)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
    db.setDatabaseName(m_path);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
    if (!db.open()) {
        *error = db.lastError();
        return Outcome::Failed;
    }
    QSqlQuery query(db);
    const auto number = [&](const QString &statement) -> std::optional<qint64> {
        if (!query.exec(statement) || !query.next()) {
            *error = query.lastError();
            return std::nullopt;
        }
        return query.value(0).toLongLong();
    };
    const auto run = [&](const QString &statement) {
        if (!*error && !query.exec(statement))
            *error = query.lastError();
    };
    const auto id = number(QStringLiteral("PRAGMA application_id"));
    const auto version = id ? number(QStringLiteral("PRAGMA user_version")) : std::nullopt;
    const auto objects =
        version ? number(QStringLiteral("SELECT count(*) FROM sqlite_master")) : std::nullopt;
    if (!objects)
        return Outcome::Failed;
    if (!(*id == applicationId && *version == formatVersion)) {
        if (*id == applicationId)
            return Outcome::OtherVersion;
        if (*id != 0 || *version != 0 || *objects != 0)
            return Outcome::Foreign;
        // A new database; another program may be making it at the same moment.
        // Large pages: a folder's snapshot, megabytes long, is read in fewer of them.
        run(QStringLiteral("PRAGMA page_size=65536"));
        run(QStringLiteral("PRAGMA journal_mode=WAL"));
        run(QStringLiteral("BEGIN IMMEDIATE"));
        run(QStringLiteral("CREATE TABLE IF NOT EXISTS folders("
                           "id INTEGER PRIMARY KEY, directory TEXT NOT NULL UNIQUE, stamp BLOB, "
                           "snapshot BLOB)"));
        run(QStringLiteral("CREATE TABLE IF NOT EXISTS emails(folder INTEGER NOT NULL, "
                           "unique_name TEXT NOT NULL, entry BLOB NOT NULL, "
                           "PRIMARY KEY(folder, unique_name)) WITHOUT ROWID"));
        run(QStringLiteral("PRAGMA application_id=%1").arg(applicationId));
        run(QStringLiteral("PRAGMA user_version=%1").arg(formatVersion));
        run(QStringLiteral("COMMIT"));
    }
    run(QStringLiteral("PRAGMA synchronous=NORMAL"));
    if (*error)
        return Outcome::Failed;
    // A table or column gone (dropped by hand, a damaged schema) fails every reading: the
    // database is made anew instead of being left to turn the cache off in each session.
    *error = schemaProblem(db);
    return *error ? Outcome::Damaged : Outcome::Open;
}

void SummaryCache::removeFoldersGone()
{
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    std::vector<qint64> gone;
    {
        QSqlQuery query(db);
        query.setForwardOnly(true);
        if (query.exec(QStringLiteral("SELECT id, directory FROM folders"))) {
            while (query.next()) {
                if (!QFileInfo::exists(query.value(1).toString()))
                    gone.push_back(query.value(0).toLongLong());
            }
        }
    }
    if (gone.empty() || !db.transaction())
        return;
    {
        QSqlQuery rows(db);
        QSqlQuery folders(db);
        rows.prepare(QStringLiteral("DELETE FROM emails WHERE folder = ?"));
        folders.prepare(QStringLiteral("DELETE FROM folders WHERE id = ?"));
        for (const qint64 id : gone) {
            rows.addBindValue(id);
            folders.addBindValue(id);
            rows.exec();
            folders.exec();
        }
    }
    db.commit();
}

void SummaryCache::close()
{
    m_background.reset();
    m_rows.forgetIds();
    if (!QSqlDatabase::contains(m_connection))
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(m_connection, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(m_connection);
}

void SummaryCache::rebuild(const QString &why, bool keepAside)
{
    close();
    m_state = State::Off;
    m_stale.clear();
    m_confirmed.clear();
    if (m_rebuilt) {
        turnOff(QStringLiteral("it %1 again").arg(why));
        return;
    }
    m_rebuilt = true;
    const QString aside = m_path + QStringLiteral(".damaged");
    const bool keptAside = keepAside && moveAside(aside);
    qWarning("Quillbrook: the analysis cache %s %s%s; it is rebuilt", qPrintable(m_path),
             qPrintable(why),
             keptAside ? qPrintable(QStringLiteral(", and is kept as %1").arg(aside)) : "");
    // The log first: a log left without its database would be read into the new one.
    for (const char *suffix : {"-wal", "-journal", "", "-shm"})
        QFile::remove(m_path + QLatin1String(suffix));
    std::optional<QSqlError> error;
    const Outcome outcome = connect(&error);
    if (outcome == Outcome::Open)
        m_state = State::Open;
    else
        turnOff(error ? describe(*error) : QStringLiteral("it cannot be made anew"));
}

bool SummaryCache::moveAside(const QString &aside)
{
    // One damaged database is kept, the latest, with its log.
    for (const char *suffix : {"-wal", "-journal", "", "-shm"})
        QFile::remove(aside + QLatin1String(suffix));
    for (const char *suffix : {"-wal", "-journal", ""}) {
        const QByteArray from = QFile::encodeName(m_path + QLatin1String(suffix));
        const QByteArray to = QFile::encodeName(aside + QLatin1String(suffix));
        if (::rename(from.constData(), to.constData()) != 0 && errno != ENOENT)
            return false;
    }
    return true;
}

void SummaryCache::failed(const QSqlError &error)
{
    std::optional<QSqlError> schema;
    if (!isCorruption(error) && m_state == State::Open)
        schema = schemaProblem(QSqlDatabase::database(m_connection, false));
    if (isCorruption(error) || schema)
        rebuild(QStringLiteral("is damaged (%1)").arg(describe(schema ? *schema : error)), true);
    else
        turnOff(describe(error));
}

void SummaryCache::turnOff(const QString &why)
{
    close();
    m_state = State::Off;
    if (m_warnedOff)
        return;
    m_warnedOff = true;
    qWarning("Quillbrook: the analysis cache %s cannot be used (%s); emails are read "
             "without it",
             qPrintable(m_path), qPrintable(why));
}

std::shared_ptr<const CachedFolder> SummaryCache::trustedFolder(const QString &directory,
                                                                const FolderStamp &stamp)
{
    if (!stamp.settled || !ready())
        return nullptr;
    std::optional<FolderSnapshot> snapshot;
    qint64 id = 0;
    {
        QSqlQuery query(QSqlDatabase::database(m_connection, false));
        query.setForwardOnly(true);
        query.prepare(
            QStringLiteral("SELECT id, stamp, snapshot FROM folders WHERE directory = ?"));
        query.addBindValue(directory);
        if (!query.exec() || !query.next())
            return nullptr; // a failure is met again, and handled, by folder()
        id = query.value(0).toLongLong();
        if (!(FolderStamp::fromBytes(query.value(1).toByteArray()) == stamp))
            return nullptr;
        snapshot = decodeSnapshot(query.value(2).toByteArray(), stamp);
    }
    if (!snapshot)
        return nullptr; // none taken, or damaged: the folder is read and checked again
    auto cached = std::make_shared<CachedFolder>();
    cached->m_listing = std::move(snapshot->listing);
    cached->m_entries = std::move(snapshot->entries);
    cached->m_snapshot = std::move(snapshot->bytes);
    cached->m_known = std::count_if(cached->m_entries.cbegin(), cached->m_entries.cend(),
                                    [](const QByteArray &entry) { return !entry.isEmpty(); });
    cached->m_folderId = id;
    cached->m_trusted = true;
    m_rows.rememberId(directory, id);
    return cached;
}

std::shared_ptr<const CachedFolder>
SummaryCache::folder(const QString &directory, std::shared_ptr<const FolderListing> listing)
{
    auto cached = std::make_shared<CachedFolder>();
    cached->m_listing = listing;
    if (!ready())
        return cached;
    std::optional<qint64> id;
    FolderStamp stamp;
    std::optional<QSqlError> error;
    {
        QSqlQuery query(QSqlDatabase::database(m_connection, false));
        query.prepare(QStringLiteral("SELECT id, stamp FROM folders WHERE directory = ?"));
        query.addBindValue(directory);
        if (!query.exec())
            error = query.lastError();
        else if (query.next()) {
            id = query.value(0).toLongLong();
            stamp = FolderStamp::fromBytes(query.value(1).toByteArray());
            m_rows.rememberId(directory, *id);
        }
    }
    if (error) {
        failed(*error);
        return cached;
    }
    if (!id)
        return cached;
    cached->m_entries.resize(listing->files.size());
    bool damaged = false;
    std::vector<StaleRow> stale;
    {
        QSqlQuery query(QSqlDatabase::database(m_connection, false));
        query.setForwardOnly(true);
        query.prepare(QStringLiteral("SELECT unique_name, entry FROM emails WHERE folder = ?"));
        query.addBindValue(*id);
        if (!query.exec())
            error = query.lastError();
        while (!error && query.next()) {
            QString uniqueName = query.value(0).toString();
            QByteArray entry = query.value(1).toByteArray();
            if (!entryHolds(uniqueName, entry)) {
                damaged = true;
                break;
            }
            const int position = listing->indexOfUnique.value(uniqueName, -1);
            if (position < 0) {
                stale.push_back({*id, std::move(uniqueName)});
            } else {
                cached->m_entries[size_t(position)] = std::move(entry);
                ++cached->m_known;
            }
        }
        if (!error && !damaged && query.lastError().isValid())
            error = query.lastError();
    }
    if (damaged || error) {
        if (damaged)
            rebuild(QStringLiteral("holds a row that fails its check"), true);
        else
            failed(*error);
        auto none = std::make_shared<CachedFolder>();
        none->m_listing = std::move(listing);
        return none;
    }
    cached->m_folderId = id;
    cached->m_trusted = stamp == cached->m_listing->stamp;
    m_stale.insert(m_stale.end(), std::make_move_iterator(stale.begin()),
                   std::make_move_iterator(stale.end()));
    return cached;
}

void SummaryCache::outdated(const CachedFolder &folder, const QString &uniqueName)
{
    if (folder.m_folderId)
        m_stale.push_back({*folder.m_folderId, uniqueName});
}

void SummaryCache::confirm(const QString &directory, std::shared_ptr<const FolderListing> listing)
{
    if (listing->stamp.settled && listing->stampTellsAll)
        m_confirmed.push_back({directory, std::move(listing)});
}

void SummaryCache::writeSnapshots()
{
    const std::vector<Confirmed> confirmed = std::exchange(m_confirmed, {});
    if (confirmed.empty() || !ready())
        return;
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    std::optional<QSqlError> error = beginWriting(db);
    {
        QSqlQuery rows(db);
        QSqlQuery update(db);
        rows.setForwardOnly(true);
        if (!error && !(rows.prepare(QStringLiteral(
                            "SELECT unique_name, entry FROM emails WHERE folder = ?")) &&
                        update.prepare(QStringLiteral(
                            "UPDATE folders SET stamp = ?, snapshot = ? WHERE id = ?"))))
            error = rows.lastError().isValid() ? rows.lastError() : update.lastError();
        for (size_t i = 0; !error && i < confirmed.size(); ++i) {
            const FolderListing &listing = *confirmed[i].listing;
            const std::optional<qint64> folder = m_rows.folderId(confirmed[i].directory, true);
            if (!folder) {
                error = db.lastError();
                break;
            }
            std::vector<QByteArray> entries(listing.files.size());
            rows.addBindValue(*folder);
            if (!rows.exec()) {
                error = rows.lastError();
                break;
            }
            while (rows.next()) {
                const QString uniqueName = rows.value(0).toString();
                const int position = listing.indexOfUnique.value(uniqueName, -1);
                QByteArray entry = rows.value(1).toByteArray();
                if (position >= 0 && entryHolds(uniqueName, entry))
                    entries[size_t(position)] = std::move(entry);
            }
            if (rows.lastError().isValid()) {
                error = rows.lastError();
                break;
            }
            update.addBindValue(listing.stamp.bytes());
            update.addBindValue(encodeSnapshot(listing, std::move(entries)));
            update.addBindValue(*folder);
            if (!update.exec())
                error = update.lastError();
        }
    }
    if (!error && !db.commit())
        error = db.lastError();
    if (!error)
        return;
    db.rollback();
    db = QSqlDatabase();
    failed(*error);
}

bool SummaryCache::write(const std::vector<SummaryRow> &rows, const std::vector<StaleRow> &removals,
                         const QStringList &distrusted)
{
    if (!drainWriter())
        return false;
    const std::optional<QSqlError> error = m_rows.write(rows, removals, distrusted);
    if (error)
        failed(*error);
    return !error;
}

bool SummaryCache::drainWriter()
{
    if (!m_background)
        return true;
    const std::optional<QSqlError> error = m_background->finish();
    m_background.reset();
    if (error)
        failed(*error);
    return !error;
}

void SummaryCache::store()
{
    std::vector<SummaryRow> rows = m_pending->take();
    if ((rows.empty() && m_stale.empty()) || !ready())
        return;
    if (!m_background)
        m_background = std::make_unique<BackgroundRowWriter>(m_path);
    m_background->write(std::move(rows), std::exchange(m_stale, {}));
}

void SummaryCache::replace(const QString &directory, const QString &oldUniqueName,
                           const QString &newUniqueName, const FileStamp &stamp,
                           const mailstore::EmailSummary &summary)
{
    if (!ready())
        return;
    std::vector<StaleRow> removals;
    if (const auto folder = m_rows.folderId(directory, false))
        removals.push_back({*folder, oldUniqueName});
    std::vector<SummaryRow> rows{
        {directory, newUniqueName, encodeEntry(newUniqueName, stamp, summary)}};
    if (rows.front().entry.size() > largestEntry)
        rows.clear();
    // A rewrite renames in the folder, which changes its stamp; not trusted until checked.
    write(rows, removals, {directory});
}

void SummaryCache::forget(const QString &directory, const QString &uniqueName)
{
    if (!ready())
        return;
    if (const auto folder = m_rows.folderId(directory, false))
        write({}, {{*folder, uniqueName}}, {directory});
}

} // namespace maildir
