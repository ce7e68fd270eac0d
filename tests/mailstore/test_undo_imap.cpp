// Undoing a detach on a real IMAP server, through the command line as a user runs it:
// every email comes back byte for byte, with its flags and received date, exactly once on
// the server, and a second run changes nothing.
#include "support/CliRun.h"
#include "support/CourierServer.h"
#include "support/DovecotServer.h"
#include "support/Files.h"
#include "support/ServerContents.h"

#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <gmime/gmime.h>
#include <utime.h>

class TestUndoImap : public QObject
{
    Q_OBJECT

    ServableMaildir m_maildir;
    std::unique_ptr<TestImapServer> m_server;

    QStringList account() const
    {
        return {QStringLiteral("--store"), m_server->storeUrl(), QStringLiteral("--password-file"),
                m_server->passwordFile()};
    }

private Q_SLOTS:
    void initTestCase()
    {
        g_mime_init();
        QVERIFY(m_maildir.isValid());
        const QString projects = m_maildir.addFolder({QStringLiteral("Projects")});
        QDirIterator corpus(QStringLiteral(QB_MIME_CORPUS), QDir::Files);
        int n = 0;
        while (corpus.hasNext()) {
            QByteArray bytes = readFile(corpus.next());
            const qsizetype firstBreak = bytes.indexOf("\n");
            if (firstBreak < 0)
                continue;
            const QByteArray id = "<undo-" + QByteArray::number(++n) + "@example.org>";
            bytes.insert(firstBreak + 1,
                         "Message-ID: " + id + (bytes.contains("\r\n") ? "\r\n" : "\n"));
            const QString path = (n % 2 ? m_maildir.path() : projects) +
                                 QStringLiteral("/cur/17000000%1.M%1P1.test:2,%2")
                                     .arg(n)
                                     .arg(n % 3 ? QStringLiteral("S") : QStringLiteral("FS"));
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(bytes);
            file.close();
            const time_t when = 1700000000 + n * 3600;
            const struct utimbuf times = {when, when};
            QCOMPARE(::utime(QFile::encodeName(path).constData(), &times), 0);
        }
        QVERIFY(n >= 20);
        m_server = makeSuiteServer(m_maildir.path());
        QVERIFY2(m_server->start(), qPrintable(m_server->error()));
    }

    void detachThenUndoGivesBackEveryByte()
    {
        const auto before = serverContents(*m_server);
        QTemporaryDir saved;
        const QString files = saved.path() + QStringLiteral("/files");
        const Run detach =
            runCli(QStringList{QStringLiteral("detach"), QStringLiteral("--all"),
                               QStringLiteral("--yes"), QStringLiteral("--to"), files} +
                   account());
        // Signed emails, and those the server reads differently, stay as they are.
        QVERIFY2(detach.status == 0 || detach.status == 3, qPrintable(detach.err));
        int changed = 0;
        for (const auto &[id, held] : serverContents(*m_server))
            changed += before.count(id) && before.find(id)->second.bytes != held.bytes ? 1 : 0;
        QVERIFY(changed >= 10);

        const QStringList undo = QStringList{QStringLiteral("undo"), QStringLiteral("--from"),
                                             files, QStringLiteral("--yes")} +
                                 account();
        const Run undone = runCli(undo);
        QVERIFY2(undone.status == 0, qPrintable(undone.err + undone.out));

        const auto after = serverContents(*m_server);
        QCOMPARE(after.size(), before.size());
        for (const auto &[id, was] : before) {
            QCOMPARE(after.count(id), size_t(1));
            const HeldMessage &now = after.find(id)->second;
            QCOMPARE(now.mailbox, was.mailbox);
            QCOMPARE(now.flags, was.flags);
            QCOMPARE(now.internalDate, was.internalDate);
            QVERIFY2(now.bytes == was.bytes, id.constData());
        }

        const Run again = runCli(undo);
        QCOMPARE(again.status, 0);
        const auto twice = serverContents(*m_server);
        QCOMPARE(twice.size(), after.size());
        for (const auto &[id, held] : after)
            QCOMPARE(twice.find(id)->second.bytes, held.bytes);
    }

    // Without UIDPLUS the rewritten copy's UID is not told, and each replaced message stays
    // marked \Deleted for a client to expunge: the undo still finds each copy and puts the
    // original back, and what is not marked deleted is the mail as it was.
    void undoWithoutUidPlus()
    {
        if (m_server->product() != QLatin1String("Courier"))
            QSKIP("the server without UIDPLUS is served by the Courier run of this suite");
        CourierServer server(m_maildir.path(), {.uidPlus = false});
        QVERIFY2(server.start(), qPrintable(server.error()));
        const auto live = [&] {
            std::multimap<QByteArray, QByteArray> messages;
            for (const auto &[id, held] : serverContents(server)) {
                if (!held.flags.contains("\\Deleted"))
                    messages.emplace(id, held.bytes);
            }
            return messages;
        };
        const auto before = live();
        QTemporaryDir saved;
        const QStringList account{QStringLiteral("--store"), server.storeUrl(),
                                  QStringLiteral("--password-file"), server.passwordFile()};
        const Run detach =
            runCli(QStringList{QStringLiteral("detach"), QStringLiteral("--all"),
                               QStringLiteral("--yes"), QStringLiteral("--to"), saved.path()} +
                   account);
        QVERIFY2(detach.status == 0 || detach.status == 3, qPrintable(detach.err));
        QVERIFY(live() != before);
        const Run undone = runCli(QStringList{QStringLiteral("undo"), QStringLiteral("--from"),
                                              saved.path(), QStringLiteral("--yes")} +
                                  account);
        QVERIFY2(undone.status == 0, qPrintable(undone.err + undone.out));
        QVERIFY(live() == before);
    }

    void cleanupTestCase() { m_server.reset(); }
};

QTEST_GUILESS_MAIN(TestUndoImap)
#include "test_undo_imap.moc"
