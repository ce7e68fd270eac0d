#include "Journal.h"

#include "common/Error.h"
#include "common/FileSystem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QUrl>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace maildir {

namespace {

const QString journalPrefix = QStringLiteral("quillbrook-journal-");
const QByteArray formatMark = "2";

QByteArray field(const QString &text)
{
    return QUrl::toPercentEncoding(text);
}

QString unfield(const QByteArray &text)
{
    return QString::fromUtf8(QByteArray::fromPercentEncoding(text));
}

bool isPlainName(const QString &name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
           !name.contains(QLatin1Char('/'));
}

// "cur/<name>" or "new/<name>", nothing that could lead elsewhere.
bool isMessagePath(const QString &relative)
{
    const QStringList parts = relative.split(QLatin1Char('/'));
    return parts.size() == 2 &&
           (parts[0] == QLatin1String("cur") || parts[0] == QLatin1String("new")) &&
           isPlainName(parts[1]);
}

void syncFolder(const QString &folder)
{
    for (const char *sub : {"/cur", "/new", "/tmp"})
        qb::syncDirectory(folder + QLatin1String(sub));
}

// The folder a journal line names, when it lies inside the store.
std::optional<QString> folderInside(const QString &canonicalRoot, const QString &relative)
{
    const QString folder =
        QFileInfo(canonicalRoot + QLatin1Char('/') + relative).canonicalFilePath();
    if (folder.isEmpty())
        return std::nullopt;
    if (folder != canonicalRoot && !folder.startsWith(canonicalRoot + QLatin1Char('/')))
        return std::nullopt;
    return folder;
}

void finish(const QString &canonicalRoot, const QByteArray &line, QStringList &touched)
{
    const QList<QByteArray> fields = line.split('\t');
    if (fields.size() != 9 || fields[0] != formatMark)
        return;
    bool numbers = true;
    FileIdentity old;
    bool ok = false;
    old.device = fields[4].toULongLong(&ok);
    numbers = numbers && ok;
    old.inode = fields[5].toULongLong(&ok);
    numbers = numbers && ok;
    old.size = fields[6].toLongLong(&ok);
    numbers = numbers && ok;
    const QString oldRelative = unfield(fields[2]);
    const QString oldUnique = unfield(fields[3]);
    const QString ready = unfield(fields[7]);
    const QString newRelative = unfield(fields[8]);
    if (!numbers || !isMessagePath(oldRelative) || !isMessagePath(newRelative) ||
        !isPlainName(ready) || !isPlainName(oldUnique))
        return;
    const auto folder = folderInside(canonicalRoot, unfield(fields[1]));
    if (!folder) {
        qWarning("Quillbrook: a journal line names a folder outside the mail store %s; "
                 "it is ignored",
                 qPrintable(canonicalRoot));
        return;
    }
    touched << *folder;
    const QString newPath = *folder + QLatin1Char('/') + newRelative;
    const QString readyPath = *folder + QStringLiteral("/tmp/") + ready;
    const auto oldNow = findMessageFile(*folder, oldUnique, old);
    if (FileIdentity::of(newPath)) {
        if (oldNow)
            QFile::remove(*folder + QLatin1Char('/') + *oldNow);
    } else if (FileIdentity::of(readyPath)) {
        if (oldNow)
            QFile::remove(readyPath); // never moved in: the old email stays
        else
            QFile::rename(readyPath, newPath); // the old one went: the new one must stay
    }
}

} // namespace

std::optional<FileIdentity> FileIdentity::of(const QString &path)
{
    struct stat info = {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    return FileIdentity{quint64(info.st_dev), quint64(info.st_ino), qint64(info.st_size)};
}

std::optional<QString> findMessageFile(const QString &folderDirectory, const QString &uniqueName,
                                       const FileIdentity &identity)
{
    const QString withInfo = uniqueName + QLatin1Char(':');
    for (const QString &sub : {QStringLiteral("cur"), QStringLiteral("new")}) {
        const QDir dir(folderDirectory + QLatin1Char('/') + sub);
        for (const QString &name : dir.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
            if ((name == uniqueName || name.startsWith(withInfo)) &&
                FileIdentity::of(dir.filePath(name)) == identity)
                return sub + QLatin1Char('/') + name;
        }
    }
    return std::nullopt;
}

Journal::Journal(QString root) : m_root(std::move(root)) {}

Journal::~Journal()
{
    if (m_fd < 0)
        return;
    if (!m_unfinished) {
        // What was moved and removed must be on disk before the record of it goes.
        for (const QString &folder : std::as_const(m_folders))
            syncFolder(folder);
        QFile::remove(m_path);
        qb::syncDirectory(m_root);
    }
    ::close(m_fd);
}

void Journal::record(const Replacement &replacement)
{
    if (m_fd < 0) {
        // Locked before it takes its name, so recovery never mistakes it for a dead one.
        const QString id = QString::number(QRandomGenerator::global()->generate64(), 16);
        const QString creating = m_root + QStringLiteral("/.") + journalPrefix + id;
        m_path = m_root + QLatin1Char('/') + journalPrefix + id;
        m_fd = ::open(QFile::encodeName(creating).constData(),
                      O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0600);
        if (m_fd < 0 || ::flock(m_fd, LOCK_EX | LOCK_NB) != 0 ||
            ::rename(QFile::encodeName(creating).constData(),
                     QFile::encodeName(m_path).constData()) != 0) {
            const QString why = qb::systemErrorText();
            if (m_fd >= 0) {
                ::close(m_fd);
                QFile::remove(creating);
            }
            m_fd = -1;
            throw qb::MailStoreError(
                QStringLiteral("Cannot start the journal %1: %2").arg(m_path, why));
        }
        qb::syncDirectory(m_root);
    }
    if (!m_folders.contains(replacement.folderDirectory))
        m_folders << replacement.folderDirectory;
    const FileIdentity &old = replacement.oldIdentity;
    const QByteArray line =
        formatMark + '\t' + field(QDir(m_root).relativeFilePath(replacement.folderDirectory)) +
        '\t' + field(replacement.oldRelativePath) + '\t' + field(replacement.oldUniqueName) + '\t' +
        QByteArray::number(old.device) + '\t' + QByteArray::number(old.inode) + '\t' +
        QByteArray::number(old.size) + '\t' + field(replacement.readyName) + '\t' +
        field(replacement.newRelativePath) + '\n';
    if (::write(m_fd, line.constData(), size_t(line.size())) != line.size() ||
        ::fdatasync(m_fd) != 0)
        throw qb::MailStoreError(
            QStringLiteral("Cannot write the journal %1: %2").arg(m_path, qb::systemErrorText()));
}

void Journal::recover(const QString &root)
{
    const QString canonicalRoot = QFileInfo(root).canonicalFilePath();
    if (canonicalRoot.isEmpty())
        return;
    const QDir dir(root);
    for (const QString &name : dir.entryList({journalPrefix + QLatin1Char('*')}, QDir::Files)) {
        const QString path = dir.filePath(name);
        const int fd =
            ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0)
            continue;
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) { // its session has ended
            QStringList touched;
            QFile file;
            if (file.open(fd, QIODevice::ReadOnly)) {
                for (const QByteArray &line : file.readAll().split('\n'))
                    finish(canonicalRoot, line, touched);
                file.close();
            }
            touched.removeDuplicates();
            for (const QString &folder : std::as_const(touched))
                syncFolder(folder);
            QFile::remove(path);
            qb::syncDirectory(root);
        }
        ::close(fd);
    }
}

} // namespace maildir
