#include "Replacement.h"

#include "common/Error.h"
#include "common/FileSystem.h"

#include <QAtomicInteger>
#include <QFile>

#include <cerrno>

#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace maildir {

namespace {

QAtomicInteger<quint64> deliveries;

QString hostName()
{
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0)
        return QStringLiteral("localhost");
    QString host = QString::fromLocal8Bit(name);
    host.replace(QLatin1Char('/'), QStringLiteral("\\057"));
    host.replace(QLatin1Char(':'), QStringLiteral("\\072"));
    return host;
}

[[noreturn]] void fail(const QString &what, const QString &path)
{
    throw qb::MailStoreError(QStringLiteral("%1 %2: %3").arg(what, path, qb::systemErrorText()));
}

struct Counts
{
    qint64 size = 0;
    qint64 bareLineFeeds = 0; // line ends without their CR
};

Counts countFile(int fd)
{
    Counts counts;
    char buffer[1 << 16];
    char before = 0; // the byte before the buffer's first, which may be a line end's CR
    ::lseek(fd, 0, SEEK_SET);
    for (ssize_t got; (got = ::read(fd, buffer, sizeof buffer)) > 0;) {
        counts.size += got;
        for (ssize_t i = 0; i < got; ++i) {
            if (buffer[i] == '\n' && (i > 0 ? buffer[i - 1] : before) != '\r')
                ++counts.bareLineFeeds;
        }
        before = buffer[got - 1];
    }
    return counts;
}

struct FileGuard
{
    QString path;
    int fd = -1;
    ~FileGuard()
    {
        if (fd >= 0)
            ::close(fd);
        if (!path.isEmpty())
            QFile::remove(path);
    }
};

} // namespace

QString newUniqueName(const QString &oldUniqueName, qint64 size, qint64 bareLineFeeds)
{
    timespec now = {};
    clock_gettime(CLOCK_REALTIME, &now);
    QString name = QStringLiteral("%1.M%2P%3Q%4.%5")
                       .arg(qint64(now.tv_sec))
                       .arg(qint64(now.tv_nsec / 1000))
                       .arg(::getpid())
                       .arg(deliveries.fetchAndAddRelaxed(1) + 1)
                       .arg(hostName());
    if (oldUniqueName.contains(QLatin1String(",S=")))
        name += QStringLiteral(",S=%1").arg(size);
    if (oldUniqueName.contains(QLatin1String(",W=")))
        name += QStringLiteral(",W=%1").arg(size + bareLineFeeds); // the size with CR LF line ends
    return name;
}

namespace {

// The email's file moved or went while it was being rewritten: follow it when
// another program only renamed it (new/ to cur/, flags), so that one copy stays
// with its current flags; when it is gone, the rewrite must not bring it back.
MessageFile settleVanished(const FolderNode &folder, const Replacement &replacement,
                           const MessageFile &written)
{
    const QString newPath = folder.directory + QLatin1Char('/') + written.relativePath;
    const auto moved =
        findMessageFile(folder.directory, replacement.oldUniqueName, replacement.oldIdentity);
    if (!moved) {
        QFile::remove(newPath);
        throw qb::MailStoreError(
            QStringLiteral("The email was moved or deleted by another program while it was "
                           "rewritten; it is left as that program left it"));
    }
    const QString movedPath = folder.directory + QLatin1Char('/') + *moved;
    if (::unlink(QFile::encodeName(movedPath).constData()) != 0 && errno != ENOENT)
        fail(QStringLiteral("Cannot remove the old email file"), movedPath);
    const qsizetype info = moved->indexOf(QLatin1Char(':'));
    MessageFile adjusted{written.uniqueName, moved->section(QLatin1Char('/'), 0, 0) +
                                                 QLatin1Char('/') + written.uniqueName +
                                                 (info < 0 ? QString() : moved->mid(info))};
    const QString adjustedPath = folder.directory + QLatin1Char('/') + adjusted.relativePath;
    if (adjustedPath != newPath && ::rename(QFile::encodeName(newPath).constData(),
                                            QFile::encodeName(adjustedPath).constData()) != 0)
        return written; // the flags stay as they were; the email is whole either way
    return adjusted;
}

} // namespace

