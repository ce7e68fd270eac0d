#include "SavedFilePlacer.h"

#include "SaveNaming.h"
#include "common/Error.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString leftoverPrefix = QStringLiteral(".qb-");
const QString leftoverSuffix = QStringLiteral(".part");

// A regular file opened for reading, never blocking on a FIFO or following a link.
struct ReadableFile
{
    int fd = -1;
    qint64 size = 0;
    explicit ReadableFile(const QString &path)
    {
        fd = ::open(QFile::encodeName(path).constData(),
                    O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY);
        struct stat info = {};
        if (fd >= 0 && (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))) {
            ::close(fd);
            fd = -1;
        }
        size = qint64(info.st_size);
    }
    ~ReadableFile()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

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

bool sameContent(const QString &a, const QString &b)
{
    ReadableFile first(a);
    ReadableFile second(b);
    if (first.fd < 0 || second.fd < 0 || first.size != second.size)
        return false;
    constexpr qsizetype chunk = 1 << 16;
    QByteArray one(chunk, Qt::Uninitialized);
    QByteArray two(chunk, Qt::Uninitialized);
    for (qint64 left = first.size; left > 0;) {
        const qsizetype length = qsizetype(std::min<qint64>(chunk, left));
        if (!readAll(first.fd, one.data(), length) || !readAll(second.fd, two.data(), length) ||
            std::memcmp(one.constData(), two.constData(), size_t(length)) != 0)
            return false;
        left -= length;
    }
    return true;
}

struct TemporaryFile
{
    QString path;
    ~TemporaryFile()
    {
        if (!path.isEmpty())
            QFile::remove(path);
    }
};

} // namespace

SavedFilePlacer::SavedFilePlacer(SavedFileList &savedFiles, qb::NoReplaceMove firstMethod)
    : m_savedFiles(savedFiles), m_firstMethod(firstMethod)
{
}

void SavedFilePlacer::removeLeftovers(const QString &folder)
{
    // Temporary files of killed runs; old enough that no live run still writes them.
    const QDateTime stale = QDateTime::currentDateTimeUtc().addSecs(-36 * 3600);
    const QDir dir(folder);
    for (const QFileInfo &entry :
         dir.entryInfoList({leftoverPrefix + QLatin1Char('*') + leftoverSuffix},
                           QDir::Files | QDir::Hidden | QDir::System)) {
        if (!entry.isSymLink() && entry.isFile() && entry.lastModified().toUTC() < stale)
            QFile::remove(entry.filePath());
    }
}

void SavedFilePlacer::syncPlacedNames()
{
    for (const QString &folder : std::as_const(m_unsyncedFolders))
        qb::syncDirectory(folder);
    m_unsyncedFolders.clear();
}

QString SavedFilePlacer::place(const QString &wantedPath,
                               const std::function<void(const QString &)> &write)
{
    const QString folder = QFileInfo(wantedPath).path();
    if (!qb::makePathDurably(folder)) {
        throw qb::Error(
            QStringLiteral("Cannot create the folder %1: %2").arg(folder, qb::systemErrorText()));
    }
    if (!m_visitedFolders.contains(folder)) {
        m_visitedFolders.insert(folder);
        removeLeftovers(folder);
    }

    TemporaryFile temporary;
    temporary.path = folder + QLatin1Char('/') + leftoverPrefix +
                     QStringLiteral("%1").arg(QRandomGenerator::global()->generate64(), 16, 16,
                                              QLatin1Char('0')) +
                     leftoverSuffix;
    write(temporary.path);

    for (int number = 1; number <= maxCandidates; ++number) {
        const QString candidate = number == 1 ? wantedPath : numberedPath(wantedPath, number);
        if (m_savedFiles.contains(candidate))
            continue;
        if (qb::moveWithoutReplacing(temporary.path, candidate, m_firstMethod)) {
            temporary.path.clear();
        } else if (errno != EEXIST) {
            throw qb::Error(
                QStringLiteral("Cannot save %1: %2").arg(candidate, qb::systemErrorText()));
        } else if (!sameContent(temporary.path, candidate)) {
            continue; // another file, or something that is no file at all
        }
        m_unsyncedFolders.insert(folder);
        m_savedFiles.add(candidate);
        return candidate;
    }
    throw qb::Error(QStringLiteral("Cannot save %1: no free name among %2 tried")
                        .arg(wantedPath)
                        .arg(maxCandidates));
}
