// Maildirs built to trip the folder scan: links that loop or lead out of the store.
// Scans that could hang or eat memory run in a child process with a deadline and a
// memory limit, so a fault fails the test instead of blocking the run.

#include "mailstore/maildir/MaildirLayout.h"
#include "mailstore/maildir/MaildirSession.h"
#include "mailstore/maildir/MaildirStore.h"
#include "support/ChildLimits.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>

#include <gmime/gmime.h>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace maildir;
using namespace mailstore;

namespace {

constexpr int childDeadlineMs = 20000;
constexpr rlim_t childMemoryLimit = rlim_t(1) << 30;
const char *const childFlag = "--scan-child";

void makeMaildir(const QString &directory)
{
    for (const char *sub : {"cur", "new", "tmp"})
        QVERIFY(QDir().mkpath(directory + QLatin1Char('/') + QLatin1String(sub)));
}

void makeLink(const QString &target, const QString &link)
{
    QVERIFY2(
        ::symlink(QFile::encodeName(target).constData(), QFile::encodeName(link).constData()) == 0,
        qPrintable(link));
}

QString systemText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

void makeSocket(const QString &path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    QVERIFY(fd >= 0);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    const QByteArray name = QFile::encodeName(path);
    QVERIFY(size_t(name.size()) < sizeof(address.sun_path));
    std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
    const bool bound =
        ::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
    ::close(fd); // the socket file stays
    QVERIFY2(bound, qPrintable(path));
}

// Writes an email with one attachment into directory's cur/; its subject names it.
void writeEmail(const QString &directory, const QString &uniqueName, const QByteArray &subject)
{
    QFile file(directory + QStringLiteral("/cur/") + uniqueName + QStringLiteral(":2,S"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("From: Alice <alice@example.com>\nSubject: " + subject +
               "\nContent-Type: multipart/mixed; boundary=b\n\n--b\nContent-Type: text/plain\n\n"
               "hi\n--b\nContent-Type: application/pdf; name=\"a.pdf\"\n\nx\n--b--\n");
}

// Maps each email's subject to the path part of its folder's entry id, walking the
// store's folders below folder; fails when an id leads back to another folder or email.
void collectFolderIds(Namespace &mapi, Folder &folder, QMap<QString, QString> &idBySubject)
{
    const QString folderId = folder.entryId();
    const auto found = mapi.getFolderFromId(folderId, folder.storeId());
    QVERIFY2(found, qPrintable(folderId));
    QCOMPARE(found->entryId(), folderId);
    const auto items = folder.items();
    QCOMPARE(found->items()->count(), items->count());
    for (int i = 1; i <= items->count(); ++i) {
        const auto item = items->item(i);
        const auto again = mapi.getItemFromId(item->entryId(), folder.storeId());
        QVERIFY2(again, qPrintable(item->entryId()));
        QCOMPARE(again->subject(), item->subject());
        QCOMPARE(again->attachments()->count(), 1);
        QVERIFY2(!idBySubject.contains(item->subject()), qPrintable(item->subject()));
        idBySubject.insert(item->subject(),
                           folderId.mid(folderId.indexOf(QStringLiteral("//")) + 2));
    }
    const auto folders = folder.folders();
    for (int i = 1; i <= folders->count(); ++i)
        collectFolderIds(mapi, *folders->item(i), idBySubject);
}

QMap<QString, QString> folderIdsOfStore(const QString &root)
{
    QMap<QString, QString> idBySubject;
    const auto mapi = maildir::storeFactory({root})()->getNamespace(QStringLiteral("MAPI"));
    collectFolderIds(*mapi, *mapi->folders()->item(1), idBySubject);
    return idBySubject;
}

// Paths below the root as the child prints them: relative, "." for the root itself.
class RootRelative
{
public:
    explicit RootRelative(const QString &root)
        : m_root(QDir::cleanPath(root)), m_canonical(QDir(root).canonicalPath())
    {
    }
    QString operator()(const QString &path) const
    {
        for (const QString &prefix : {m_root, m_canonical}) {
            if (path == prefix)
                return QStringLiteral(".");
            if (path.startsWith(prefix + QLatin1Char('/')))
                return path.mid(prefix.size() + 1);
        }
        return path;
    }

private:
    QString m_root;
    QString m_canonical;
};

void addTreeLines(const FolderNode &node, int depth, const RootRelative &relative,
                  QStringList &lines)
{
    lines << QString(depth * 2, QLatin1Char(' ')) + node.name + QStringLiteral(" [") +
                 (node.directory.isEmpty() ? QStringLiteral("-") : relative(node.directory)) +
                 QLatin1Char(']');
    for (const auto &child : node.children)
        addTreeLines(*child, depth + 1, relative, lines);
}

// The folders below top, one a line, indented by level, with their Maildirs.
QStringList folderLines(const FolderNode &top, const RootRelative &relative)
{
    QStringList lines;
    for (const auto &child : top.children)
        addTreeLines(*child, 0, relative, lines);
    return lines;
}

QStringList skippedLines(const FolderNode &top, const RootRelative &relative)
{
    QStringList lines;
    for (const SkippedEntry &entry : top.scan->skipped)
        lines << relative(entry.path) + QStringLiteral(": ") + entry.reason;
    lines.sort();
    return lines;
}

void printEmails(Folder &folder, QTextStream &out)
{
    const auto items = folder.items();
    for (int i = 1; i <= items->count(); ++i) {
        const auto item = items->item(i);
        out << "email " << item->subject() << " (" << item->attachments()->count()
            << " attachment)\n";
    }
    const auto folders = folder.folders();
    for (int i = 1; i <= folders->count(); ++i)
        printEmails(*folders->item(i), out);
}

void addListingSkips(const FolderNode &node, const RootRelative &relative, QStringList &lines)
{
    for (const SkippedEntry &entry : FolderListing::read(node.directory).skipped)
        lines << relative(entry.path) + QStringLiteral(": ") + entry.reason;
    for (const auto &child : node.children)
        addListingSkips(*child, relative, lines);
}

// The child's side: scans the store, reads every email the way an analysis does, and
// prints what it found, one line each.
int scanInThisProcess(const QString &root)
{
    g_mime_init();
    QTextStream out(stdout);
    const RootRelative relative(root);
    const auto top = scanStore(root);
    for (const QString &line : folderLines(*top, relative))
        out << "folder " << line << '\n';
    for (const QString &line : skippedLines(*top, relative))
        out << "skipped " << line << '\n';
    QStringList notEmails;
    addListingSkips(*top, relative, notEmails);
    notEmails.sort();
    for (const QString &line : std::as_const(notEmails))
        out << "not-email " << line << '\n';
    const auto mapi = maildir::storeFactory({root})()->getNamespace(QStringLiteral("MAPI"));
    printEmails(*mapi->folders()->item(1), out);
    return 0;
}

// Goes down from node through the children named nameAt(1), nameAt(2)...; the levels gone
// and the last node reached.
std::pair<int, std::shared_ptr<FolderNode>> followChain(std::shared_ptr<FolderNode> node,
                                                        const std::function<QString(int)> &nameAt)
{
    for (int level = 1;; ++level) {
        const QString name = nameAt(level);
        const auto next = std::find_if(node->children.begin(), node->children.end(),
                                       [&](const auto &child) { return child->name == name; });
        if (next == node->children.end())
            return {level - 1, node};
        node = *next;
    }
}

struct ChildScan
{
    QString failure; // empty when the child ended well
    QStringList folders;
    QStringList skipped;
    QStringList notEmails;
    QStringList emails;
};

// Scans root and reads its emails in a child process that must end within the deadline.
ChildScan scanInChild(const QString &root)
{
    ChildScan result;
    QProcess child;
    limitChild(child, {{RLIMIT_AS, childMemoryLimit}, {RLIMIT_CPU, childDeadlineMs / 1000}});
    child.start(QCoreApplication::applicationFilePath(), {QLatin1String(childFlag), root});
    if (!child.waitForFinished(childDeadlineMs)) {
        child.kill();
        child.waitForFinished();
        result.failure = QStringLiteral("the child did not end within %1 ms").arg(childDeadlineMs);
        return result;
    }
    if (child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0) {
        result.failure = QStringLiteral("the child failed: ") +
                         QString::fromLocal8Bit(child.readAllStandardError());
        return result;
    }
    for (const QString &line : QString::fromUtf8(child.readAllStandardOutput()).split(u'\n')) {
        if (line.startsWith(QLatin1String("folder ")))
            result.folders << line.mid(7);
        else if (line.startsWith(QLatin1String("skipped ")))
            result.skipped << line.mid(8);
        else if (line.startsWith(QLatin1String("not-email ")))
            result.notEmails << line.mid(10);
        else if (line.startsWith(QLatin1String("email ")))
            result.emails << line.mid(6);
    }
    return result;
}

} // namespace

class TestHostileFolders : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { g_mime_init(); }
    void cleanupTestCase() { g_mime_shutdown(); }

    void linksThatLoopOrLeaveTheStoreEndTheScan()
    {
        QTemporaryDir dir;
        const QString root = dir.path() + QStringLiteral("/Mail");
        const QString outside = dir.path() + QStringLiteral("/Elsewhere");
        makeMaildir(root);
        makeMaildir(outside);
        makeMaildir(root + QStringLiteral("/.Projects"));
        makeMaildir(root + QStringLiteral("/Work/Reports"));
        makeMaildir(root + QStringLiteral("/Work"));
        makeMaildir(root + QStringLiteral("/Work/.team")); // hidden: reached only by links
        makeLink(QStringLiteral("."), root + QStringLiteral("/Work/self"));
        makeLink(QStringLiteral("."), root + QStringLiteral("/Work/again"));
        makeLink(QStringLiteral(".."), root + QStringLiteral("/Work/up"));
        makeLink(QStringLiteral("../.Projects"), root + QStringLiteral("/Work/Projects"));
        makeLink(QStringLiteral("../../Work"), root + QStringLiteral("/Work/Reports/loop"));
        makeLink(QStringLiteral("Work/.team"), root + QStringLiteral("/Shared"));
        makeLink(root + QStringLiteral("/Work/.team"), root + QStringLiteral("/SharedToo"));
        makeLink(outside, root + QStringLiteral("/escape"));
        makeLink(QStringLiteral("../Elsewhere"), root + QStringLiteral("/.Escape"));
        makeLink(QStringLiteral("../../.."), root + QStringLiteral("/Work/Reports/above-root"));
        // A Maildir whose emails sit outside the store.
        QVERIFY(QDir().mkpath(root + QStringLiteral("/Leaky/new")));
        makeLink(outside + QStringLiteral("/cur"), root + QStringLiteral("/Leaky/cur"));
        // One whose rewritten emails would be written outside it first.
        QVERIFY(QDir().mkpath(root + QStringLiteral("/Drafty/cur")));
        makeLink(outside + QStringLiteral("/tmp"), root + QStringLiteral("/Drafty/tmp"));

        const ChildScan scan = scanInChild(root);
        QVERIFY2(scan.failure.isEmpty(), qPrintable(scan.failure));
        QCOMPARE(scan.folders, QStringList({
                                   "Inbox [.]",
                                   "Projects [.Projects]",
                                   "Shared [Work/.team]",
                                   "Work [Work]",
                                   "  Reports [Work/Reports]",
                               }));
        QCOMPARE(scan.skipped, QStringList({
                                   ".Escape: leads outside the mail store",
                                   "Drafty: its cur/, new/ or tmp/ leads outside the mail store",
                                   "Leaky: its cur/, new/ or tmp/ leads outside the mail store",
                                   "SharedToo: leads to a folder that is listed already",
                                   "Work/Projects: leads to a folder that is listed already",
                                   "Work/Reports/above-root: leads outside the mail store",
                                   "Work/Reports/loop: leads to a folder that is listed already",
                                   "Work/again: leads to a folder that is listed already",
                                   "Work/self: leads to a folder that is listed already",
                                   "Work/up: leads to a folder that is listed already",
                                   "escape: leads outside the mail store",
                               }));
    }

    void foldersNamedCurNewOrTmpAreListedWhenTheyAreMaildirs()
    {
        QTemporaryDir dir;
        const QString root = dir.path(); // nested layout: the root holds no mail itself
        makeMaildir(root + QStringLiteral("/INBOX"));
        makeMaildir(root + QStringLiteral("/new"));
        makeMaildir(root + QStringLiteral("/Projects/new"));
        makeMaildir(root + QStringLiteral("/Projects/tmp/Sub"));
        makeMaildir(root + QStringLiteral("/Work"));
        makeMaildir(root + QStringLiteral("/Work/tmp")); // Work's tmp/, with its own cur/
        makeMaildir(root + QStringLiteral("/Plain"));    // its cur/ new/ tmp/ are no folders

        const auto top = scanStore(root);
        const RootRelative relative(root);
        QCOMPARE(folderLines(*top, relative), QStringList({
                                                  "Inbox [INBOX]",
                                                  "Plain [Plain]",
                                                  "Projects [-]",
                                                  "  new [Projects/new]",
                                                  "  tmp [-]",
                                                  "    Sub [Projects/tmp/Sub]",
                                                  "Work [Work]",
                                                  "  tmp [Work/tmp]",
                                                  "new [new]",
                                              }));
        QCOMPARE(skippedLines(*top, relative), QStringList());

        // In a store whose root holds the Inbox, the root's own cur/ new/ tmp/ stay parts.
        makeMaildir(root + QStringLiteral("/Mail"));
        makeMaildir(root + QStringLiteral("/Mail/.Drafts"));
        QCOMPARE(folderLines(*scanStore(root + QStringLiteral("/Mail")), relative),
                 QStringList({"Inbox [Mail]", "Drafts [Mail/.Drafts]"}));
    }

    void foldersDeeperThanTheLimitAreReported()
    {
        QTemporaryDir dir;
        const QString root = dir.path();
        makeMaildir(root);
        QString nested = root;
        QString nestedSkipped;
        for (int level = 1; level <= maxFolderDepth + 2; ++level) {
            nested += QStringLiteral("/L%1").arg(level);
            makeMaildir(nested);
            if (level == maxFolderDepth + 1)
                nestedSkipped = nested;
        }
        const QString maildirPlusPlusDeepest =
            QStringLiteral("/.") + QStringList(maxFolderDepth, QStringLiteral("m")).join(u'.');
        makeMaildir(root + maildirPlusPlusDeepest);
        const QString tooDeep = maildirPlusPlusDeepest + QStringLiteral(".x");
        makeMaildir(root + tooDeep);

        const auto top = scanStore(root);
        const RootRelative relative(root);
        const auto [mDepth, m] = followChain(top, [](int) { return QStringLiteral("m"); });
        QCOMPARE(mDepth, maxFolderDepth);
        QCOMPARE(relative(m->directory), maildirPlusPlusDeepest.mid(1));
        QVERIFY(m->children.empty());
        const auto [nestedDepth, n] =
            followChain(top, [](int level) { return QStringLiteral("L%1").arg(level); });
        QCOMPARE(nestedDepth, maxFolderDepth);
        QCOMPARE(skippedLines(*top, relative),
                 QStringList({tooDeep.mid(1) + ": more than 64 folder levels deep",
                              relative(nestedSkipped) + ": more than 64 folder levels deep"}));
    }

    void foldersWithRepeatedNamesHaveTheirOwnIds()
    {
        QTemporaryDir dir;
        const QString root = dir.path();
        const auto folder = [&](const QString &relative, const QByteArray &subject) {
            makeMaildir(root + relative);
            writeEmail(root + relative, QString::fromLatin1(subject).replace(u' ', u'-'), subject);
        };
        folder(QString(), "root inbox");
        folder(QStringLiteral("/Inbox"), "nested inbox");
        folder(QStringLiteral("/.X"), "maildir++ X");
        folder(QStringLiteral("/.X.Z"), "maildir++ Z");
        folder(QStringLiteral("/X"), "nested X");
        folder(QStringLiteral("/X/Z"), "nested Z");
        folder(QStringLiteral("/X/Only"), "nested only");
        folder(QStringLiteral("/.Projects.2024"), "projects 2024");
        folder(QStringLiteral("/.&AMk-t&AOk-"), "utf-7 ete");
        folder(QStringLiteral("/.Été"), "utf-8 ete");

        // Ids that no other folder repeats are the ones settings files already hold.
        const QMap<QString, QString> expected = {
            {"root inbox", "Inbox"},   {"nested inbox", "Inbox%@Inbox"},
            {"maildir++ X", "X"},      {"nested X", "X%@X"},
            {"maildir++ Z", "X/Z"},    {"nested Z", "X/Z%@X%2FZ"},
            {"nested only", "X/Only"}, {"projects 2024", "Projects/2024"},
            {"utf-7 ete", "Été"},      {"utf-8 ete", "Été%@.Été"},
        };
        QCOMPARE(folderIdsOfStore(root), expected);
        QCOMPARE(folderIdsOfStore(root), expected);
    }

    void anInboxFolderBesideTheNestedInboxKeepsItsOwnId()
    {
        QTemporaryDir dir;
        const QString root = dir.path(); // nested layout: INBOX/ is the Inbox
        makeMaildir(root + QStringLiteral("/INBOX"));
        writeEmail(root + QStringLiteral("/INBOX"), QStringLiteral("1"), "inbox");
        makeMaildir(root + QStringLiteral("/INBOX/Sub"));
        writeEmail(root + QStringLiteral("/INBOX/Sub"), QStringLiteral("2"), "inbox sub");
        makeMaildir(root + QStringLiteral("/Inbox"));
        writeEmail(root + QStringLiteral("/Inbox"), QStringLiteral("3"), "other inbox");
        QCOMPARE(folderIdsOfStore(root), (QMap<QString, QString>{
                                             {"inbox", "Inbox"},
                                             {"inbox sub", "INBOX/Sub"},
                                             {"other inbox", "Inbox%@Inbox"},
                                         }));
    }

    void specialFilesAmongTheEmailsAreNeverOpened()
    {
        QTemporaryDir dir;
        const QString root = dir.path() + QStringLiteral("/Mail");
        makeMaildir(root);
        const QString cur = root + QStringLiteral("/cur/");
        writeEmail(root, QStringLiteral("1.regular"), "regular");
        makeMaildir(dir.path() + QStringLiteral("/kept"));
        writeEmail(dir.path() + QStringLiteral("/kept"), QStringLiteral("x"), "linked");
        makeLink(dir.path() + QStringLiteral("/kept/cur/x:2,S"), cur + QStringLiteral("2.linked"));
        const QString pipe = dir.path() + QStringLiteral("/pipe");
        QCOMPARE(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
        QCOMPARE(::mkfifo(QFile::encodeName(cur + QStringLiteral("3.fifo:2,S")).constData(), 0600),
                 0);
        makeLink(pipe, cur + QStringLiteral("4.fifo-link:2,S"));
        makeSocket(cur + QStringLiteral("5.socket:2,S"));
        makeLink(QStringLiteral("/dev/zero"), cur + QStringLiteral("6.zero-link:2,S"));
        makeLink(QStringLiteral("/dev/null"), cur + QStringLiteral("7.null-link:2,S"));
        makeLink(dir.path() + QStringLiteral("/gone"), cur + QStringLiteral("8.dangling:2,S"));
        QVERIFY(QDir().mkpath(cur + QStringLiteral("9.folder:2,S")));
        QCOMPARE(
            ::mkfifo(QFile::encodeName(root + QStringLiteral("/new/10.fifo")).constData(), 0600),
            0);

        const ChildScan scan = scanInChild(root);
        QVERIFY2(scan.failure.isEmpty(), qPrintable(scan.failure));
        QCOMPARE(scan.emails, QStringList({"regular (1 attachment)", "linked (1 attachment)"}));
        QCOMPARE(scan.notEmails,
                 QStringList({
                     "cur/3.fifo:2,S: a named pipe, not an email file",
                     "cur/4.fifo-link:2,S: a link to a named pipe, not an email file",
                     "cur/5.socket:2,S: a socket, not an email file",
                     "cur/6.zero-link:2,S: a link to a character device, not an email file",
                     "cur/7.null-link:2,S: a link to a character device, not an email file",
                     "cur/8.dangling:2,S: a link to nothing",
                     "cur/9.folder:2,S: a folder, not an email file",
                     "new/10.fifo: a named pipe, not an email file",
                 }));
    }

    // Some file systems give no entry types (DT_UNKNOWN); the kind then comes from fstatat.
    void entriesOfUnknownTypeAreExaminedWithoutOpeningThem()
    {
        QTemporaryDir dir;
        const QString path = dir.path() + QLatin1Char('/');
        QFile regular(path + QStringLiteral("regular"));
        QVERIFY(regular.open(QIODevice::WriteOnly));
        regular.close();
        makeLink(QStringLiteral("regular"), path + QStringLiteral("link-to-regular"));
        QCOMPARE(::mkfifo(QFile::encodeName(path + QStringLiteral("fifo")).constData(), 0600), 0);
        makeLink(QStringLiteral("fifo"), path + QStringLiteral("link-to-fifo"));
        makeSocket(path + QStringLiteral("socket"));
        QVERIFY(QDir().mkpath(path + QStringLiteral("folder")));
        makeLink(QStringLiteral("missing"), path + QStringLiteral("dangling"));
        makeLink(QStringLiteral("loop"), path + QStringLiteral("loop"));

        const int fd = ::open(QFile::encodeName(dir.path()).constData(), O_RDONLY | O_DIRECTORY);
        QVERIFY(fd >= 0);
        QStringList kinds;
        for (const char *name : {"regular", "link-to-regular", "fifo", "link-to-fifo", "socket",
                                 "folder", "dangling", "loop", "absent"}) {
            QString whyNot;
            const bool email = isMessageFile(fd, name, DT_UNKNOWN, &whyNot);
            kinds << QLatin1String(name) + QStringLiteral(": ") +
                         (email ? QStringLiteral("email") : whyNot);
        }
        ::close(fd);
        QCOMPARE(kinds,
                 QStringList({
                     "regular: email",
                     "link-to-regular: email",
                     "fifo: a named pipe, not an email file",
                     "link-to-fifo: a link to a named pipe, not an email file",
                     "socket: a socket, not an email file",
                     "folder: a folder, not an email file",
                     "dangling: a link to nothing",
                     QStringLiteral("loop: a link that cannot be followed: ") + systemText(ELOOP),
                     QStringLiteral("absent: cannot be examined: ") + systemText(ENOENT),
                 }));
    }

    // Finding a Maildir++ parent and looking a folder up by path once went through every
    // sibling: 20,000 folders under one parent took over 20 s, now well under one.
    void twentyThousandFoldersUnderOneParentScanQuickly()
    {
        // In memory where there is a memory file system: 40,000 directories on a slow disk
        // take minutes to make and remove.
        const bool inMemory = QFileInfo(QStringLiteral("/dev/shm")).isWritable();
        QTemporaryDir dir(inMemory ? QStringLiteral("/dev/shm/qb-folders-XXXXXX")
                                   : QDir::tempPath() + QStringLiteral("/qb-folders-XXXXXX"));
        QVERIFY(dir.isValid());
        const QString root = dir.path();
        makeMaildir(root);
        constexpr int folderCount = 20000;
        for (int i = 0; i < folderCount; ++i) {
            const QByteArray cur = QFile::encodeName(
                root + QStringLiteral("/.Archive.F%1/cur").arg(i, 5, 10, QLatin1Char('0')));
            ::mkdir(cur.left(cur.size() - 4).constData(), 0700);
            QVERIFY(::mkdir(cur.constData(), 0700) == 0);
        }
        QElapsedTimer timer;
        timer.start();
        const auto top = scanStore(root);
        QCOMPARE(top->children.size(), size_t(2));
        const auto &archive = top->children[1]->children;
        QCOMPARE(archive.size(), size_t(folderCount));
        for (const auto &folder : archive)
            QVERIFY(findByPath(top, folder->path) == folder);
        const qint64 elapsed = timer.elapsed();
        qInfo("scanned %d folders and found each by path in %lld ms", folderCount,
              (long long)elapsed);
        QVERIFY2(elapsed < 10000, qPrintable(QString::number(elapsed)));
    }
};

int main(int argc, char **argv)
{
    if (argc == 3 && std::strcmp(argv[1], childFlag) == 0)
        return scanInThisProcess(QFile::decodeName(argv[2]));
    QCoreApplication app(argc, argv);
    TestHostileFolders test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "test_hostile_folders.moc"
