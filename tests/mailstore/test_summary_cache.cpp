#include "mailstore/maildir/MaildirSession.h"
#include "mailstore/maildir/SummaryCache.h"
#include "mailstore/maildir/SummaryEntry.h"
#include "support/WarningLog.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>

using namespace maildir;

namespace {

mailstore::EmailSummary summary(const QString &subject, const QStringList &names)
{
    mailstore::EmailSummary made;
    made.subject = subject;
    made.senderName = QStringLiteral("Zoë Françoise");
    made.attachmentNames = names;
    // Sizes of every magnitude, past 4 GB too; 0 is "unknown".
    for (qsizetype i = 0; i < names.size(); ++i)
        made.attachmentSizes << (i % 3 == 2 ? 0 : (qint64(1) << (i % 40)) + i);
    return made;
}

// The texts a cached summary must give back as they were.
QStringList textsOf(const mailstore::EmailSummary &summary)
{
    return QStringList{summary.subject, summary.senderName} + summary.attachmentNames;
}

// Runs a statement on the cache's database behind its back; false when it fails.
bool tamper(const QString &path, const QString &statement)
{
    bool done = false;
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("tamper"));
        db.setDatabaseName(path);
        done = db.open() && QSqlQuery(db).exec(statement);
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("tamper"));
    return done;
}

// A Maildir folder with email files whose stamps the tests choose.
struct Folder
{
    QTemporaryDir dir;
    QString cachePath = dir.filePath(QStringLiteral("cache/summaries.sqlite"));
    QString directory = dir.filePath(QStringLiteral("Mail"));
    qint64 madeAt = QDateTime::currentSecsSinceEpoch();

    Folder()
    {
        for (const char *sub : {"/cur", "/new", "/tmp"})
            QDir().mkpath(directory + QLatin1String(sub));
    }
    FileStamp add(const QString &name, const QByteArray &content = "Subject: x\n\nx\n")
    {
        const QString path = directory + QStringLiteral("/cur/") + name;
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
            return {};
        file.close();
        struct stat info = {};
        ::stat(QFile::encodeName(path).constData(), &info);
        return FileStamp::of(info);
    }
    std::shared_ptr<const FolderListing> listing() const
    {
        return std::make_shared<FolderListing>(FolderListing::read(directory));
    }
    // Remembers a summary of each of the named files, as a walk that read them would.
    void remember(const QStringList &names)
    {
        SummaryCache cache(cachePath);
        cache.folder(directory, listing());
        for (const QString &name : names) {
            const FileStamp stamp = add(name);
            cache.pending()->add(directory, name, stamp,
                                 summary(name, {name + QStringLiteral(".pdf")}));
        }
    }
    // Dates the last change of cur/ and new/ this many seconds before the folder was made.
    bool settle(qint64 secondsBefore)
    {
        const struct timespec times[2] = {{0, UTIME_OMIT}, {madeAt - secondsBefore, 0}};
        for (const char *sub : {"/cur", "/new"}) {
            const QByteArray path = QFile::encodeName(directory + QLatin1String(sub));
            if (::utimensat(AT_FDCWD, path.constData(), times, 0) != 0)
                return false;
        }
        return true;
    }
    // Every listed file checked, as a walk through the whole folder does.
    void confirm(const QStringList &outdated = {})
    {
        SummaryCache cache(cachePath);
        const auto cached = cache.folder(directory, listing());
        for (const QString &name : outdated)
            cache.outdated(*cached, name);
        cache.confirm(directory, cached->listingShared());
    }
    bool trusted()
    {
        SummaryCache cache(cachePath);
        return cache.folder(directory, listing())->trusted();
    }
    std::optional<mailstore::EmailSummary> find(SummaryCache &cache, const QString &name,
                                                const FileStamp &stamp)
    {
        return cache.folder(directory, listing())->find({name, QString()}, stamp);
    }
};

FileStamp stampOf(const QString &path)
{
    struct stat info = {};
    ::stat(QFile::encodeName(path).constData(), &info);
    return FileStamp::of(info);
}

} // namespace

