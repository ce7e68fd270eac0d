#include "SavedFileAccess.h"

#include "common/Error.h"
#include "common/FileDescriptor.h"
#include "common/FileSystem.h"

#include <QCryptographicHash>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace undo {

namespace {

struct OpenedFile
{
    qb::FileDescriptor folder; // the level that holds it
    QByteArray name;
    QByteArray content;
};

[[noreturn]] void refuse(const SavedFileRef &file, const QString &why)
{
    throw qb::Error(QStringLiteral("The saved file %1 %2").arg(file.path, why));
}

OpenedFile openBelow(const QString &root, const SavedFileRef &file)
{
    qb::FileDescriptor folder(
        ::open(QFile::encodeName(root).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.isOpen())
        refuse(file, QStringLiteral("cannot be reached: %1").arg(qb::systemErrorText()));
    const QList<QByteArray> levels = QFile::encodeName(file.path).split('/');
    for (qsizetype level = 0; level + 1 < levels.size(); ++level) {
        const QByteArray &name = levels[level];
        if (name.isEmpty() || name == "." || name == "..")
            refuse(file, QStringLiteral("does not lie below the record's folder"));
        qb::FileDescriptor next(::openat(folder.get(), name.constData(),
                                         O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!next.isOpen())
            refuse(file, QStringLiteral("cannot be reached without following a link: %1")
                             .arg(qb::systemErrorText()));
        folder = std::move(next);
    }
    const QByteArray name = levels.last();
    if (name.isEmpty() || name == "." || name == "..")
        refuse(file, QStringLiteral("does not lie below the record's folder"));
    const qb::FileDescriptor fd(::openat(
        folder.get(), name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd.isOpen())
        refuse(file, QStringLiteral("cannot be opened: %1").arg(qb::systemErrorText()));
    struct stat info = {};
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode))
        refuse(file, QStringLiteral("is not a regular file"));
    if (info.st_size != file.size)
        refuse(file, QStringLiteral("has changed: its size is %1 bytes, not %2")
                         .arg(info.st_size)
                         .arg(file.size));
    QByteArray content(qsizetype(file.size), Qt::Uninitialized);
    qsizetype done = 0;
    while (done < content.size()) {
        const ssize_t got = ::read(fd.get(), content.data() + done, size_t(content.size() - done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            refuse(file, QStringLiteral("cannot be read whole"));
        done += got;
    }
    if (QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex() != file.sha256)
        refuse(file, QStringLiteral("has changed: its SHA-256 is not the recorded one"));
    return {std::move(folder), name, std::move(content)};
}

} // namespace

QByteArray readSavedFile(const QString &root, const SavedFileRef &file)
{
    return openBelow(root, file).content;
}

QString removeSavedFile(const QString &root, const SavedFileRef &file)
{
    try {
        const OpenedFile opened = openBelow(root, file);
        if (::unlinkat(opened.folder.get(), opened.name.constData(), 0) != 0)
            return qb::systemErrorText();
        ::fsync(opened.folder.get());
        return {};
    } catch (const qb::Error &e) {
        return e.message();
    }
}

} // namespace undo
