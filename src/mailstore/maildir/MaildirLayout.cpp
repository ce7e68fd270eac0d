#include "MaildirLayout.h"

#include "common/FileSystem.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace maildir {

namespace {

const QString inboxName = QStringLiteral("Inbox");
// Between a folder's path and the place of its directory when the path alone repeats
// another folder's; no escaped name holds it.
const QString placeMark = QStringLiteral("%@");

QString escapeName(const QString &name)
{
    QString escaped = name;
    escaped.replace(QLatin1Char('%'), QStringLiteral("%25"));
    escaped.replace(QLatin1Char('/'), QStringLiteral("%2F"));
    return escaped.isEmpty() ? QStringLiteral("%00") : escaped;
}

bool isMaildirPart(const QString &name)
{
    return name == QLatin1String("cur") || name == QLatin1String("new") ||
           name == QLatin1String("tmp");
}

bool lstatPath(const QString &path, struct stat *info)
{
    return ::lstat(QFile::encodeName(path).constData(), info) == 0;
}

bool statPath(const QString &path, struct stat *info)
{
    return ::stat(QFile::encodeName(path).constData(), info) == 0;
}

// The path with every link resolved; empty when it cannot be resolved.
QString resolvedPath(const QString &path)
{
    char resolved[PATH_MAX];
    if (!::realpath(QFile::encodeName(path).constData(), resolved))
        return {};
    return QFile::decodeName(resolved);
}

QString fileKind(mode_t mode)
{
    switch (mode & S_IFMT) {
    case S_IFIFO:
        return QStringLiteral("a named pipe");
    case S_IFSOCK:
        return QStringLiteral("a socket");
    case S_IFCHR:
        return QStringLiteral("a character device");
    case S_IFBLK:
        return QStringLiteral("a block device");
    case S_IFDIR:
        return QStringLiteral("a folder");
    default:
        return QStringLiteral("a special file");
    }
}

QString notAnEmail(const QString &kind)
{
    return kind + QStringLiteral(", not an email file");
}

struct DirectoryEntry
{
    QString name;
    unsigned char type; // d_type
};

void pruneEmptyFolders(FolderNode &node)
{
    auto &children = node.children;
    for (const auto &child : children)
        pruneEmptyFolders(*child);
    children.erase(std::remove_if(children.begin(), children.end(),
                                  [](const auto &child) {
                                      return child->directory.isEmpty() && child->children.empty();
                                  }),
                   children.end());
}

void sortChildren(FolderNode &node)
{
    // Stable, so that among equal names the order of the scan stays.
    std::stable_sort(node.children.begin(), node.children.end(),
                     [](const auto &a, const auto &b) { return a->name < b->name; });
    for (const auto &child : node.children)
        sortChildren(*child);
}

// Walks one store. Real directories come first; the links met on the way are followed
// afterwards, so that a link never takes the place of the folder it points to.
class StoreScanner
{
public:
    explicit StoreScanner(const QString &root)
        : m_root(root), m_resolvedRoot(resolvedPath(root)), m_top(std::make_shared<FolderNode>())
    {
        m_top->name = QFileInfo(root).fileName();
    }

    std::shared_ptr<FolderNode> scan()
    {
        std::vector<DirectoryEntry> entries;
        struct stat info = {};
        if (readDirectory(m_root, &entries, &info))
            markWalked(info);
        std::shared_ptr<FolderNode> inbox;
        const MailDirectories rootMail = mailDirectories(m_root, entries);
        if (rootMail == MailDirectories::Inside) {
            inbox = std::make_shared<FolderNode>();
            inbox->directory = m_root;
        } else if (rootMail == MailDirectories::Outside) {
            skip(m_root, leadsOutsideMail());
        }
        for (const DirectoryEntry &entry : entries) {
            if (entry.name.startsWith(QLatin1Char('.')))
                addMaildirPlusPlus(entry);
        }
        walkNested(*m_top, m_root, entries, 1, rootMail != MailDirectories::None);
        while (!m_links.empty()) {
            const PendingLink link = m_links.front();
            m_links.pop_front();
            follow(link);
        }
        pruneEmptyFolders(*m_top);
        arrange(inbox);
        m_scan->skipped = std::move(m_skipped);
        m_top->scan = m_scan;
        return m_top;
    }

private:
    enum class MailDirectories { None, Inside, Outside };