MessageFile replaceEmailFile(Journal &journal, const FolderNode &folder, const MessageFile &old,
                             const std::function<void(int fd)> &write,
                             const std::function<void(const QString &path)> &check,
                             const FileStamp *expected)
{
    const QString oldPath = folder.directory + QLatin1Char('/') + old.relativePath;
    struct stat oldInfo = {};
    if (::lstat(QFile::encodeName(oldPath).constData(), &oldInfo) != 0)
        fail(QStringLiteral("Cannot read the email"), oldPath);
    if (S_ISLNK(oldInfo.st_mode)) {
        throw qb::MailStoreError(QStringLiteral("The email file %1 is a link to an email kept "
                                                "elsewhere; change it in its own folder")
                                     .arg(oldPath));
    }
    if (!S_ISREG(oldInfo.st_mode))
        throw qb::MailStoreError(QStringLiteral("%1 is not an email file").arg(oldPath));
    if (expected && !(FileStamp::of(oldInfo) == *expected)) {
        throw qb::MailStoreError(QStringLiteral("The email file %1 was written anew by another "
                                                "program while it was being changed; it is "
                                                "left as that program left it")
                                     .arg(oldPath));
    }

    FileGuard temporary;
    const QString tmp = folder.directory + QStringLiteral("/tmp/");
    temporary.path = tmp + newUniqueName(QString(), 0, 0) + QStringLiteral(".writing");
    temporary.fd = ::open(QFile::encodeName(temporary.path).constData(),
                          O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, oldInfo.st_mode & 07777);
    if (temporary.fd < 0)
        fail(QStringLiteral("Cannot write a new email file"), temporary.path);
    write(temporary.fd);
    check(temporary.path);
    const Counts counts = countFile(temporary.fd);
    ::fchmod(temporary.fd, oldInfo.st_mode & 07777);
    const timespec times[2] = {oldInfo.st_atim, oldInfo.st_mtim}; // the received date stays
    ::futimens(temporary.fd, times);
    if (::fsync(temporary.fd) != 0)
        fail(QStringLiteral("Cannot write a new email file"), temporary.path);

    const QString uniqueName = newUniqueName(old.uniqueName, counts.size, counts.bareLineFeeds);
    const QString ready = tmp + uniqueName;
    if (::rename(QFile::encodeName(temporary.path).constData(),
                 QFile::encodeName(ready).constData()) != 0)
        fail(QStringLiteral("Cannot write a new email file"), ready);
    temporary.path = ready;

    const qsizetype info = old.relativePath.indexOf(QLatin1Char(':'));
    const QString subdirectory = old.relativePath.section(QLatin1Char('/'), 0, 0);
    MessageFile replacement{uniqueName, subdirectory + QLatin1Char('/') + uniqueName +
                                            (info < 0 ? QString() : old.relativePath.mid(info))};
    const Replacement record{
        folder.directory,
        old.relativePath,
        old.uniqueName,
        {quint64(oldInfo.st_dev), quint64(oldInfo.st_ino), qint64(oldInfo.st_size)},
        uniqueName,
        replacement.relativePath};
    // Were the new name in tmp/ lost in a crash, recovery finds neither file of the
    // record and keeps the old email: no flush of tmp/ is needed here.
    journal.record(record);

    // Everything is on disk: the two steps that change what readers of the folder
    // see follow each other at once, so both files show for as short as can be.
    const QString newPath = folder.directory + QLatin1Char('/') + replacement.relativePath;
    if (::rename(QFile::encodeName(ready).constData(), QFile::encodeName(newPath).constData()) != 0)
        fail(QStringLiteral("Cannot move the new email file into place"), newPath);
    temporary.path.clear();
    const bool removed = ::unlink(QFile::encodeName(oldPath).constData()) == 0;
    const int why = errno;
    if (!removed && why == ENOENT) {
        replacement = settleVanished(folder, record, replacement);
    } else if (!removed) {
        journal.keepUnfinished(); // the next opening of the store removes it
        errno = why;
        fail(QStringLiteral("Cannot remove the old email file"), oldPath);
    }
    // One flush of the folder that changed (cur/ or new/) makes both steps durable.
    const QString changed = replacement.relativePath.section(QLatin1Char('/'), 0, 0);
    qb::syncDirectory(folder.directory + QLatin1Char('/') + changed);
    if (changed != subdirectory) // another program had moved the old file
        qb::syncDirectory(folder.directory + QLatin1Char('/') + subdirectory);
    return replacement;
}

} // namespace maildir
