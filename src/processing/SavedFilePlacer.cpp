#include "SavedFilePlacer.h"

#include "SaveNaming.h"
#include "common/Error.h"
#include "common/FileDescriptor.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QByteArray leftoverPrefix = QByteArrayLiteral(".qb-");
const QByteArray leftoverSuffix = QByteArrayLiteral(".part");

// Where a wanted path lies below the destination: its folder levels and its name.
struct Below
{
    QString root; // the destination, without a closing "/"
    QStringList levels;
    QString name;
};

Below below(const QString &destination, const QString &path)
{
    Below result;
    const QString prefix =
        destination.endsWith(QLatin1Char('/')) ? destination : destination + QLatin1Char('/');
    result.root = prefix.size() > 1 ? prefix.chopped(1) : prefix;
    result.levels = path.mid(prefix.size()).split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (destination.isEmpty() || !path.startsWith(prefix) || result.levels.isEmpty() ||
        path.endsWith(QLatin1Char('/')))
        throw qb::Error(QStringLiteral("%1 is not a file below the destination folder %2")
                            .arg(path, destination));
    result.name = result.levels.takeLast();
    for (const QString &level : std::as_const(result.levels) + QStringList{result.name}) {
        if (level == QLatin1String(".") || level == QLatin1String(".."))
            throw qb::Error(QStringLiteral("%1 leads outside the destination folder %2")
                                .arg(path, destination));
    }
    return result;
}

QString folderPath(const Below &where)
{
    if (where.levels.isEmpty())
        return where.root;
    const QString joined = where.levels.join(u'/');
    return where.root.endsWith(QLatin1Char('/')) ? where.root + joined
                                                 : where.root + QLatin1Char('/') + joined;
}