    struct PendingLink
    {
        FolderNode *parent; // null for a Maildir++ folder
        QString path;
        QString name;
        int level;
    };

    static QString leadsOutsideMail()
    {
        return QStringLiteral("its cur/, new/ or tmp/ leads outside the mail store");
    }

    static QString tooDeep()
    {
        return QStringLiteral("more than %1 folder levels deep").arg(maxFolderDepth);
    }

    static QString listedAlready()
    {
        return QStringLiteral("leads to a folder that is listed already");
    }

    void skip(const QString &path, const QString &reason) { m_skipped.push_back({path, reason}); }

    // lstat, noting why an entry that is there cannot be examined (a path too long, say).
    bool examine(const QString &path, struct stat *info)
    {
        if (lstatPath(path, info))
            return true;
        noteUnreadable(path, m_skipped);
        return false;
    }

    std::shared_ptr<FolderNode> newChild(FolderNode &parent, const QString &name,
                                         const QString &place)
    {
        auto child = std::make_shared<FolderNode>();
        child->name = name;
        parent.children.push_back(child);
        m_places.insert(child.get(), place);
        return child;
    }

    // The Maildir++ folder name inside parent, made when there is none yet.
    FolderNode *maildirPlusPlusChild(FolderNode &parent, const QString &name, const QString &place)
    {
        FolderNode *&child = m_maildirPlusPlusChildren[std::pair(&parent, name)];
        if (!child)
            child = newChild(parent, name, place).get();
        return child;
    }

    // A folder named INBOX (as mbsync keeps it) is the Inbox when the root holds no mail;
    // it goes first, the others in order of name, and every folder gets its path.
    void arrange(std::shared_ptr<FolderNode> inbox)
    {
        auto &children = m_top->children;
        QString inboxChildrenBase = inboxName;
        if (!inbox) {
            const auto named =
                std::find_if(children.begin(), children.end(), [](const auto &child) {
                    return child->name.compare(inboxName, Qt::CaseInsensitive) == 0;
                });
            if (named != children.end()) {
                inbox = *named;
                children.erase(named);
                // Its folders keep the paths they had before it was the Inbox.
                inboxChildrenBase = escapeName(inbox->name);
            }
        }
        sortChildren(*m_top);
        if (inbox) {
            inbox->name = inboxName;
            sortChildren(*inbox);
            children.insert(children.begin(), inbox);
            assignPath(inbox, inboxName);
            assignPaths(*inbox, inboxChildrenBase);
        }
        assignPaths(*m_top, QString(), inbox ? 1 : 0);
    }

    // Every folder's path is its names from the top; the first folder in order to reach a
    // path keeps it, a later one adds the place of its directory (a nested "Inbox/" beside
    // the root's Inbox, nested "X/" beside Maildir++ ".X").
    void assignPaths(FolderNode &parent, const QString &base, size_t first = 0)
    {
        for (size_t i = first; i < parent.children.size(); ++i) {
            const auto &child = parent.children[i];
            const QString natural = base.isEmpty()
                                        ? escapeName(child->name)
                                        : base + QLatin1Char('/') + escapeName(child->name);
            assignPath(child, natural);
            assignPaths(*child, natural);
        }
    }

    void assignPath(const std::shared_ptr<FolderNode> &node, const QString &natural)
    {
        QString path = natural;
        const QString placed = natural + placeMark + escapeName(m_places.value(node.get()));
        for (int n = 1; m_scan->byPath.contains(path); ++n)
            path = n == 1 ? placed : placed + placeMark + QString::number(n);
        node->path = path;
        m_scan->byPath.insert(path, node);
    }

    // False when the directory was walked already (through a link or a bind mount).
    bool markWalked(const struct stat &info)
    {
        const auto identity = std::pair(quint64(info.st_dev), quint64(info.st_ino));
        if (m_walked.contains(identity))
            return false;
        m_walked.insert(identity);
        return true;
    }

