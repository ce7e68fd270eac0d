// The IMAP store against a scripted server: what a real server would rarely send. A
// message whose structure cannot be read, or is too large or deep to read, is left out of
// its folder with a word while the rest is listed; answers arrive one byte at a time; a
// folder the server refuses to open is skipped with a word naming it; answers the folder's
// FETCH did not ask for are dropped; Ctrl+C ends the command line's wait for the server;
// the server's alerts reach the command line's user. Messages marked deleted are left out;
// a change is refused before anything is stored when the folder was renumbered or a saved
// file does not hold the attachment.
#include "common/Error.h"
#include "imap/ScriptedImapServer.h"
#include "mailstore/imap/ImapStore.h"
#include "support/ErrorOf.h"
#include "support/Files.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

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
        .expect("A0004 SELECT \"INBOX\"")
        .send("* 2 EXISTS\r\n* OK [UIDVALIDITY 77] ok\r\nA0004 OK [READ-ONLY] done\r\n");
}

const QByteArray headerFields = "Subject: plan\r\nFrom: Ann <a@b.c>\r\n\r\n";
const QByteArray header = "BODY[HEADER.FIELDS (SUBJECT FROM MESSAGE-ID)] {" +
                          QByteArray::number(headerFields.size()) + "}\r\n" + headerFields;

// One email with one PDF attachment, and the structure a server tells of it.
const QByteArray pdf = "%PDF-1.4\n% a report of a few bytes\n%%EOF\n";
const QByteArray emailWithPdf = "From: Ann <a@b.c>\r\nSubject: plan\r\nMIME-Version: 1.0\r\n"
                                "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n--b\r\n"
                                "Content-Type: text/plain; charset=us-ascii\r\n\r\nHi\r\n--b\r\n"
                                "Content-Type: application/pdf; name=\"report.pdf\"\r\n"
                                "Content-Disposition: attachment; filename=\"report.pdf\"\r\n"
                                "Content-Transfer-Encoding: base64\r\n\r\n" +
                                pdf.toBase64() + "\r\n--b--\r\n";
const QByteArray pdfStructure =
    "BODYSTRUCTURE ((\"text\" \"plain\" (\"charset\" \"us-ascii\") NIL NIL \"7bit\" 2 1)"
    "(\"application\" \"pdf\" (\"name\" \"report.pdf\") NIL NIL \"base64\" " +
    QByteArray::number(pdf.toBase64().size()) +
    " NIL (\"attachment\" (\"filename\" \"report.pdf\")) NIL NIL) \"mixed\")";

// The FETCH answer of analysis for message n, UID uid, with the given flags.
QByteArray summaryOf(int n, int uid, const QByteArray &flags)
{
    return "* " + QByteArray::number(n) + " FETCH (UID " + QByteArray::number(uid) +
           " RFC822.SIZE " + QByteArray::number(emailWithPdf.size()) +
           " INTERNALDATE \"17-Jul-2024 02:44:25 +0200\" FLAGS (" + flags + ") " + pdfStructure +
           ' ' + header + ")\r\n";
}

const QByteArray summaryItems = "(UID RFC822.SIZE INTERNALDATE FLAGS BODYSTRUCTURE "
                                "BODY.PEEK[HEADER.FIELDS (SUBJECT FROM MESSAGE-ID)])";

QString storeIdOf(const ScriptedImapServer &server)
{
    return QStringLiteral("imap://ann@127.0.0.1:%1").arg(server.port());
}

// "* N FETCH" of one message with this structure, as the folder's FETCH asks for it.
QByteArray fetchOf(int number, int uid, const QByteArray &structure)
{
    return "* " + QByteArray::number(number) + " FETCH (UID " + QByteArray::number(uid) +
           " RFC822.SIZE 900 INTERNALDATE \"17-Jul-2024 02:44:25 +0200\" FLAGS () "
           "BODYSTRUCTURE " +
           structure + ' ' + header + ")\r\n";
}

QByteArray pdfNamed(const QByteArray &name)
{
    return "((\"text\" \"plain\" NIL NIL NIL \"7bit\" 3 1)(\"application\" \"pdf\" NIL NIL NIL "
           "\"base64\" 400 NIL (\"attachment\" (\"filename\" \"" +
           name + "\")) NIL NIL) \"mixed\")";
}