class TestSummaryCache : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void entryGivesBackWhatWasStored_data()
    {
        QTest::addColumn<QString>("subject");
        QTest::addColumn<QStringList>("names");
        QTest::newRow("no attachments") << "" << QStringList();
        QTest::newRow("odd texts") << QStringLiteral("Caf\u00e9 \U0001F600 a\0b")
                                   << QStringList{QString(), QStringLiteral("\u8cc7\u6599.pdf"),
                                                  QString(300, QLatin1Char('n'))};
        QStringList many;
        for (int i = 0; i < 1000; ++i)
            many << QStringLiteral("f%1.bin").arg(i);
        QTest::newRow("many") << "s" << many;
    }
    void entryGivesBackWhatWasStored()
    {
        QFETCH(QString, subject);
        QFETCH(QStringList, names);
        const FileStamp stamp{123456, -1'500'000'001}; // before 1970, not on a whole second
        const QByteArray entry =
            encodeEntry(QStringLiteral("1.M2P3.host"), stamp, summary(subject, names));
        QVERIFY(entryHolds(QStringLiteral("1.M2P3.host"), entry));
        QVERIFY(entryStamp(entry) == stamp);
        const auto decoded = decodeEntry(entry);
        QVERIFY(decoded);
        QCOMPARE(textsOf(*decoded), textsOf(summary(subject, names)));
        QCOMPARE(decoded->attachmentSizes, summary(subject, names).attachmentSizes);
        QCOMPARE(decoded->size, 123456);
        QCOMPARE(decoded->receivedTime, stamp.receivedTime());
        QCOMPARE(decoded->receivedTime.toMSecsSinceEpoch(), -1501);
    }

    // An entry is believed only whole and under the name it was stored for.
    void damagedEntryIsNotBelieved()
    {
        const QByteArray entry = encodeEntry(QStringLiteral("u"), {10, 20},
                                             summary(QStringLiteral("s"), {"a.pdf", "b.doc"}));
        QVERIFY(!entryHolds(QStringLiteral("v"), entry));
        for (qsizetype i = 0; i < entry.size(); ++i) {
            QByteArray flipped = entry;
            flipped[i] = char(flipped[i] ^ 0x10);
            QVERIFY2(!entryHolds(QStringLiteral("u"), flipped), qPrintable(QString::number(i)));
            QVERIFY(!entryHolds(QStringLiteral("u"), entry.left(i)));
        }
        QVERIFY(!entryHolds(QStringLiteral("u"), entry + '\0'));
    }

    // An entry without the attachments' sizes, as the earlier format stored it, is not read
    // as one whose attachments have no size: it gives nothing, and the email is read again.
    void entryWithoutSizesIsNotBelieved()
    {
        mailstore::EmailSummary sized = summary(QStringLiteral("s"), {"a.pdf", "b.doc"});
        const QByteArray entry = encodeEntry(QStringLiteral("u"), {10, 20}, sized);
        const QByteArray earlier = entry.left(entry.size() - 2 * qsizetype(sizeof(qint64)));
        QVERIFY(!decodeEntry(earlier));
        // A summary that knows no sizes stores them as unknown, one per attachment.
        sized.attachmentSizes.clear();
        const auto unknown = decodeEntry(encodeEntry(QStringLiteral("u"), {10, 20}, sized));
        QVERIFY(unknown);
        QCOMPARE(unknown->attachmentSizes, QList<qint64>({0, 0}));
    }

    void rememberedAcrossSessions()
    {
        Folder folder;
        folder.remember({"1.a", "2.b"});
        SummaryCache cache(folder.cachePath);
        const auto cached = cache.folder(folder.directory, folder.listing());
        QCOMPARE(cached->size(), 2);
        const FileStamp stamp = stampOf(folder.directory + QStringLiteral("/cur/2.b"));
        const auto found = cached->find({QStringLiteral("2.b"), QString()}, stamp);
        QVERIFY(found);
        QCOMPARE(textsOf(*found), textsOf(summary(QStringLiteral("2.b"), {"2.b.pdf"})));
        QCOMPARE(found->size, stamp.size);
        // The same name with another size or time is another file.
        QVERIFY(
            !cached->find({QStringLiteral("2.b"), QString()}, {stamp.size + 1, stamp.modifiedNs}));
        QVERIFY(
            !cached->find({QStringLiteral("2.b"), QString()}, {stamp.size, stamp.modifiedNs + 1}));
        QVERIFY(!cached->find({QStringLiteral("3.c"), QString()}, stamp));
        // A file is found by its name, wherever another listing placed it.
        const MessageFile misplaced{QStringLiteral("2.b"), QString(), 0};
        QCOMPARE(cached->find(misplaced, stamp)->subject, QStringLiteral("2.b"));
    }

    // A folder is trusted, its entries believed without a look at their files, while its
    // cur/ and new/ are as they were when every file was last checked; a change there, one
    // too recent to be sure of, or a rewrite takes the trust away until the next check.
    void folderTrustedWhileUnchanged()
    {
        Folder folder;
        folder.remember({"1.a", "2.b"});
        QVERIFY(folder.settle(3600));
        QVERIFY(!folder.trusted());
        folder.confirm({QStringLiteral("2.b")});
        {
            SummaryCache cache(folder.cachePath);
            const auto cached = cache.folder(folder.directory, folder.listing());
            QVERIFY(cached->trusted());
            const auto found = cached->find({QStringLiteral("1.a"), QString()});
            QVERIFY(found);
            QCOMPARE(found->subject, QStringLiteral("1.a"));
            // Outdated entries go with the confirmation, or the trust would keep them.
            QVERIFY(!cached->holds({QStringLiteral("2.b"), QString()}));
        }
        {
            // The folder's snapshot lists it as reading it does, entries and all.
            SummaryCache cache(folder.cachePath);
            const auto listing = folder.listing();
            const auto snapshot = cache.trustedFolder(folder.directory, listing->stamp);
            QVERIFY(snapshot);
            QVERIFY(snapshot->trusted());
            QCOMPARE(snapshot->listing().files.size(), listing->files.size());
            for (size_t i = 0; i < listing->files.size(); ++i) {
                QCOMPARE(snapshot->listing().files[i].uniqueName, listing->files[i].uniqueName);
                QCOMPARE(snapshot->listing().files[i].relativePath, listing->files[i].relativePath);
            }
            QCOMPARE(snapshot->size(), 1);
            QCOMPARE(snapshot->find({QStringLiteral("1.a"), QString()})->subject,
                     QStringLiteral("1.a"));
        }
        // A damaged snapshot is not believed: the folder is listed by reading it.
        QVERIFY(tamper(folder.cachePath,
                       QStringLiteral("UPDATE folders SET snapshot = substr(snapshot, 1, 40) || "
                                      "x'7f' || substr(snapshot, 42)")));
        {
            SummaryCache cache(folder.cachePath);
            QVERIFY(!cache.trustedFolder(folder.directory, folder.listing()->stamp));
            QVERIFY(cache.folder(folder.directory, folder.listing())->trusted());
        }
        // Changed a moment ago: the directory's time may not move for a change to come.
        folder.add(QStringLiteral("3.c"));
        folder.confirm();
        QVERIFY(!folder.trusted());
        // Settled since, but not checked at this stamp.
        QVERIFY(folder.settle(1800));
        QVERIFY(!folder.trusted());
        folder.confirm();
        QVERIFY(folder.trusted());
        // Only the same cur/ and new/ will do: a folder put in the place of another is not it.
        QVERIFY(QDir(folder.directory).rename(QStringLiteral("cur"), QStringLiteral("old")));
        QVERIFY(QDir(folder.directory).mkdir(QStringLiteral("cur")));
        QVERIFY(folder.settle(1800));
        QVERIFY(!folder.trusted());
        QVERIFY(QDir(folder.directory).rmdir(QStringLiteral("cur")));
        QVERIFY(QDir(folder.directory).rename(QStringLiteral("old"), QStringLiteral("cur")));
        QVERIFY(folder.settle(1800));
        QVERIFY(folder.trusted());
        {
            SummaryCache cache(folder.cachePath);
            cache.replace(folder.directory, QStringLiteral("1.a"), QStringLiteral("1.d"),
                          folder.add(QStringLiteral("1.d")), summary(QStringLiteral("x"), {}));
        }
        QVERIFY(folder.settle(1800));
        QVERIFY(!folder.trusted());
        folder.confirm();
        QVERIFY(folder.trusted());
        {
            SummaryCache cache(folder.cachePath);
            cache.forget(folder.directory, QStringLiteral("1.d"));
        }
        QVERIFY(!folder.trusted());
    }

    // A folder's stamp cannot tell of every change when a listed file is a link (its file
    // changes apart from the folder), when an entry was left out (a named pipe, a link to
    // nothing that may come back), or when two files share a unique name: never trusted.
    void foldersTheStampCannotVouchForAreNotTrusted_data()
    {
        QTest::addColumn<QString>("oddity");
        QTest::newRow("link") << QStringLiteral("link");
        QTest::newRow("named pipe") << QStringLiteral("pipe");
        QTest::newRow("link to nothing") << QStringLiteral("dangling");
        QTest::newRow("one unique name twice") << QStringLiteral("twice");
    }
    void foldersTheStampCannotVouchForAreNotTrusted()
    {
        QFETCH(QString, oddity);
        Folder folder;
        folder.remember({"1.a"});
        const QByteArray cur = QFile::encodeName(folder.directory + QStringLiteral("/cur/"));
        const QByteArray outside = QFile::encodeName(folder.dir.filePath(QStringLiteral("out")));
        QFile email(QFile::decodeName(outside));
        QVERIFY(email.open(QIODevice::WriteOnly));
        email.close();
        if (oddity == QLatin1String("link"))
            QCOMPARE(::symlink(outside.constData(), (cur + "2.b").constData()), 0);
        else if (oddity == QLatin1String("pipe"))
            QCOMPARE(::mkfifo((cur + "2.b").constData(), 0600), 0);
        else if (oddity == QLatin1String("dangling"))
            QCOMPARE(::symlink((outside + ".gone").constData(), (cur + "2.b").constData()), 0);
        else
            folder.add(QStringLiteral("1.a:2,S"));
        QVERIFY(folder.settle(3600));
        folder.confirm();
        QVERIFY(!folder.trusted());
    }

    void hugeSummaryIsNotKept()
    {
        Folder folder;
        const FileStamp small = folder.add(QStringLiteral("1.a"));
        const FileStamp huge = folder.add(QStringLiteral("2.b"));
        const qsizetype fill = SummaryCache::largestEntry / qsizetype(sizeof(QChar));
        {
            SummaryCache cache(folder.cachePath);
            cache.folder(folder.directory, folder.listing());
            cache.pending()->add(folder.directory, QStringLiteral("1.a"), small,
                                 summary(QString(fill - 100, QLatin1Char('s')), {}));
            cache.pending()->add(folder.directory, QStringLiteral("2.b"), huge,
                                 summary(QString(fill, QLatin1Char('s')), {}));
        }
        SummaryCache cache(folder.cachePath);
        const auto kept = folder.find(cache, QStringLiteral("1.a"), small);
        QVERIFY(kept);
        QCOMPARE(kept->subject.size(), fill - 100);
        QVERIFY(!folder.find(cache, QStringLiteral("2.b"), huge));
    }

    // Rows of files no longer listed go, and do not come back with a file of that name.
    void rowsOfFilesGoneAreRemoved()
    {
        Folder folder;
        folder.remember({"1.a", "2.b"});
        const QString path = folder.directory + QStringLiteral("/cur/1.a");
        const FileStamp stamp = stampOf(path);
        QVERIFY(QFile::remove(path));
        {
            SummaryCache cache(folder.cachePath);
            QCOMPARE(cache.folder(folder.directory, folder.listing())->size(), 1);
        }
        QCOMPARE(folder.add(QStringLiteral("1.a")).size, stamp.size);
        struct timespec times[2] = {
            {0, UTIME_OMIT}, {stamp.modifiedNs / 1'000'000'000, stamp.modifiedNs % 1'000'000'000}};
        QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
        QCOMPARE(stampOf(path).modifiedNs, stamp.modifiedNs);
        SummaryCache cache(folder.cachePath);
        QVERIFY(!folder.find(cache, QStringLiteral("1.a"), stamp));
    }

    void rewriteReplacesTheRow()
    {
        Folder folder;
        folder.remember({"1.a"});
        const FileStamp stamp = folder.add(QStringLiteral("1.b"));
        {
            SummaryCache cache(folder.cachePath);
            cache.replace(folder.directory, QStringLiteral("1.a"), QStringLiteral("1.b"), stamp,
                          summary(QStringLiteral("rewritten"), {}));
        }
        SummaryCache cache(folder.cachePath);
        const auto found = folder.find(cache, QStringLiteral("1.b"), stamp);
        QVERIFY(found);
        QCOMPARE(found->subject, QStringLiteral("rewritten"));
        QVERIFY(found->attachmentNames.isEmpty());
        // The old file's row is gone even while a file of that name is still listed.
        QVERIFY(!folder.find(cache, QStringLiteral("1.a"),
                             stampOf(folder.directory + QStringLiteral("/cur/1.a"))));
        cache.forget(folder.directory, QStringLiteral("1.b"));
        QVERIFY(!folder.find(cache, QStringLiteral("1.b"), stamp));
    }

    // A cache that is damaged, of another format, or of another program is rebuilt with
    // one warning, and nothing of it is believed. A damaged or foreign one is kept aside,
    // only the latest.
    void untrustworthyCacheIsRebuilt_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<bool>("keptAside");
        QTest::newRow("not a database") << "garbage" << true;
        QTest::newRow("cut short") << "truncate" << true;
        QTest::newRow("other format") << "PRAGMA user_version=999" << false;
        QTest::newRow("other program") << "PRAGMA application_id=7" << true;
        QTest::newRow("row changed") << "UPDATE emails SET unique_name='2.b'" << true;
        QTest::newRow("entry changed") << "UPDATE emails SET entry=entry||x'00'" << true;
        QTest::newRow("rows' table gone") << "DROP TABLE emails" << true;
        QTest::newRow("folders' table gone") << "DROP TABLE folders" << true;
        QTest::newRow("column gone") << "ALTER TABLE folders DROP COLUMN snapshot" << true;
    }
    void untrustworthyCacheIsRebuilt()
    {
        QFETCH(QString, damage);
        QFETCH(bool, keptAside);
        Folder folder;
        const QString aside = folder.cachePath + QStringLiteral(".damaged");
        QVERIFY(QDir().mkpath(QFileInfo(aside).path()));
        QFile older(aside);
        QVERIFY(older.open(QIODevice::WriteOnly) && older.write("kept before") > 0);
        older.close();
        folder.remember({"1.a"});
        const FileStamp stamp = folder.add(QStringLiteral("2.b"));
        if (damage == QLatin1String("garbage") || damage == QLatin1String("truncate")) {
            QFile file(folder.cachePath);
            QVERIFY(file.open(QIODevice::ReadWrite));
            if (damage == QLatin1String("garbage"))
                file.write(QByteArray(8192, '\x5a'));
            else
                file.resize(100);
        } else {
            QVERIFY(tamper(folder.cachePath, damage));
        }
        QFile damaged(folder.cachePath);
        QVERIFY(damaged.open(QIODevice::ReadOnly));
        const QByteArray damagedBytes = damaged.readAll();
        damaged.close();
        WarningLog warnings;
        {
            SummaryCache cache(folder.cachePath);
            QVERIFY(!folder.find(cache, QStringLiteral("2.b"), stamp));
            QVERIFY(!folder.find(cache, QStringLiteral("1.a"),
                                 stampOf(folder.directory + QStringLiteral("/cur/1.a"))));
            cache.pending()->add(folder.directory, QStringLiteral("2.b"), stamp,
                                 summary(QStringLiteral("fresh"), {}));
        }
        QCOMPARE(warnings.lines().size(), 1);
        QVERIFY2(warnings.lines().first().endsWith(QLatin1String("; it is rebuilt")),
                 qPrintable(warnings.lines().first()));
        QVERIFY(warnings.lines().first().contains(folder.cachePath));
        QCOMPARE(warnings.lines().first().contains(aside), keptAside);
        QFile kept(aside);
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll() == damagedBytes, keptAside);
        QCOMPARE(QDir(QFileInfo(aside).path()).entryList({QStringLiteral("*.damaged")}).size(), 1);
        // The new one serves.
        SummaryCache cache(folder.cachePath);
        const auto found = folder.find(cache, QStringLiteral("2.b"), stamp);
        QVERIFY(found);
        QCOMPARE(found->subject, QStringLiteral("fresh"));
        QCOMPARE(warnings.lines().size(), 1);
    }

    // Where no database can be kept, the cache does nothing, after one warning.
    // The walk's rows are written on another thread; a failure there is not lost. It turns
    // the cache off with one warning, and a folder then is never trusted on what was not
    // written.
    void failedBackgroundWriteTurnsTheCacheOff()
    {
        Folder folder;
        folder.remember({"1.a"});
        QVERIFY(folder.settle(3600));
        QVERIFY(tamper(folder.cachePath,
                       QStringLiteral("CREATE TRIGGER refuse BEFORE INSERT ON emails "
                                      "BEGIN SELECT RAISE(FAIL, 'no room left'); END")));
        WarningLog warnings;
        {
            SummaryCache cache(folder.cachePath);
            const auto cached = cache.folder(folder.directory, folder.listing());
            QCOMPARE(cached->size(), 1);
            cache.pending()->add(folder.directory, QStringLiteral("2.b"),
                                 folder.add(QStringLiteral("2.b")),
                                 summary(QStringLiteral("b"), {}));
            cache.store();
            QVERIFY(folder.settle(3600));
            cache.confirm(folder.directory, folder.listing());
        }
        QCOMPARE(warnings.lines().size(), 1);
        QVERIFY2(warnings.lines().first().contains(QLatin1String("cannot be used (no room left")),
                 qPrintable(warnings.lines().first()));
        QVERIFY(!folder.trusted());
    }

    void unusableCacheStandsAside()
    {
        Folder folder;
        QFile blocker(folder.dir.filePath(QStringLiteral("cache")));
        QVERIFY(blocker.open(QIODevice::WriteOnly)); // a file where its folder should be
        blocker.close();
        WarningLog warnings;
        {
            SummaryCache cache(folder.cachePath);
            const FileStamp stamp = folder.add(QStringLiteral("1.a"));
            QVERIFY(!folder.find(cache, QStringLiteral("1.a"), stamp));
            cache.pending()->add(folder.directory, QStringLiteral("1.a"), stamp,
                                 summary(QStringLiteral("s"), {}));
            cache.store();
            QVERIFY(!folder.find(cache, QStringLiteral("1.a"), stamp));
        }
        QCOMPARE(warnings.lines().size(), 1);
        QVERIFY2(warnings.lines().first().contains(QLatin1String("cannot be used")),
                 qPrintable(warnings.lines().first()));
    }

    void rowsOfFoldersGoneAreRemoved()
    {
        Folder kept;
        Folder gone;
        gone.cachePath = kept.cachePath;
        kept.remember({"1.a"});
        gone.remember({"2.b", "3.c"});
        QVERIFY(QDir(gone.directory).removeRecursively());
        {
            SummaryCache cache(kept.cachePath);
            QCOMPARE(cache.folder(kept.directory, kept.listing())->size(), 1);
        }
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("look"));
        db.setDatabaseName(kept.cachePath);
        QVERIFY(db.open());
        QSqlQuery query(db);
        QVERIFY(query.exec(QStringLiteral("SELECT (SELECT count(*) FROM emails), "
                                          "(SELECT count(*) FROM folders)")));
        QVERIFY(query.next());
        QCOMPARE(query.value(0).toInt(), 1);
        QCOMPARE(query.value(1).toInt(), 1);
        query = QSqlQuery();
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("look"));
    }
};

QTEST_GUILESS_MAIN(TestSummaryCache)
#include "test_summary_cache.moc"
