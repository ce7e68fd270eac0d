#include "MaildirLayout.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace maildir {

namespace {

constexpr int maxNestingDepth = 64; // guards against directory loops through links
const QString inboxName = QStringLiteral("Inbox");

QString escapeName(const QString &name)
{
    QString escaped = name;
    escaped.replace(QLatin1Char('%'), QStringLiteral("%25"));
    escaped.replace(QLatin1Char('/'), QStringLiteral("%2F"));
    return escaped.isEmpty() ? QStringLiteral("%00") : escaped;
}

QString childPath(const FolderNode &parent, const QString &name)
{
    return parent.path.isEmpty() ? escapeName(name)
                                 : parent.path + QLatin1Char('/') + escapeName(name);
}

std::shared_ptr<FolderNode> childNamed(FolderNode &parent, const QString &name)
{
    for (const auto &child : parent.children) {
        if (child->name == name)
            return child;
    }
    auto child = std::make_shared<FolderNode>();
    child->name = name;
    child->path = childPath(parent, name);
    parent.children.push_back(child);
    return child;
}

QStringList subdirectories(const QString &directory)
{
    return QDir(directory).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
}

bool isMaildirPart(const QString &name)
{
    return name == QLatin1String("cur") || name == QLatin1String("new") ||
           name == QLatin1String("tmp");
}

// Nested layout: a folder is a directory that is a Maildir or holds folders.
bool addNested(FolderNode &parent, const QString &directory, int depth)
{
    if (depth > maxNestingDepth)
        return false;
    bool any = false;
    for (const QString &entry : subdirectories(directory)) {
        if (entry.startsWith(QLatin1Char('.')) || isMaildirPart(entry))
            continue;
        const QString path = directory + QLatin1Char('/') + entry;
        auto node = std::make_shared<FolderNode>();
        node->name = entry;
        node->path = childPath(parent, entry);
        const bool holdsMail = isMaildir(path);
        if (holdsMail)
            node->directory = path;
        if (addNested(*node, path, depth + 1) || holdsMail) {
            parent.children.push_back(node);
            any = true;
        }
    }
    return any;
}

// Maildir++: ".A.B" beside the Inbox is folder B inside A; parents need no directory.
void addMaildirPlusPlus(FolderNode &top, const QString &root)
{
    for (const QString &entry : subdirectories(root)) {
        if (!entry.startsWith(QLatin1Char('.')) || entry.size() < 2)
            continue;
        const QString path = root + QLatin1Char('/') + entry;
        if (!isMaildir(path))
            continue;
        FolderNode *parent = &top;
        std::shared_ptr<FolderNode> node;
        for (const QString &level : entry.mid(1).split(QLatin1Char('.'))) {
            node = childNamed(*parent, decodeModifiedUtf7(QFile::encodeName(level)));
            parent = node.get();
        }
        node->directory = path;
    }
}

void sortChildren(FolderNode &node, int depth = 0)
{
    std::sort(node.children.begin(), node.children.end(),
              [](const auto &a, const auto &b) { return a->name < b->name; });
    if (depth < maxNestingDepth) {
        for (const auto &child : node.children)
            sortChildren(*child, depth + 1);
    }
}

} // namespace

bool isMaildir(const QString &directory)
{
    return QFileInfo(directory + QStringLiteral("/cur")).isDir();
}

std::shared_ptr<FolderNode> scanStore(const QString &root)
{
    auto top = std::make_shared<FolderNode>();
    top->name = QFileInfo(root).fileName();

    std::shared_ptr<FolderNode> inbox;
    if (isMaildir(root)) {
        inbox = std::make_shared<FolderNode>();
        inbox->directory = root;
    }
    addMaildirPlusPlus(*top, root);
    addNested(*top, root, 0);

    // A folder named INBOX (as mbsync keeps it) is the Inbox when the root holds no mail.
    auto &children = top->children;
    if (!inbox) {
        const auto named = std::find_if(children.begin(), children.end(), [](const auto &child) {
            return child->name.compare(inboxName, Qt::CaseInsensitive) == 0;
        });
        if (named != children.end()) {
            inbox = *named;
            children.erase(named);
        }
    }
    sortChildren(*top);
    if (inbox) {
        inbox->name = inboxName;
        inbox->path = inboxName;
        sortChildren(*inbox);
        children.insert(children.begin(), inbox);
    }
    return top;
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
    std::shared_ptr<FolderNode> node = top;
    while (node) {
        std::shared_ptr<FolderNode> next;
        for (const auto &child : node->children) {
            if (child->path == path)
                return child;
            if (path.startsWith(child->path + QLatin1Char('/')))
                next = child;
        }
        node = next;
    }
    return nullptr;
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