    bool isInsideStore(const QString &resolved) const
    {
        return !m_resolvedRoot.isEmpty() &&
               (resolved == m_resolvedRoot ||
                resolved.startsWith(m_resolvedRoot + QLatin1Char('/')));
    }

    // Whether directory is a Maildir, and whether its emails stay inside the store, also
    // while they are rewritten (through tmp/).
    MailDirectories mailDirectories(const QString &directory) const
    {
        struct stat info = {};
        if (!statPath(directory + QStringLiteral("/cur"), &info) || !S_ISDIR(info.st_mode))
            return MailDirectories::None;
        for (const char *part : {"/cur", "/new", "/tmp"}) {
            if (leadsOutside(directory + QLatin1String(part)))
                return MailDirectories::Outside;
        }
        return MailDirectories::Inside;
    }

    // The same from the directory's entries, which tell most of it without a system call.
    MailDirectories mailDirectories(const QString &directory,
                                    const std::vector<DirectoryEntry> &entries) const
    {
        bool hasCur = false;
        bool outside = false;
        for (const DirectoryEntry &entry : entries) {
            if (!isMaildirPart(entry.name))
                continue;
            const bool isCur = entry.name == QLatin1String("cur");
            if (entry.type == DT_DIR) {
                hasCur = hasCur || isCur;
                continue;
            }
            const QString path = directory + QLatin1Char('/') + entry.name;
            struct stat info = {};
            if (isCur)
                hasCur = statPath(path, &info) && S_ISDIR(info.st_mode);
            outside = outside || leadsOutside(path);
        }
        if (!hasCur)
            return MailDirectories::None;
        return outside ? MailDirectories::Outside : MailDirectories::Inside;
    }

    // Whether path is a link that resolves outside the store; a broken one leads nowhere.
    bool leadsOutside(const QString &path) const
    {
        struct stat info = {};
        if (!lstatPath(path, &info) || !S_ISLNK(info.st_mode))
            return false;
        const QString target = resolvedPath(path);
        return !target.isEmpty() && !isInsideStore(target);
    }

    // The entries that may be directories, sorted by name, and the directory's own device and
    // inode, taken from the open directory. Below the root, a directory that has become a
    // link since it was listed is not opened.
    bool readDirectory(const QString &directory, std::vector<DirectoryEntry> *entries,
                       struct stat *info)
    {
        const int flags =
            O_RDONLY | O_DIRECTORY | O_CLOEXEC | (directory == m_root ? 0 : O_NOFOLLOW);
        const int fd = ::open(QFile::encodeName(directory).constData(), flags);
        const std::unique_ptr<DIR, int (*)(DIR *)> dir(fd < 0 ? nullptr : ::fdopendir(fd),
                                                       ::closedir);
        if (!dir) {
            noteUnreadable(directory, m_skipped);
            if (fd >= 0)
                ::close(fd);
            return false;
        }
        if (::fstat(fd, info) != 0) {
            noteUnreadable(directory, m_skipped);
            return false;
        }
        while (const dirent *entry = ::readdir(dir.get())) {
            if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
                continue;
            // Files other than links never hold folders.
            if (entry->d_type != DT_DIR && entry->d_type != DT_LNK && entry->d_type != DT_UNKNOWN)
                continue;
            entries->push_back({QFile::decodeName(entry->d_name), entry->d_type});
        }
        std::sort(entries->begin(), entries->end(),
                  [](const auto &a, const auto &b) { return a.name < b.name; });
        return true;
    }

    // Maildir++: ".A.B" beside the Inbox is folder B inside A; parents need no directory.
    void addMaildirPlusPlus(const DirectoryEntry &entry)
    {
        const QString path = m_root + QLatin1Char('/') + entry.name;
        struct stat info = {};
        if (!examine(path, &info))
            return;
        if (S_ISLNK(info.st_mode)) {
            m_links.push_back({nullptr, path, entry.name, 1});
            return;
        }
        if (!S_ISDIR(info.st_mode))
            return;
        addMaildirPlusPlusFolder(path, entry.name, info);
    }