const QByteArray folderFetch = "A0005 FETCH 1:2 (UID RFC822.SIZE INTERNALDATE FLAGS BODYSTRUCTURE "
                               "BODY.PEEK[HEADER.FIELDS (SUBJECT FROM MESSAGE-ID)])";

// The command line's analysis of the server's Inbox, as CSV, on its own state folders.
bool startAnalysis(QProcess &cli, const QTemporaryDir &state, const ScriptedImapServer &server)
{
    const QString passwordFile = state.filePath(QStringLiteral("password"));
    QFile file(passwordFile);
    if (!state.isValid() || !file.open(QIODevice::WriteOnly) || file.write("secret\n") != 7)
        return false;
    file.close();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), state.filePath(QStringLiteral("c")));
    environment.insert(QStringLiteral("XDG_STATE_HOME"), state.filePath(QStringLiteral("s")));
    environment.insert(QStringLiteral("XDG_CACHE_HOME"), state.filePath(QStringLiteral("k")));
    cli.setProcessEnvironment(environment);
    cli.start(QStringLiteral(QB_CLI_PATH),
              {QStringLiteral("analyze"), QStringLiteral("--csv"), QStringLiteral("--no-cache"),
               QStringLiteral("--store"),
               QStringLiteral("imap://ann@127.0.0.1:%1").arg(server.port()),
               QStringLiteral("--password-file"), passwordFile});
    return cli.waitForStarted();
}

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

    // A message marked deleted (a server without UIDPLUS leaves replaced originals so) is
    // neither listed, with a word that says how many, nor changed by a job.
    void deletedMessagesAreLeftOut()
    {
        ScriptedImapServer server;
        inboxOfTwo(server)
            .expect("A0005 FETCH 1:2 " + summaryItems)
            .send(summaryOf(1, 5, "\\Seen \\Deleted") + summaryOf(2, 6, "\\Seen") +
                  "A0005 OK done\r\n")
            .expect("A0006 UID FETCH 5 " + summaryItems)
            .send(summaryOf(1, 5, "\\Seen \\Deleted") + "A0006 OK done\r\n");
        server.start();
        {
            const auto application = imapstore::accountFactory(accountOf(server), secret())();
            const auto mapi = application->getNamespace(QStringLiteral("MAPI"));
            const auto inbox = mapi->getDefaultFolder(mailstore::DefaultInbox);
            QVERIFY(inbox);
            QCOMPARE(namesIn(*inbox), QStringList{QStringLiteral("report.pdf")});
            const QStringList skipped = inbox->skippedEntries();
            QCOMPARE(skipped.size(), 1);
            QVERIFY2(skipped.front().startsWith(QLatin1String("1 ")), qPrintable(skipped.front()));
            QVERIFY(!errorOf([&] {
                         mapi->getItemFromId(storeIdOf(server) + QStringLiteral("//INBOX::77.5"),
                                             {});
                     }).isEmpty());
        }
        QCOMPARE(server.finish(), QStringList());
    }

    void changeRefusedBeforeAnythingIsStored_data()
    {
        QTest::addColumn<bool>("renumbered");
        // The server renumbered the folder between the job's reading and its change: the
        // old UID names another message now.
        QTest::newRow("folder renumbered") << true;
        // The saved file no longer holds what the email held.
        QTest::newRow("saved file differs") << false;
    }

    // The attachment is saved from the email fetched whole, the same reading its removal
    // uses; the change is refused, with nothing sent to the server, when the folder's
    // numbering changed or the saved file differs from the part.
    void changeRefusedBeforeAnythingIsStored()
    {
        QFETCH(bool, renumbered);
        ScriptedImapServer server;
        server.send("* OK [CAPABILITY IMAP4rev1 AUTH=PLAIN SASL-IR] ready\r\n")
            .expect("A0001 AUTHENTICATE PLAIN " + plainToken)
            .send("A0001 OK [CAPABILITY IMAP4rev1 UIDPLUS LITERAL+] in\r\n")
            .expect("A0002 SELECT \"INBOX\"")
            .send("* 1 EXISTS\r\n* OK [UIDVALIDITY 77] ok\r\nA0002 OK [READ-ONLY] done\r\n")
            .expect("A0003 UID FETCH 6 " + summaryItems)
            .send(summaryOf(1, 6, "\\Seen") + "A0003 OK done\r\n")
            .expect("A0004 UID FETCH 6 (BODY.PEEK[])")
            .send("* 1 FETCH (UID 6 BODY[] {" + QByteArray::number(emailWithPdf.size()) + "}\r\n" +
                  emailWithPdf + ")\r\nA0004 OK done\r\n");
        if (renumbered) {
            server.expect("A0005 SELECT \"INBOX\"")
                .send("* 1 EXISTS\r\n* OK [UIDVALIDITY 78] ok\r\nA0005 OK [READ-WRITE] done\r\n");
        }
        server.start();
        QTemporaryDir files;
        const QString saved = files.filePath(QStringLiteral("report.pdf"));
        {
            const auto application = imapstore::accountFactory(accountOf(server), secret())();
            const auto mapi = application->getNamespace(QStringLiteral("MAPI"));
            const auto email =
                mapi->getItemFromId(storeIdOf(server) + QStringLiteral("//INBOX::77.6"), {});
            QVERIFY(email);
            const auto attachment = email->attachments()->item(1);
            attachment->saveAsFile(saved);
            QCOMPARE(readFile(saved), pdf);
            if (!renumbered) {
                QFile file(saved);
                QVERIFY(file.open(QIODevice::Append));
                file.write("\r");
            }
            attachment->remove();
            email->appendToBody(QStringLiteral("The attachment is saved."));
            QVERIFY(!errorOf([&] { email->save(); }).isEmpty());
            // Refused before the server was asked: the job may take its saved files back.
            QCOMPARE(email->unchangedAfterFailedSave(), !renumbered);
        }
        QCOMPARE(server.finish(), QStringList());
    }

    // A refused password reaches the caller as such, naming the account's password, through
    // the listing of its folders: the desktop program asks for it again.
    void refusedLoginNamesItsAccount()
    {
        ScriptedImapServer server;
        server.send("* OK [CAPABILITY IMAP4rev1 AUTH=PLAIN SASL-IR] ready\r\n")
            .expect("A0001 AUTHENTICATE PLAIN " + plainToken)
            .send("A0001 NO [AUTHENTICATIONFAILED] Authentication failed.\r\n");
        server.start();
        const MailStoreEntry account = accountOf(server);
        const auto application = imapstore::accountFactory(account, secret())();
        const auto mapi = application->getNamespace(QStringLiteral("MAPI"));
        try {
            mapi->folders()->item(1)->folders()->count();
            QFAIL("a refused login listed the account's folders");
        } catch (const qb::LoginRefused &refused) {
            QCOMPARE(refused.accountKey(), account.passwordKey());
        }
        server.finish();
    }

    // A folder the server lists but will not open is skipped with a word naming it; the
    // account's other folders are still read.
    void refusedFolderIsSkippedWithAWord()
    {
        ScriptedImapServer server;
        server.send("* OK [CAPABILITY IMAP4rev1 AUTH=PLAIN SASL-IR] ready\r\n")
            .expect("A0001 AUTHENTICATE PLAIN " + plainToken)
            .send("A0001 OK [CAPABILITY IMAP4rev1] in\r\n")
            .expect("A0002 LIST \"\" \"\"")
            .send("* LIST (\\Noselect) \"/\" \"\"\r\nA0002 OK\r\n")
            .expect("A0003 LIST \"\" \"*\"")
            .send("* LIST () \"/\" INBOX\r\n* LIST () \"/\" \"Caf&AOk-\"\r\n"
                  "* LIST () \"/\" Later\r\nA0003 OK\r\n")
            .expect("A0004 SELECT \"Caf&AOk-\"")
            .send("A0004 NO [NOPERM] not for you\r\n")
            .expect("A0005 SELECT \"Later\"")
            .send("* 1 EXISTS\r\n* OK [UIDVALIDITY 9] ok\r\nA0005 OK [READ-ONLY] done\r\n")
            .expect("A0006 FETCH 1:1 (UID RFC822.SIZE INTERNALDATE FLAGS BODYSTRUCTURE "
                    "BODY.PEEK[HEADER.FIELDS (SUBJECT FROM MESSAGE-ID)])")
            .send(fetchOf(1, 3, pdfNamed("later.pdf")) + "A0006 OK done\r\n");
        server.start();
        {
            const auto application = imapstore::accountFactory(accountOf(server), secret())();
            const auto mapi = application->getNamespace(QStringLiteral("MAPI"));
            const auto top = mapi->folders()->item(1);
            QCOMPARE(top->name(), QStringLiteral("Scripted"));
            const auto folders = top->folders();
            QCOMPARE(folders->count(), 3);
            const auto cafe = folders->item(2);
            QCOMPARE(cafe->name(), QStringLiteral("Café"));
            QCOMPARE(cafe->items()->count(), 0);
            const QStringList skipped = cafe->skippedEntries();
            QCOMPARE(skipped.size(), 1);
            QVERIFY2(skipped.front().contains(QStringLiteral("Café")) &&
                         skipped.front().contains(QLatin1String("not for you")),
                     qPrintable(skipped.front()));
            const auto later = folders->item(3);
            QCOMPARE(namesIn(*later), QStringList{QStringLiteral("later.pdf")});
            QVERIFY(later->skippedEntries().isEmpty());
        }
        QCOMPARE(server.finish(), QStringList());
    }

    // Answers beyond what the folder's FETCH asked for (another number, the same one
    // again) are no emails of the folder.
    void unaskedAnswersAreDropped()
    {
        ScriptedImapServer server;
        inboxOfTwo(server)
            .expect(folderFetch)
            .send(fetchOf(1, 5, pdfNamed("one.pdf")) + fetchOf(7, 70, pdfNamed("stray.pdf")) +
                  fetchOf(2, 6, pdfNamed("two.pdf")) + fetchOf(2, 6, pdfNamed("two.pdf")) +
                  fetchOf(3, 5, pdfNamed("again.pdf")) + "* 1 FETCH (FLAGS (\\Seen))\r\n" +
                  "A0005 OK done\r\n");
        server.start();
        {
            const auto application = imapstore::accountFactory(accountOf(server), secret())();
            const auto inbox = application->getNamespace(QStringLiteral("MAPI"))
                                   ->getDefaultFolder(mailstore::DefaultInbox);
            QVERIFY(inbox);
            QCOMPARE(namesIn(*inbox),
                     (QStringList{QStringLiteral("one.pdf"), QStringLiteral("two.pdf")}));
        }
        QCOMPARE(server.finish(), QStringList());
    }

    // An email with thousands of attachments (a structure line of megabytes) is listed; one
    // nested deeper than is read is left out with a word; the folder's other emails stay.
    void largeAndDeepStructures()
    {
        QByteArray many = "((\"text\" \"plain\" NIL NIL NIL \"7bit\" 3 1)";
        const QByteArray padding(180, 'n');
        for (int i = 1; i <= 3000; ++i) {
            const QByteArray name = padding + QByteArray::number(i) + ".bin";
            many += "(\"application\" \"octet-stream\" (\"name\" \"" + name +
                    "\") NIL NIL \"base64\" 400 NIL (\"attachment\" (\"filename\" \"" + name +
                    "\")) NIL NIL)";
        }
        many += " \"mixed\")";
        QByteArray deep = "(\"text\" \"plain\" NIL NIL NIL \"7bit\" 3 1)";
        for (int level = 0; level < 300; ++level)
            deep = '(' + deep + " \"mixed\")";
        const QByteArray first = fetchOf(1, 5, many);
        QVERIFY(first.size() > (1 << 20));
        ScriptedImapServer server;
        inboxOfTwo(server)
            .expect(folderFetch)
            .send(first + fetchOf(2, 6, deep) + "A0005 OK done\r\n");
        server.start();
        {
            const auto application = imapstore::accountFactory(accountOf(server), secret())();
            const auto inbox = application->getNamespace(QStringLiteral("MAPI"))
                                   ->getDefaultFolder(mailstore::DefaultInbox);
            QVERIFY(inbox);
            const QStringList names = namesIn(*inbox);
            QCOMPARE(names.size(), 3000);
            QCOMPARE(names.back(), QString::fromLatin1(padding + "3000.bin"));
            const QStringList skipped = inbox->skippedEntries();
            QCOMPARE(skipped.size(), 1);
            QVERIFY2(skipped.front().startsWith(QLatin1String("Message 2 of INBOX")),
                     qPrintable(skipped.front()));
        }
        QCOMPARE(server.finish(), QStringList());
    }

    // Ctrl+C while the command line waits for a server that has not answered ends the
    // wait at once, not when the server answers or the wait times out.
    void interruptEndsTheWait()
    {
        ScriptedImapServer server;
        inboxOfTwo(server).expect(folderFetch);
        const int fetchAsked = 10; // steps up to the FETCH
        server.pause(6000).send(fetchOf(1, 5, pdfNamed("one.pdf")) +
                                fetchOf(2, 6, pdfNamed("two.pdf")) + "A0005 OK done\r\n");
        server.start();
        QTemporaryDir state;
        QProcess cli;
        QVERIFY(startAnalysis(cli, state, server));
        QTRY_VERIFY_WITH_TIMEOUT(server.stepsDone() >= fetchAsked, 20000);
        QTest::qWait(200);
        QElapsedTimer clock;
        clock.start();
        ::kill(pid_t(cli.processId()), SIGINT);
        const bool ended = cli.waitForFinished(3000);
        qInfo("ended %lld ms after Ctrl+C", qint64(clock.elapsed()));
        if (!ended) {
            cli.kill();
            cli.waitForFinished();
        }
        QVERIFY2(ended && clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
        const QString err = QString::fromUtf8(cli.readAllStandardError());
        QVERIFY2(cli.exitCode() == 0 && !err.contains(QLatin1String("Error")), qPrintable(err));
        server.finish();
    }

    // What the server asks to be shown ([ALERT], at login and with a folder) reaches the
    // user of the command line; the analysis is still whole.
    void alertsAreShown()
    {
        ScriptedImapServer server;
        server.send("* OK [CAPABILITY IMAP4rev1 AUTH=PLAIN SASL-IR] ready\r\n")
            .expect("A0001 AUTHENTICATE PLAIN " + plainToken)
            .send("* OK [ALERT] Maintenance tonight\r\nA0001 OK [CAPABILITY IMAP4rev1] in\r\n")
            .expect("A0002 LIST \"\" \"\"")
            .send("* LIST (\\Noselect) \"/\" \"\"\r\nA0002 OK\r\n")
            .expect("A0003 LIST \"\" \"*\"")
            .send("* LIST () \"/\" INBOX\r\nA0003 OK\r\n")
            .expect("A0004 SELECT \"INBOX\"")
            .send("* 2 EXISTS\r\n* OK [UIDVALIDITY 77] ok\r\n* NO [ALERT] Mailbox nearly full\r\n"
                  "A0004 OK [READ-ONLY] done\r\n")
            .expect(folderFetch)
            .send(fetchOf(1, 5, pdfNamed("one.pdf")) + fetchOf(2, 6, pdfNamed("two.pdf")) +
                  "A0005 OK done\r\n");
        server.start();
        QTemporaryDir state;
        QProcess cli;
        QVERIFY(startAnalysis(cli, state, server));
        QVERIFY(cli.waitForFinished(30000));
        const QString err = QString::fromUtf8(cli.readAllStandardError());
        const QString out = QString::fromUtf8(cli.readAllStandardOutput());
        QVERIFY2(err.contains(QLatin1String("Maintenance tonight")) &&
                     err.contains(QLatin1String("Mailbox nearly full")),
                 qPrintable(err));
        QVERIFY2(out.contains(QLatin1String("one.pdf")) && out.contains(QLatin1String("two.pdf")),
                 qPrintable(out));
        QCOMPARE(server.finish(), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestImapScripted)
#include "test_imap_scripted.moc"
