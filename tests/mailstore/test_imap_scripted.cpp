// The IMAP store against a scripted server: what a real server would rarely send. A
// message whose structure cannot be read is left out of its folder with a word while the
// rest is listed, answers arrive one byte at a time, and a folder the server refuses to
// open names itself in the error.
#include "common/Error.h"
#include "imap/ScriptedImapServer.h"
#include "mailstore/imap/ImapStore.h"

#include <QTest>

#include <gmime/gmime.h>

namespace {

const QByteArray plainToken = QByteArray("\0ann\0secret", 11).toBase64();

MailStoreEntry accountOf(const ScriptedImapServer &server)
{
    MailStoreEntry account;
    account.name = QStringLiteral("Scripted");
    account.type = MailStoreEntry::Type::Imap;
    account.host = QStringLiteral("127.0.0.1");
    account.port = server.port();
    account.security = MailStoreEntry::Security::Plain;
    account.user = QStringLiteral("ann");
    return account;
}

mailstore::PasswordSource secret()
{
    return [](const MailStoreEntry &) { return std::optional<QString>(QStringLiteral("secret")); };
}

// Logs in, lists one folder, INBOX, and opens it with two messages.
ScriptedImapServer &inboxOfTwo(ScriptedImapServer &server)
{
    return server.send("* OK [CAPABILITY IMAP4rev1 AUTH=PLAIN SASL-IR] ready\r\n")
        .expect("A0001 AUTHENTICATE PLAIN " + plainToken)
        .send("A0001 OK [CAPABILITY IMAP4rev1 UIDPLUS] in\r\n")
        .expect("A0002 LIST \"\" \"\"")
        .send("* LIST (\\Noselect) \"/\" \"\"\r\nA0002 OK\r\n")
        .expect("A0003 LIST \"\" \"*\"")
        .send("* LIST (\\HasNoChildren) \"/\" INBOX\r\nA0003 OK\r\n")
        .expect("A0004 EXAMINE \"INBOX\"")
        .send("* 2 EXISTS\r\n* OK [UIDVALIDITY 77] ok\r\nA0004 OK [READ-ONLY] done\r\n");
}

const QByteArray headerFields = "Subject: plan\r\nFrom: Ann <a@b.c>\r\n\r\n";
const QByteArray header = "BODY[HEADER.FIELDS (SUBJECT FROM MESSAGE-ID)] {" +
                          QByteArray::number(headerFields.size()) + "}\r\n" + headerFields;

QStringList namesIn(mailstore::Folder &folder)
{
    QStringList names;
    const auto items = folder.items();
    for (int i = 1; i <= items->count(); ++i) {
        const auto attachments = items->item(i)->attachments();
        for (int a = 1; a <= attachments->count(); ++a)
            names << attachments->item(a)->filename();
    }
    return names;
}

} // namespace

class TestImapScripted : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { g_mime_init(); }
    void cleanupTestCase() { g_mime_shutdown(); }

    void unreadableMessageIsLeftOutWithAWord_data()
    {
        QTest::addColumn<bool>("bytewise");
        QTest::newRow("whole answers") << false;
        QTest::newRow("one byte at a time") << true;
    }

    void unreadableMessageIsLeftOutWithAWord()
    {
        QFETCH(bool, bytewise);
        const QByteArray fetched =
            "* 1 FETCH (UID 5 RFC822.SIZE 900 INTERNALDATE \"17-Jul-2024 02:44:25 +0200\" "
            "FLAGS (\\Seen) BODYSTRUCTURE (\"text\" \"plain\") " +
            header +
            ")\r\n"
            "* 2 FETCH (UID 6 RFC822.SIZE 900 INTERNALDATE \"17-Jul-2024 02:44:25 +0200\" "
            "FLAGS () BODYSTRUCTURE ((\"text\" \"plain\" NIL NIL NIL \"7bit\" 3 1)"
            "(\"application\" \"pdf\" (\"name\" \"a.pdf\") NIL NIL \"base64\" 400 NIL "
            "(\"attachment\" (\"filename\" \"report.pdf\")) NIL NIL) \"mixed\") " +
            header + ")\r\nA0005 OK done\r\n";
        ScriptedImapServer server;
        inboxOfTwo(server).expect(
            "A0005 FETCH 1:2 (UID RFC822.SIZE INTERNALDATE FLAGS BODYSTRUCTURE "
            "BODY.PEEK[HEADER.FIELDS (SUBJECT FROM MESSAGE-ID)])");
        if (bytewise)
            server.sendBytewise(fetched);
        else
            server.send(fetched);
        server.start();
        {
            const auto application = imapstore::accountFactory(accountOf(server), secret())();
            const auto mapi = application->getNamespace(QStringLiteral("MAPI"));
            const auto inbox = mapi->getDefaultFolder(mailstore::DefaultInbox);
            QVERIFY(inbox);
            QCOMPARE(inbox->items()->count(), 1);
            QCOMPARE(namesIn(*inbox), QStringList{QStringLiteral("report.pdf")});
            const QStringList skipped = inbox->skippedEntries();
            QCOMPARE(skipped.size(), 1);
            QVERIFY2(skipped.front().startsWith(QLatin1String("Message 1 of INBOX")),
                     qPrintable(skipped.front()));
        }
        QCOMPARE(server.finish(), QStringList());
    }

    void refusedFolderNamesItself()
    {
        ScriptedImapServer server;
        server.send("* OK [CAPABILITY IMAP4rev1 AUTH=PLAIN SASL-IR] ready\r\n")
            .expect("A0001 AUTHENTICATE PLAIN " + plainToken)
            .send("A0001 OK [CAPABILITY IMAP4rev1] in\r\n")
            .expect("A0002 LIST \"\" \"\"")
            .send("* LIST (\\Noselect) \"/\" \"\"\r\nA0002 OK\r\n")
            .expect("A0003 LIST \"\" \"*\"")
            .send("* LIST () \"/\" INBOX\r\n* LIST () \"/\" \"Caf&AOk-\"\r\nA0003 OK\r\n")
            .expect("A0004 EXAMINE \"Caf&AOk-\"")
            .send("A0004 NO [NOPERM] not for you\r\n");
        server.start();
        {
            const auto application = imapstore::accountFactory(accountOf(server), secret())();
            const auto mapi = application->getNamespace(QStringLiteral("MAPI"));
            const auto top = mapi->folders()->item(1);
            QCOMPARE(top->name(), QStringLiteral("Scripted"));
            const auto folders = top->folders();
            QCOMPARE(folders->count(), 2);
            const auto cafe = folders->item(2);
            QCOMPARE(cafe->name(), QStringLiteral("Café"));
            QString message;
            try {
                cafe->items();
            } catch (const qb::MailStoreError &e) {
                message = e.message();
            }
            QVERIFY2(message.contains(QStringLiteral("Café")) &&
                         message.contains(QLatin1String("not for you")),
                     qPrintable(message));
        }
        QCOMPARE(server.finish(), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestImapScripted)
#include "test_imap_scripted.moc"
