#include "MaildirSession.h"

#include "CacheCoding.h"
#include "SummaryCache.h"
#include "common/Error.h"
#include "common/FileSystem.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <time.h>
#include <unistd.h>

namespace maildir {

namespace {

const QString folderSeparator = QStringLiteral("//");
const QString itemSeparator = QStringLiteral("::");

// Lists the email files of one of a Maildir's cur/ and new/. Entries that are no email
// file (a named pipe, a device, a link to one) are never opened, and go to skipped.
// False when a link was listed or the directory could not be read to its end.
bool readSubdirectory(const QString &directory, const char *subdirectory,
                      std::vector<MessageFile> &files, std::vector<SkippedEntry> &skipped)
{
    const QByteArray path = QFile::encodeName(directory) + '/' + subdirectory;
    const std::unique_ptr<DIR, int (*)(DIR *)> dir(opendir(path.constData()), closedir);
    if (!dir) {
        noteUnreadable(QFile::decodeName(path), skipped); // a Maildir without new/ has no new mail
        return false;
    }
    QString whyNot;
    bool plainFiles = true;
    for (;;) {
        errno = 0;
        const dirent *entry = readdir(dir.get());
        if (!entry && errno != 0) {
            skipped.push_back(
                {QFile::decodeName(path),
                 QStringLiteral("could not be read to its end: %1").arg(qb::systemErrorText())});
            return false;
        }
        if (!entry)
            return plainFiles;
        if (entry->d_name[0] == '.')
            continue;
        const QString name = QFile::decodeName(entry->d_name);
        bool link = false;
        const bool email =
            isMessageFile(dirfd(dir.get()), entry->d_name, entry->d_type, &whyNot, &link);
        plainFiles = plainFiles && !link;
        if (!email) {
            skipped.push_back({QFile::decodeName(path) + QLatin1Char('/') + name, whyNot});
            continue;
        }
        const qsizetype info = name.indexOf(QLatin1Char(':'));
        files.push_back({info < 0 ? name : name.left(info),
                         QString::fromLatin1(subdirectory) + QLatin1Char('/') + name});
    }
}

// Files this program writes to a folder's tmp/ and that a killed run can leave:
// old enough that no live run can still be writing them (the Maildir rule for tmp/).
void removeLeftovers(const FolderNode &folder)
{
    if (!folder.directory.isEmpty()) {
        const QDir tmp(folder.directory + QStringLiteral("/tmp"));
        const QDateTime stale = QDateTime::currentDateTimeUtc().addSecs(-36 * 3600);
        for (const QFileInfo &entry :
             tmp.entryInfoList({QStringLiteral("*.writing")}, QDir::Files | QDir::Hidden)) {
            if (!entry.isSymLink() && entry.lastModified().toUTC() < stale)
                QFile::remove(entry.filePath());
        }
    }
    for (const auto &child : folder.children)
        removeLeftovers(*child);
}

} // namespace

namespace {

// Whether the directory's times are its own computer's, kept as they change: not a network
// file system's, whose client may answer from a cache and whose server keeps its own clock.
bool onLocalFileSystem(const QByteArray &path)
{
    struct statfs info = {};
    if (::statfs(path.constData(), &info) != 0)
        return false;
    switch (static_cast<unsigned long>(info.f_type)) {
    case 0x6969:     // NFS
    case 0x517B:     // SMB
    case 0xFF534D42: // CIFS
    case 0xFE534D42: // SMB2
    case 0x65735546: // FUSE
    case 0x01021997: // 9P
    case 0x00C36400: // Ceph
    case 0x5346414F: // AFS
    case 0x73757245: // Coda
    case 0x47504653: // GPFS
    case 0x0BD00BD0: // Lustre
        return false;
    default:
        return true;
    }
}

} // namespace

FolderStamp FolderStamp::of(const QString &directory)
{
    // A directory changed this recently may change again within the same tick of the
    // file system's clock without its time moving on.
    constexpr qint64 settleNs = 2'000'000'000;
    FolderStamp stamp;
    qint64 latest = 0;
    const QByteArray base = QFile::encodeName(directory);
    const char *const subdirectories[] = {"/cur", "/new"};
    for (size_t i = 0; i < std::size(subdirectories); ++i) {
        struct stat info = {};
        if (::stat((base + subdirectories[i]).constData(), &info) != 0 || !S_ISDIR(info.st_mode))
            return {};
        const qint64 modified =
            qint64(info.st_mtim.tv_sec) * 1'000'000'000 + qint64(info.st_mtim.tv_nsec);
        const size_t at = 3 * i;
        stamp.values[at] = qint64(info.st_dev);
        stamp.values[at + 1] = qint64(info.st_ino);
        stamp.values[at + 2] = modified;
        latest = std::max(latest, modified);
    }
    timespec now = {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    stamp.settled = latest < qint64(now.tv_sec) * 1'000'000'000 + now.tv_nsec - settleNs &&
                    onLocalFileSystem(base);
    return stamp;
}

QByteArray FolderStamp::bytes() const
{
    QByteArray out;
    for (const qint64 value : values)
        coding::appendNumber(out, value);
    return out;
}

FolderStamp FolderStamp::fromBytes(const QByteArray &bytes)
{
    FolderStamp stamp;
    if (bytes.size() != qsizetype(sizeof stamp.values))
        return stamp;
    for (size_t i = 0; i < stamp.values.size(); ++i)
        stamp.values[i] = coding::numberAt(bytes, qsizetype(i * sizeof(qint64)));
    stamp.settled = true;
    return stamp;
}

FolderListing FolderListing::read(const QString &directory)
{
    FolderListing listing;
    if (directory.isEmpty())
        return listing;
    listing.stamp = FolderStamp::of(directory);
    const bool wholeCur = readSubdirectory(directory, "cur", listing.files, listing.skipped);
    const bool wholeNew = readSubdirectory(directory, "new", listing.files, listing.skipped);
    std::sort(
        listing.files.begin(), listing.files.end(),
        [](const MessageFile &a, const MessageFile &b) { return a.uniqueName < b.uniqueName; });
    for (int i = 0; i < int(listing.files.size()); ++i) {
        listing.files[size_t(i)].position = i;
        listing.indexOfUnique.insert(listing.files[size_t(i)].uniqueName, i);
    }
    listing.stampTellsAll = wholeCur && wholeNew && listing.skipped.empty() &&
                            size_t(listing.indexOfUnique.size()) == listing.files.size();
    return listing;
}

Session::Session(const QStringList &roots, const QString &summaryCachePath)
    : m_summaryCachePath(summaryCachePath)
{
    for (const QString &root : roots) {
        const QFileInfo info(root);
        QString problem;
        if (!info.exists())
            problem = QStringLiteral("it does not exist");
        else if (!info.isDir())
            problem = QStringLiteral("it is not a folder");
        else if (!info.isReadable() || !info.isExecutable())
            problem = QStringLiteral("it cannot be read");
        if (!problem.isEmpty())
            throw qb::MailStoreError(
                QStringLiteral("Cannot open the mail store %1: %2").arg(root, problem));
        m_roots << QDir::cleanPath(info.absoluteFilePath());
    }
    for (const QString &root : std::as_const(m_roots))
        Journal::recover(root);
}

struct Session::OpenDirectories
{
    const FolderNode *folder = nullptr;
    int cur = -1;
    int fresh = -1; // new/

    OpenDirectories(const FolderNode &node) : folder(&node)
    {
        const QByteArray base = QFile::encodeName(node.directory);
        cur = ::open((base + "/cur").constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        fresh = ::open((base + "/new").constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }
    ~OpenDirectories()
    {
        for (const int fd : {cur, fresh}) {
            if (fd >= 0)
                ::close(fd);
        }
    }
    OpenDirectories(const OpenDirectories &) = delete;
    OpenDirectories &operator=(const OpenDirectories &) = delete;
};

Session::~Session() = default;

bool Session::fileStatus(const FolderNode &folder, const MessageFile &file, struct stat *info)
{
    if (!m_statDirectories || m_statDirectories->folder != &folder) {
        m_statDirectories.reset();
        m_statDirectories = std::make_unique<OpenDirectories>(folder);
    }
    const QString &relative = file.relativePath;
    const int directory = relative.startsWith(QLatin1String("cur/"))   ? m_statDirectories->cur
                          : relative.startsWith(QLatin1String("new/")) ? m_statDirectories->fresh
                                                                       : -1;
    if (directory >= 0)
        return ::fstatat(directory, QFile::encodeName(relative.mid(4)).constData(), info, 0) == 0;
    const QString path = folder.directory + QLatin1Char('/') + relative;
    return ::stat(QFile::encodeName(path).constData(), info) == 0;
}

SummaryCache *Session::summaryCache()
{
    if (!m_summaryCache && !m_summaryCachePath.isEmpty())
        m_summaryCache = std::make_unique<SummaryCache>(m_summaryCachePath);
    return m_summaryCache.get();
}

std::shared_ptr<const CachedFolder> Session::cachedFolder(const FolderNode &folder)
{
    SummaryCache *cache = summaryCache();
    if (!cache)
        return nullptr;
    if (m_cachedNode != &folder || !m_cachedFolder) {
        m_cachedFolder.reset(); // one folder's rows in memory at a time
        const std::shared_ptr<const FolderListing> listed = listing(folder);
        // The listing may have come with the folder's snapshot.
        m_cachedFolder = m_trustedFolder && &m_trustedFolder->listing() == listed.get()
                             ? m_trustedFolder
                             : cache->folder(folder.directory, listed);
        m_trustedFolder.reset();
        m_cachedNode = &folder;
        m_filesChecked = 0;
        m_filesRead = false;
    }
    return m_cachedFolder;
}

void Session::fileChecked(const FolderNode &folder, bool read)
{
    if (m_cachedNode != &folder || !m_cachedFolder)
        return;
    m_filesRead = m_filesRead || read;
    if (++m_filesChecked < m_cachedFolder->listing().files.size())
        return;
    // A trusted folder is confirmed again for a snapshot it has not, or one that lacked a file.
    if (!m_cachedFolder->trusted() || !m_cachedFolder->fromSnapshot() || m_filesRead)
        m_summaryCache->confirm(folder.directory, m_cachedFolder->listingShared());
}

void Session::scan()
{
    if (m_scanned)
        return;
    for (const QString &root : m_roots)
        m_stores.push_back(std::make_shared<const Store>(
            Store{root, root, scanStore(root), std::make_shared<Journal>(root)}));
    m_scanned = true;
}

const std::vector<std::shared_ptr<const Session::Store>> &Session::stores()
{
    scan();
    return m_stores;
}

std::shared_ptr<const Session::Store> Session::storeById(const QString &storeId)
{
    scan();
    for (const auto &store : m_stores) {
        if (store->id == storeId)
            return store;
    }
    return nullptr;
}

std::shared_ptr<FolderNode> Session::folderFromId(const QString &entryId,
                                                  std::shared_ptr<const Store> *store)
{
    const qsizetype split = entryId.indexOf(folderSeparator);
    if (split < 0)
        return nullptr;
    const std::shared_ptr<const Store> found = storeById(entryId.left(split));
    if (!found)
        return nullptr;
    if (store)
        *store = found;
    return findByPath(found->top, entryId.mid(split + folderSeparator.size()));
}

std::shared_ptr<const FolderListing> Session::listing(const FolderNode &folder, bool refresh)
{
    auto cached = m_listings.constFind(&folder);
    if (cached != m_listings.cend() && !refresh)
        return *cached;
    std::shared_ptr<const FolderListing> listing;
    SummaryCache *cache = refresh || folder.directory.isEmpty() ? nullptr : summaryCache();
    if (cache) {
        // A folder unchanged since the cache last checked it all is listed from there.
        m_trustedFolder = cache->trustedFolder(folder.directory, FolderStamp::of(folder.directory));
        if (m_trustedFolder)
            listing = m_trustedFolder->listingShared();
    }
    if (!listing)
        listing = std::make_shared<FolderListing>(FolderListing::read(folder.directory));
    m_listings.insert(&folder, listing);
    return listing;
}

void Session::recordReplacement(const FolderNode &folder, const QString &oldUniqueName,
                                const MessageFile &replacement)
{
    // The listings handed out stay as they were read; look-ups follow this record.
    m_replacements.insert(folder.directory + QLatin1Char('\n') + oldUniqueName, replacement);
}

std::optional<MessageFile> Session::replacementOf(const FolderNode &folder,
                                                  const QString &uniqueName) const
{
    std::optional<MessageFile> found;
    QString name = uniqueName;
    // An email rewritten twice in one session is found through both replacements.
    for (auto it = m_replacements.constFind(folder.directory + QLatin1Char('\n') + name);
         it != m_replacements.cend();
         it = m_replacements.constFind(folder.directory + QLatin1Char('\n') + name)) {
        found = *it;
        name = it->uniqueName;
    }
    return found;
}

void Session::lockForChanges(const std::function<bool(int)> &stillWaiting)
{
    if (!m_locks.empty())
        return;
    for (const auto &store : stores())
        m_locks.push_back(std::make_unique<StoreLock>(store->root, stillWaiting));
    for (const auto &store : stores())
        removeLeftovers(*store->top);
}

QString Session::folderEntryId(const Store &store, const FolderNode &folder)
{
    return store.id + folderSeparator + folder.path;
}

QString Session::itemEntryId(const QString &folderEntryId, const QString &uniqueName)
{
    return folderEntryId + itemSeparator + uniqueName;
}

bool Session::splitItemEntryId(const QString &entryId, QString *folderEntryId, QString *uniqueName)
{
    // A unique name never holds ":", so the last "::" ends the folder's id.
    const qsizetype split = entryId.lastIndexOf(itemSeparator);
    if (split < 0 || split + itemSeparator.size() >= entryId.size())
        return false;
    *folderEntryId = entryId.left(split);
    *uniqueName = entryId.mid(split + itemSeparator.size());
    return !uniqueName->contains(QLatin1Char(':'));
}

} // namespace maildir