    void addMaildirPlusPlusFolder(const QString &directory, const QString &name,
                                  const struct stat &info)
    {
        const MailDirectories mail = mailDirectories(directory);
        if (mail == MailDirectories::None)
            return;
        if (mail == MailDirectories::Outside) {
            skip(directory, leadsOutsideMail());
            return;
        }
        const QStringList levels = name.mid(1).split(QLatin1Char('.'));
        if (levels.size() > maxFolderDepth) {
            skip(directory, tooDeep());
            return;
        }
        if (!markWalked(info)) {
            skip(directory, listedAlready());
            return;
        }
        FolderNode *parent = m_top.get();
        QString place;
        for (qsizetype i = 0; i < levels.size(); ++i) {
            place += QLatin1Char('.') + levels[i];
            const QString folderName = decodeModifiedUtf7(QFile::encodeName(levels[i]));
            FolderNode *node = maildirPlusPlusChild(*parent, folderName, place);
            // Two spellings of one name (".&AOk-" and ".é") are two folders.
            if (i + 1 == levels.size() && !node->directory.isEmpty())
                node = newChild(*parent, folderName, place).get();
            parent = node;
        }
        parent->directory = directory;
    }

    // Nested layout: a folder is a directory that is a Maildir or holds folders. Folders that
    // turn out to hold neither are pruned once the links are followed too. In a Maildir, cur,
    // new and tmp are its own parts unless they have a cur/ of their own.
    void walkNested(FolderNode &parent, const QString &directory,
                    const std::vector<DirectoryEntry> &entries, int level, bool directoryIsMaildir)
    {
        for (const DirectoryEntry &entry : entries) {
            if (entry.name.startsWith(QLatin1Char('.')))
                continue;
            const QString path = directory + QLatin1Char('/') + entry.name;
            if (directoryIsMaildir && isMaildirPart(entry.name) &&
                mailDirectories(path) == MailDirectories::None)
                continue;
            bool isLink = false;
            if (entry.type != DT_DIR) { // a link, or a file system that gives no types
                struct stat info = {};
                if (!examine(path, &info))
                    continue;
                isLink = S_ISLNK(info.st_mode);
                if (isLink ? !statPath(path, &info) || !S_ISDIR(info.st_mode)
                           : !S_ISDIR(info.st_mode))
                    continue;
            }
            if (level > maxFolderDepth) {
                skip(path, tooDeep());
                continue;
            }
            if (isLink)
                m_links.push_back({&parent, path, entry.name, level});
            else
                addNestedFolder(parent, path, path, entry.name, level);
        }
    }

    // The folder at directory, reached through shownPath, with the folders inside it; none
    // when the directory was walked already.
    void addNestedFolder(FolderNode &parent, const QString &directory, const QString &shownPath,
                         const QString &name, int level)
    {
        std::vector<DirectoryEntry> entries;
        struct stat info = {};
        if (!readDirectory(directory, &entries, &info))
            return;
        if (!markWalked(info)) {
            skip(shownPath, listedAlready());
            return;
        }
        const auto node = newChild(parent, name, directory.mid(m_root.size() + 1));
        const MailDirectories mail = mailDirectories(directory, entries);
        if (mail == MailDirectories::Inside)
            node->directory = directory;
        else if (mail == MailDirectories::Outside)
            skip(directory, leadsOutsideMail());
        walkNested(*node, directory, entries, level + 1, mail != MailDirectories::None);
    }

    // A linked directory is listed once, in the link's place, when it stays inside the store
    // and no other place lists it.
    void follow(const PendingLink &link)
    {
        struct stat info = {};
        if (!statPath(link.path, &info) || !S_ISDIR(info.st_mode))
            return; // a link to a file or to nothing is no folder
        if (!link.parent && mailDirectories(link.path) == MailDirectories::None)
            return; // a Maildir++ name on a directory that holds no mail
        const QString target = resolvedPath(link.path);
        if (!isInsideStore(target)) {
            skip(link.path, QStringLiteral("leads outside the mail store"));
            return;
        }
        // Named below the root as given, like every other folder, so that the journal
        // finds it below the root.
        const QString directory = m_root + target.mid(m_resolvedRoot.size());
        if (!link.parent) {
            addMaildirPlusPlusFolder(directory, link.name, info);
            return;
        }
        addNestedFolder(*link.parent, directory, link.path, link.name, link.level);
    }