// The folder of where, entered level by level below the destination without following a
// link; with create, missing levels are made (and flushed, with the entry naming them).
qb::FileDescriptor enterFolder(const Below &where, bool create)
{
    if (create && !qb::makePathDurably(where.root)) {
        throw qb::Error(QStringLiteral("Cannot create the folder %1: %2")
                            .arg(where.root, qb::systemErrorText()));
    }
    // The destination itself as the user named it: a link there is the user's choice.
    qb::FileDescriptor current(
        ::open(QFile::encodeName(where.root).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (current.get() < 0) {
        throw qb::Error(
            QStringLiteral("Cannot open the folder %1: %2").arg(where.root, qb::systemErrorText()));
    }
    QString path = where.root;
    for (const QString &level : where.levels) {
        path += QLatin1Char('/') + level;
        const QByteArray name = QFile::encodeName(level);
        bool made = false;
        if (create) {
            made = ::mkdirat(current.get(), name.constData(), 0777) == 0;
            if (!made && errno != EEXIST) {
                throw qb::Error(QStringLiteral("Cannot create the folder %1: %2")
                                    .arg(path, qb::systemErrorText()));
            }
        }
        qb::FileDescriptor next(::openat(current.get(), name.constData(),
                                         O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (next.get() < 0) {
            const QString why = qb::systemErrorText();
            struct stat info = {};
            if (::fstatat(current.get(), name.constData(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
                S_ISLNK(info.st_mode)) {
                throw qb::Error(QStringLiteral("%1 is a link; saved files never follow a link "
                                               "below the destination folder %2")
                                    .arg(path, where.root));
            }
            throw qb::Error(QStringLiteral("Cannot open the folder %1: %2").arg(path, why));
        }
        if (made) {
            ::fsync(next.get());
            ::fsync(current.get());
        }
        current = std::move(next);
    }
    return current;
}

// A regular file in a folder, opened for reading, never blocking on a FIFO or following a link.
qb::FileDescriptor readableFile(int folder, const QByteArray &name)
{
    qb::FileDescriptor file(::openat(folder, name.constData(),
                                     O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY));
    struct stat info = {};
    if (file.get() >= 0 && (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode))) {
        errno = EINVAL;
        return qb::FileDescriptor();
    }
    return file;
}

qint64 sizeOf(int fd)
{
    struct stat info = {};
    return ::fstat(fd, &info) == 0 ? qint64(info.st_size) : -1;
}

bool readAll(int fd, char *buffer, qsizetype size)
{
    for (qsizetype done = 0; done < size;) {
        const ssize_t got = ::read(fd, buffer + done, size_t(size - done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        done += got;
    }
    return true;
}

constexpr qsizetype chunk = 1 << 16;

bool sameContent(int folder, const QByteArray &a, const QByteArray &b)
{
    const qb::FileDescriptor first = readableFile(folder, a);
    const qb::FileDescriptor second = readableFile(folder, b);
    if (first.get() < 0 || second.get() < 0 || sizeOf(first.get()) != sizeOf(second.get()))
        return false;
    QByteArray one(chunk, Qt::Uninitialized);
    QByteArray two(chunk, Qt::Uninitialized);
    for (qint64 left = sizeOf(first.get()); left > 0;) {
        const qsizetype length = qsizetype(std::min<qint64>(chunk, left));
        if (!readAll(first.get(), one.data(), length) ||
            !readAll(second.get(), two.data(), length) ||
            std::memcmp(one.constData(), two.constData(), size_t(length)) != 0)
            return false;
        left -= length;
    }
    return true;
}

// Temporary files of killed runs; old enough that no live run still writes them.
void removeLeftovers(int folder)
{
    const time_t stale = time_t(QDateTime::currentSecsSinceEpoch() - 36 * 3600);
    DIR *dir = ::fdopendir(::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir)
        return;
    while (const dirent *entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        struct stat info = {};
        if (name.startsWith(leftoverPrefix) && name.endsWith(leftoverSuffix) &&
            ::fstatat(folder, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(info.st_mode) && info.st_mtime < stale)
            ::unlinkat(folder, entry->d_name, 0);
    }
    ::closedir(dir);
}

struct TemporaryFile
{
    int folder = -1;
    QByteArray name;
    ~TemporaryFile()
    {
        if (!name.isEmpty())
            ::unlinkat(folder, name.constData(), 0);
    }
};

// A path for the store to write name in the open folder: through the folder's own
// descriptor where /proc offers it, so that no level can be swapped for a link meanwhile.
QString pathToWrite(int folder, const QString &folderName, const QString &name)
{
    const QString viaDescriptor = QStringLiteral("/proc/self/fd/%1").arg(folder);
    struct stat shown = {};
    struct stat open = {};
    if (::stat(QFile::encodeName(viaDescriptor).constData(), &shown) == 0 &&
        ::fstat(folder, &open) == 0 && shown.st_dev == open.st_dev && shown.st_ino == open.st_ino)
        return viaDescriptor + QLatin1Char('/') + name;
    return folderName + QLatin1Char('/') + name;
}

} // namespace

SavedFilePlacer::SavedFilePlacer(SavedFileList &savedFiles, qb::NoReplaceMove firstMethod)
    : m_savedFiles(savedFiles), m_firstMethod(firstMethod)
{
}

void SavedFilePlacer::syncPlacedNames()
{
    for (const auto &[path, folder] : m_unsyncedFolders)
        ::fsync(folder.get());
    m_unsyncedFolders.clear();
}

SavedFilePlacer::Placed SavedFilePlacer::place(const QString &destination,
                                               const QString &wantedPath,
                                               const std::function<void(const QString &)> &write)
{
    const Below where = below(destination, wantedPath);
    const QString folderName = folderPath(where);
    qb::FileDescriptor folder = enterFolder(where, true);
    if (!m_visitedFolders.contains(folderName)) {
        m_visitedFolders.insert(folderName);
        removeLeftovers(folder.get());
    }

    TemporaryFile temporary{folder.get(),
                            leftoverPrefix +
                                QByteArray::number(QRandomGenerator::global()->generate64(), 16)
                                    .rightJustified(16, '0') +
                                leftoverSuffix};
    const QString temporaryName = QString::fromLatin1(temporary.name);
    const QString writtenPath = pathToWrite(folder.get(), folderName, temporaryName);
    try {
        write(writtenPath);
    } catch (const qb::Error &e) {
        // The store names the path it was given: say the folder's own.
        const QString shown = folderName + QLatin1Char('/') + temporaryName;
        if (writtenPath == shown || !e.message().contains(writtenPath))
            throw;
        QString message = e.message();
        message.replace(writtenPath, shown);
        if (dynamic_cast<const qb::MailStoreError *>(&e))
            throw qb::MailStoreError(message);
        throw qb::Error(message);
    }
    Placed placed;
    {
        const qb::FileDescriptor written = readableFile(folder.get(), temporary.name);
        if (written.get() >= 0)
            placed.sha256 = QString::fromLatin1(qb::sha256OfFile(written.get()).toHex());
        if (placed.sha256.isEmpty()) {
            throw qb::Error(QStringLiteral("Cannot read back %1/%2: %3")
                                .arg(folderName, temporaryName, qb::systemErrorText()));
        }
    }

    for (int number = 1; number <= maxCandidates; ++number) {
        const QString candidate = number == 1 ? wantedPath : numberedPath(wantedPath, number);
        if (m_savedFiles.contains(candidate))
            continue;
        const QByteArray name = QFile::encodeName(candidate.mid(candidate.lastIndexOf(u'/') + 1));
        if (qb::moveWithoutReplacingAt(folder.get(), temporary.name, name, m_firstMethod)) {
            temporary.name.clear();
            placed.created = true;
        } else if (errno != EEXIST) {
            throw qb::Error(
                QStringLiteral("Cannot save %1: %2").arg(candidate, qb::systemErrorText()));
        } else if (!sameContent(folder.get(), temporary.name, name)) {
            continue; // another file, or something that is no file at all, never followed
        }
        // Kept open until its names are flushed.
        m_unsyncedFolders.try_emplace(folderName, std::move(folder));
        m_savedFiles.add(candidate);
        placed.path = candidate;
        return placed;
    }
    throw qb::Error(QStringLiteral("Cannot save %1: no free name among %2 tried")
                        .arg(wantedPath)
                        .arg(maxCandidates));
}

QString SavedFilePlacer::removeCreated(const QString &destination, const Placed &placed)
{
    if (!placed.created)
        return QStringLiteral("it was there before, with the same content");
    try {
        const Below where = below(destination, placed.path);
        const qb::FileDescriptor folder = enterFolder(where, false);
        const QByteArray name = QFile::encodeName(where.name);
        const qb::FileDescriptor file = readableFile(folder.get(), name);
        if (file.get() < 0)
            return QStringLiteral("it cannot be read: %1").arg(qb::systemErrorText());
        // Never by its name alone: only the content this job placed there goes.
        if (QString::fromLatin1(qb::sha256OfFile(file.get()).toHex()) != placed.sha256)
            return QStringLiteral("its content has changed since it was saved");
        if (::unlinkat(folder.get(), name.constData(), 0) != 0)
            return QStringLiteral("it cannot be removed: %1").arg(qb::systemErrorText());
        ::fsync(folder.get());
        return {};
    } catch (const qb::Error &e) {
        return e.message();
    }
}
