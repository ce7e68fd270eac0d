#include "common/Error.h"
#include "mailstore/AttachmentList.h"
#include "mailstore/FolderPath.h"
#include "processing/TAnalyseThread.h"
#include "mailstore/maildir/MaildirLayout.h"
#include "mailstore/maildir/MaildirStore.h"
#include "processing/RecordingHost.h"
#include "settings/TSettings.h"

#include <QDir>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gmime/gmime.h>

using namespace mailstore;

namespace {

const QByteArray withAttachment =
    "From: Alice <alice@example.com>\nSubject: =?UTF-8?Q?R=C3=A9sum=C3=A9?=\n"
    "Content-Type: multipart/mixed; boundary=b\n\n--b\nContent-Type: text/plain\n\nhi\n"
    "--b\nContent-Type: application/pdf; name=\"cv.pdf\"\n\nx\n--b--\n";

void makeMaildir(const QString &directory)
{
    for (const char *sub : {"cur", "new", "tmp"})
        QVERIFY(QDir().mkpath(directory + QLatin1Char('/') + QLatin1String(sub)));
}

QString writeEmail(const QString &directory, const QString &relativePath,
                   const QByteArray &content = withAttachment,
                   const QDateTime &modified = QDateTime(QDate(2024, 5, 1), QTime(9, 30)))
{
    QFile file(directory + QLatin1Char('/') + relativePath);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        return {};
    file.close();
    if (!file.open(QIODevice::ReadOnly) ||
        !file.setFileTime(modified, QFileDevice::FileModificationTime))
        return {};
    return file.fileName();
}

QStringList childNames(Folders &folders)
{
    QStringList names;
    for (int i = 1; i <= folders.count(); ++i)
        names << folders.item(i)->name();
    return names;
}

std::shared_ptr<Namespace> open(const QStringList &roots)
{
    return maildir::storeFactory(roots)()->getNamespace(QStringLiteral("MAPI"));
}

} // namespace