    QString m_root;
    QString m_resolvedRoot;
    std::shared_ptr<FolderNode> m_top;
    std::shared_ptr<StoreScan> m_scan = std::make_shared<StoreScan>();
    // Where each folder sits below the root: its directory, or for a Maildir++ parent
    // without one, the start of its children's names (".A").
    QHash<const FolderNode *, QString> m_places;
    QHash<std::pair<const FolderNode *, QString>, FolderNode *> m_maildirPlusPlusChildren;
    QSet<std::pair<quint64, quint64>> m_walked; // device and inode
    std::deque<PendingLink> m_links;
    std::vector<SkippedEntry> m_skipped;
};

} // namespace

bool isMaildir(const QString &directory)
{
    return QFileInfo(directory + QStringLiteral("/cur")).isDir();
}

bool isMessageFile(int directoryFd, const char *name, unsigned char type, QString *whyNot,
                   bool *link)
{
    if (link)
        *link = type == DT_LNK;
    if (type == DT_REG)
        return true;
    if (type != DT_LNK && type != DT_UNKNOWN) {
        *whyNot = notAnEmail(fileKind(DTTOIF(type)));
        return false;
    }
    struct stat info = {};
    if (::fstatat(directoryFd, name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
        *whyNot = QStringLiteral("cannot be examined: %1").arg(qb::systemErrorText());
        return false;
    }
    if (S_ISREG(info.st_mode))
        return true;
    if (!S_ISLNK(info.st_mode)) {
        *whyNot = notAnEmail(fileKind(info.st_mode));
        return false;
    }
    if (link)
        *link = true;
    if (::fstatat(directoryFd, name, &info, 0) != 0) {
        *whyNot =
            errno == ENOENT
                ? QStringLiteral("a link to nothing")
                : QStringLiteral("a link that cannot be followed: %1").arg(qb::systemErrorText());
        return false;
    }
    if (S_ISREG(info.st_mode))
        return true;
    *whyNot = notAnEmail(QStringLiteral("a link to ") + fileKind(info.st_mode));
    return false;
}

void noteUnreadable(const QString &path, std::vector<SkippedEntry> &skipped)
{
    if (errno != ENOENT) // gone, or never there: nothing to report
        skipped.push_back({path, QStringLiteral("cannot be read: %1").arg(qb::systemErrorText())});
}

std::shared_ptr<FolderNode> scanStore(const QString &root)
{
    return StoreScanner(root).scan();
}

std::shared_ptr<FolderNode> inboxOf(const FolderNode &top)
{
    if (!top.children.empty() && top.children.front()->path == inboxName)
        return top.children.front();
    return nullptr;
}

std::shared_ptr<FolderNode> findByPath(const std::shared_ptr<FolderNode> &top, const QString &path)
{
    if (path.isEmpty())
        return top;
    return top->scan ? top->scan->byPath.value(path).lock() : nullptr;
}

QString decodeModifiedUtf7(const QByteArray &name)
{
    QString out;
    qsizetype plainStart = 0;
    for (qsizetype i = 0; i < name.size(); ++i) {
        if (name[i] != '&')
            continue;
        out += QString::fromUtf8(name.mid(plainStart, i - plainStart));
        const qsizetype end = name.indexOf('-', i + 1);
        if (end < 0)
            return QString::fromUtf8(name);
        if (end == i + 1) {
            out += QLatin1Char('&');
        } else {
            QByteArray base64 = name.mid(i + 1, end - i - 1);
            base64.replace(',', '/');
            const auto decoded =
                QByteArray::fromBase64Encoding(base64, QByteArray::AbortOnBase64DecodingErrors);
            const QByteArray &utf16 = decoded.decoded;
            if (!decoded || utf16.size() % 2 != 0)
                return QString::fromUtf8(name);
            for (qsizetype k = 0; k + 1 < utf16.size(); k += 2)
                out += QChar(char16_t((uchar(utf16[k]) << 8) | uchar(utf16[k + 1])));
        }
        i = end;
        plainStart = end + 1;
    }
    return out + QString::fromUtf8(name.mid(plainStart));
}

} // namespace maildir
