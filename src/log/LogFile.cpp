#include "LogFile.h"

#include "TLogManager.h"
#include "common/Error.h"
#include "common/FileDescriptor.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

// Never wait for a reader or a device, never follow a link at the last step.
constexpr int safeFlags = O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY;

QString errorText(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

[[noreturn]] void refuse(const QString &key, const QString &why)
{
    throw qb::Error(QStringLiteral("Cannot log to %1: %2").arg(key, why));
}

[[noreturn]] void refuseNotRegular(const QString &key)
{
    refuse(key, QStringLiteral("it is not a regular file"));
}

[[noreturn]] void refuseLink(const QString &key)
{
    refuse(key, QStringLiteral("it is a symbolic link; give the file it points to"));
}

void checkNewName(const QString &key)
{
    if (QFileInfo(key).fileName().startsWith(QLatin1Char('.')))
        refuse(key, QStringLiteral("a new log file's name must not start with a dot"));
}

// Throws unless the open file is a regular file that is empty or an action log;
// true when it is empty.
bool checkOpened(int fd, const QString &key)
{
    struct stat status = {};
    if (::fstat(fd, &status) != 0)
        refuse(key, errorText(errno));
    if (!S_ISREG(status.st_mode))
        refuseNotRegular(key);
    if (status.st_size == 0) {
        checkNewName(key);
        return true;
    }
    const QByteArray header = logHeaderLine().toUtf8();
    QByteArray start(header.size() + 1, '\0');
    const ssize_t got = ::pread(fd, start.data(), size_t(start.size()), 0);
    if (got < 0)
        refuse(key, errorText(errno));
    start.truncate(got);
    if (start != header && start != header + '\r' && start != header + '\n')
        refuse(key, QStringLiteral("the file is not an action log of this program (its first "
                                   "line is not \"%1\"); give a new file or an existing log")
                        .arg(logHeaderLine()));
    return false;
}

} // namespace

QString logHeaderLine()
{
    return QStringLiteral("Quillbrook Log File");
}

void checkLogFile(const QString &logName)
{
    const QString key = TLogManager::normalise(logName);
    if (key.isEmpty())
        return;
    const QByteArray path = QFile::encodeName(key);
    struct stat status = {};
    if (::lstat(path.constData(), &status) != 0) {
        if (errno == ENOENT)
            checkNewName(key);
        return;
    }
    // Looked at before anything opens it: opening some devices already acts.
    if (S_ISLNK(status.st_mode))
        refuseLink(key);
    if (!S_ISREG(status.st_mode))
        refuseNotRegular(key);
    const qb::FileDescriptor file(::open(path.constData(), O_RDONLY | safeFlags));
    if (file.get() >= 0)
        checkOpened(file.get(), key);
}

int openLogFile(const QString &key, bool append, bool *needsHeader)
{
    const QByteArray path = QFile::encodeName(key);
    constexpr int flags = O_RDWR | O_APPEND | safeFlags;
    int fd = ::open(path.constData(), flags);
    if (fd < 0 && errno == ENOENT) {
        checkNewName(key);
        fd = ::open(path.constData(), flags | O_CREAT | O_EXCL, 0666);
        if (fd < 0 && errno == EEXIST) // made by someone else meanwhile: checked below
            fd = ::open(path.constData(), flags);
    }
    if (fd < 0) {
        const int code = errno;
        if (code == ELOOP)
            refuseLink(key);
        if (code == ENXIO) // a FIFO without a reader, a device that is not there
            refuseNotRegular(key);
        throw qb::Error(errorText(code));
    }
    qb::FileDescriptor file(fd);
    *needsHeader = checkOpened(fd, key);
    if (!append && !*needsHeader) {
        if (::ftruncate(fd, 0) != 0)
            throw qb::Error(errorText(errno));
        *needsHeader = true;
    }
    // A regular file never waits; the writes need no non-blocking mode.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return file.release();
}