class TestMaildir : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { g_mime_init(); }
    void cleanupTestCase() { g_mime_shutdown(); }

    void maildirPlusPlusLayout()
    {
        QTemporaryDir dir;
        const QString root = dir.path() + QStringLiteral("/Mail");
        makeMaildir(root);
        makeMaildir(root + QStringLiteral("/.Projects.2024")); // parent has no directory
        makeMaildir(root + QStringLiteral("/.Old"));
        makeMaildir(root + QStringLiteral("/.&AMk-t&AOk-")); // modified UTF-7 "Été"
        makeMaildir(root + QStringLiteral("/.A&-B"));
        QVERIFY(QDir().mkpath(root + QStringLiteral("/.NotAMaildir")));
        auto mapi = open({root});
        auto tops = mapi->folders();
        QCOMPARE(childNames(*tops), QStringList{"Mail"});
        auto top = tops->item(1);
        QCOMPARE(childNames(*top->folders()),
                 QStringList({"Inbox", "A&B", "Old", "Projects", "Été"}));
        auto projects = top->folders()->item(4);
        QCOMPARE(projects->items()->count(), 0);
        QCOMPARE(childNames(*projects->folders()), QStringList{"2024"});
        QCOMPARE(top->defaultItemType(), MailItemType);
        QCOMPARE(mapi->getDefaultFolder(DefaultInbox)->entryId(),
                 top->folders()->item(1)->entryId());
    }

    void nestedLayoutWithInboxFolder()
    {
        QTemporaryDir dir;
        const QString root = dir.path() + QStringLiteral("/mbsync");
        makeMaildir(root + QStringLiteral("/INBOX"));
        makeMaildir(root + QStringLiteral("/Projects/2024"));
        makeMaildir(root + QStringLiteral("/Archive"));
        QVERIFY(QDir().mkpath(root + QStringLiteral("/Empty/nothing")));
        writeEmail(root + QStringLiteral("/INBOX"), QStringLiteral("new/1.a"));
        auto mapi = open({root});
        auto top = mapi->folders()->item(1);
        QCOMPARE(childNames(*top->folders()), QStringList({"Inbox", "Archive", "Projects"}));
        auto inbox = mapi->getDefaultFolder(DefaultInbox);
        QCOMPARE(inbox->items()->count(), 1);
        QCOMPARE(
            childNames(
                *folderAtPath(*mapi, QStringLiteral("Email Folders\\mbsync\\Projects"))->folders()),
            QStringList{"2024"});
    }

    void storeWithoutInbox()
    {
        QTemporaryDir dir;
        makeMaildir(dir.path() + QStringLiteral("/Work"));
        auto mapi = open({dir.path()});
        QVERIFY(!mapi->getDefaultFolder(DefaultInbox));
        QCOMPARE(childNames(*mapi->folders()->item(1)->folders()), QStringList{"Work"});
    }

    void missingStoreNamesItsPath()
    {
        QTemporaryDir dir;
        const QString missing = dir.path() + QStringLiteral("/nope");
        try {
            open({missing});
            QFAIL("no error");
        } catch (const qb::MailStoreError &e) {
            QVERIFY2(e.message().contains(missing), qPrintable(e.message()));
        }
        const QString file = writeEmail(dir.path(), QStringLiteral("plain-file"));
        QVERIFY_THROWS_EXCEPTION(qb::MailStoreError, open({file}));
    }

    void itemValues()
    {
        QTemporaryDir dir;
        makeMaildir(dir.path());
        const QDateTime received(QDate(2023, 11, 14), QTime(22, 13, 20));
        const QString path = writeEmail(dir.path(), QStringLiteral("cur/1700000000.M1.host:2,S"),
                                        withAttachment, received);
        auto item = open({dir.path()})->getDefaultFolder(DefaultInbox)->items()->item(1);
        QCOMPARE(item->subject(), QStringLiteral("Résumé"));
        QCOMPARE(item->senderName(), QStringLiteral("Alice"));
        QCOMPARE(item->size(), QFileInfo(path).size());
        QCOMPARE(item->receivedTime(), received);
        QCOMPARE(item->body().trimmed(), QStringLiteral("hi"));
        QCOMPARE(item->attachments()->count(), 1);
        QCOMPARE(item->attachments()->item(1)->filename(), QStringLiteral("cv.pdf"));
        QVERIFY_THROWS_EXCEPTION(qb::MailStoreError, item->attachments()->item(2));
    }

    void idsSurviveSessionsAndFlagChanges()
    {
        QTemporaryDir dir;
        const QString root = dir.path();
        makeMaildir(root);
        makeMaildir(root + QStringLiteral("/.Projects.2024"));
        const QString old = writeEmail(root + QStringLiteral("/.Projects.2024"),
                                       QStringLiteral("new/1700.M1.host"));
        QString folderId;
        QString itemId;
        QString storeId;
        {
            auto mapi = open({root});
            auto folder =
                folderAtPath(*mapi, QStringLiteral("Email Folders\\") + QFileInfo(root).fileName() +
                                        QStringLiteral("\\Projects\\2024"));
            QVERIFY(folder);
            folderId = folder->entryId();
            storeId = folder->storeId();
            itemId = folder->items()->item(1)->entryId();
        }
        // Another mail program reads the email: new/ to cur/ with a flag.
        QVERIFY(QFile::rename(old, root + QStringLiteral("/.Projects.2024/cur/1700.M1.host:2,S")));
        auto mapi = open({root});
        QCOMPARE(mapi->getFolderFromId(folderId, QString())->name(), QStringLiteral("2024"));
        QCOMPARE(mapi->getFolderFromId(folderId, storeId)->name(), QStringLiteral("2024"));
        QVERIFY(!mapi->getFolderFromId(folderId, QStringLiteral("/other/store")));
        auto item = mapi->getItemFromId(itemId, storeId);
        QVERIFY(item);
        QCOMPARE(item->entryId(), itemId);
        QCOMPARE(item->subject(), QStringLiteral("Résumé"));
        for (const QString &bad :
             {QString(), QStringLiteral("garbage"), folderId + QStringLiteral("/../.."),
              storeId + QStringLiteral("//../etc"), itemId + QStringLiteral("x")})
            QVERIFY2(!mapi->getFolderFromId(bad, QString()) && !mapi->getItemFromId(bad, QString()),
                     qPrintable(bad));
    }

    void renamedWhileListedIsFollowed()
    {
        QTemporaryDir dir;
        makeMaildir(dir.path());
        const QString old = writeEmail(dir.path(), QStringLiteral("new/1.M1.host"));
        auto items = open({dir.path()})->getDefaultFolder(DefaultInbox)->items();
        QVERIFY(QFile::rename(old, dir.path() + QStringLiteral("/cur/1.M1.host:2,RS")));
        QCOMPARE(items->item(1)->attachments()->count(), 1);
    }

    void vanishedEmailFailsOnlyItself()
    {
        QTemporaryDir dir;
        makeMaildir(dir.path());
        const QString gone = writeEmail(dir.path(), QStringLiteral("cur/1.a:2,S"));
        writeEmail(dir.path(), QStringLiteral("cur/2.b:2,S"));
        writeEmail(dir.path(), QStringLiteral("cur/3.c:2,"), "not mime at all");

        RecordingHost host;
        AttachmentList list;
        auto *settings = new TSettings;
        settings->getFromDefaultFolder = true;
        // The first email disappears after the folder was listed, as when another program expunges
        // it.
        const auto factory = maildir::storeFactory({dir.path()});
        auto removing = [factory, gone]() {
            auto application = factory();
            application->getNamespace(QStringLiteral("MAPI"))
                ->getDefaultFolder(DefaultInbox)
                ->items();
            QFile::remove(gone);
            return application;
        };
        auto *worker = new TAnalyseThread(settings, nullptr, &host, removing, &list);
        QSignalSpy done(worker, &QObject::destroyed);
        QVERIFY(done.wait(10000));
        QCOMPARE(list.count(), 1);
        QCOMPARE(list.record(0)->EntryId.right(3), QStringLiteral("2.b"));
        QVERIFY(host.steps.contains(
            QStringLiteral("statusbar: Complete. 3 emails processed, 1 could not be read")));
    }

    void bothLayoutsOfTheDemoMailboxGiveTheSameList()
    {
        QTemporaryDir dir;
        QStringList results;
        for (const QString &layout : {QStringLiteral("maildir++"), QStringLiteral("nested")}) {
            const QString root = dir.path() + QLatin1Char('/') + layout;
            QProcess maker;
            maker.start(QStringLiteral("python3"),
                        {qEnvironmentVariable("QB_TEST_TOOLS") + QStringLiteral("/make_maildir.py"),
                         root, QStringLiteral("--emails"), QStringLiteral("200"),
                         QStringLiteral("--layout"), layout});
            QVERIFY(maker.waitForFinished(60000));
            QCOMPARE(maker.exitCode(), 0);

            RecordingHost host;
            AttachmentList list;
            auto *settings = new TSettings;
            auto mapi = open({root});
            settings->fromFolderName = QStringLiteral("Email Folders\\") + layout;
            settings->fromFolderEntryId = mapi->folders()->item(1)->entryId();
            auto *worker =
                new TAnalyseThread(settings, nullptr, &host, maildir::storeFactory({root}), &list);
            QSignalSpy done(worker, &QObject::destroyed);
            QVERIFY(done.wait(30000));
            QVERIFY(
                host.steps.contains(QStringLiteral("statusbar: Complete. 200 emails processed")));
            QVERIFY(list.count() > 200);
            QString rows;
            for (int i = 0; i < list.count(); ++i) {
                const auto r = list.record(i);
                rows += r->Folder.mid(r->Folder.indexOf(QLatin1Char('\\'), 14)) + r->Filename +
                        r->Subject + r->From + QString::number(r->Size) + QLatin1Char('\n');
            }
            results << rows;
        }
        QCOMPARE(results[0], results[1]);
        QVERIFY(results[0].contains(QStringLiteral("\\Projects\\Été\\")));
    }
};

QTEST_GUILESS_MAIN(TestMaildir)
#include "test_maildir.moc"
