#include "FileSystem.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qb {

void syncDirectory(const QString &directory)
{
    const int fd =
        ::open(QFile::encodeName(directory).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

QString systemErrorText()
{
    return QString::fromLocal8Bit(strerror(errno));
}

bool writeAll(int fd, QByteArrayView bytes)
{
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t wrote = ::write(fd, bytes.data() + done, size_t(bytes.size() - done));
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote < 0)
            return false;
        done += wrote;
    }
    return true;
}

QByteArray sha256OfFile(int fd)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    QByteArray buffer(1 << 16, Qt::Uninitialized);
    off_t at = 0;
    while (true) {
        const ssize_t got = ::pread(fd, buffer.data(), size_t(buffer.size()), at);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return {};
        if (got == 0)
            return hash.result();
        hash.addData(QByteArrayView(buffer.constData(), qsizetype(got)));
        at += got;
    }
}

bool makePathDurably(const QString &folder)
{
    const QString clean = QDir::cleanPath(QDir(folder).absolutePath());
    QStringList created;
    QString missing = clean;
    while (!QFileInfo(missing).isDir()) {
        created.prepend(missing);
        const QString parent = QFileInfo(missing).path();
        if (parent == missing)
            break;
        missing = parent;
    }
    for (const QString &level : std::as_const(created)) {
        if (::mkdir(QFile::encodeName(level).constData(), 0777) != 0 && errno != EEXIST)
            return false;
    }
    if (!QFileInfo(clean).isDir()) {
        errno = ENOTDIR; // a file stands where a folder should be
        return false;
    }
    if (created.isEmpty())
        return true;
    for (const QString &level : std::as_const(created))
        syncDirectory(level);
    syncDirectory(QFileInfo(created.first()).path());
    return true;
}

namespace {

// Errors that mean "this file system cannot do it this way", not "the name is taken".
bool unsupported(int error)
{
    return error == EPERM || error == EOPNOTSUPP || error == ENOSYS || error == EINVAL ||
           error == ENOTSUP;
}

} // namespace

bool moveWithoutReplacing(const QString &from, const QString &to, NoReplaceMove first)
{
    return moveWithoutReplacingAt(AT_FDCWD, QFile::encodeName(from), QFile::encodeName(to), first);
}

bool moveWithoutReplacingAt(int folderFd, const QByteArray &from, const QByteArray &to,
                            NoReplaceMove first)
{
    const char *source = from.constData();
    const char *target = to.constData();
    if (first == NoReplaceMove::HardLink) {
        if (::linkat(folderFd, source, folderFd, target, 0) == 0) {
            ::unlinkat(folderFd, source, 0);
            return true;
        }
        if (!unsupported(errno))
            return false;
    }
    if (first != NoReplaceMove::Placeholder) {
        if (::renameat2(folderFd, source, folderFd, target, RENAME_NOREPLACE) == 0)
            return true;
        if (!unsupported(errno))
            return false;
    }
    const int placeholder =
        ::openat(folderFd, target, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (placeholder < 0)
        return false;
    ::close(placeholder);
    if (::renameat(folderFd, source, folderFd, target) == 0)
        return true;
    const int error = errno;
    ::unlinkat(folderFd, target, 0);
    errno = error;
    return false;
}

} // namespace qb
