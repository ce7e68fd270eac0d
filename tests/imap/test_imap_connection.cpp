// The IMAP connection against scripted servers on 127.0.0.1: logins, STARTTLS and TLS with
// certificate checks, and every way a command can end (OK, NO, BAD, BYE, a drop, a
// timeout, the command's deadline against a trickle, bounds against a flood, the caller's
// cancel and the thread's interruption).

#include "imap/Connection.h"
#include "imap/ImapError.h"
#include "imap/ScriptedImapServer.h"

#include "imap/CertificateReport.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTest>
#include <QThread>

using namespace imap;
using namespace std::chrono_literals;

namespace {

const Credentials credentials{QStringLiteral("ann"), QStringLiteral("s3cret\"pw")};
// What AUTHENTICATE PLAIN carries for those credentials.
const QByteArray plainToken = QByteArray("\0ann\0s3cret\"pw", 14).toBase64();

ServerAddress local(const ScriptedImapServer &server, Security security = Security::Plain)
{
    return {QStringLiteral("127.0.0.1"), server.port(), security};
}

TlsTrust testAuthority()
{
    return {QSslCertificate::fromPath(ScriptedImapServer::tlsFile("ca.pem")), {}};
}

QByteArray serverFingerprint()
{
    return QSslCertificate::fromPath(ScriptedImapServer::tlsFile("server.pem"))
        .value(0)
        .digest(QCryptographicHash::Sha256);
}

// A greeting and an AUTHENTICATE PLAIN with SASL-IR, A0001, answered with capabilities.
ScriptedImapServer &loggedIn(ScriptedImapServer &server, const QByteArray &capabilities = "")
{
    return server.send("* OK [CAPABILITY IMAP4rev1 AUTH=PLAIN SASL-IR] ready\r\n")
        .expect("A0001 AUTHENTICATE PLAIN " + plainToken)
        .send("A0001 OK [CAPABILITY IMAP4rev1 " + capabilities + "] logged in\r\n");
}

} // namespace

class TestImapConnection : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void loginPlainWithInitialResponse();
    void loginPlainWithContinuation();
    void loginWithLogin();
    void loginRefused();
    void loginDisabledWithoutPlain();
    void greetings();
    void startTls();
    void startTlsNotOffered();
    void startTlsWithInjectedData();
    void implicitTls();
    void untrustedCertificate();
    void plainOnlyToLoopback();
    void untaggedStreamInPieces();
    void noAndBad();
    void synchronisingLiteral();
    void nonSynchronisingLiteral();
    void literalMinusOnlyForSmallLiterals();
    void byeDuringCommand();
    void dropMidResponse();
    void protocolErrorClosesConnection();
    void timeout();
    void cancelIsPrompt();
    void commandBounds();
    void interruptedThreadCancels();
    void hierarchySeparatorAskedOnce();
};

void TestImapConnection::loginPlainWithInitialResponse()
{
    ScriptedImapServer server;
    loggedIn(server, "UIDPLUS MOVE")
        .expect("A0002 NOOP")
        .send("* 3 EXISTS\r\n* OK [ALERT] Mailbox is nearly full\r\nA0002 OK [ALERT] Really\r\n");
    server.start();
    {
        Connection connection(local(server));
        connection.open(credentials);
        QVERIFY(connection.isOpen());
        QVERIFY(connection.hasCapability("move"));
        QVERIFY(connection.hasCapability("UIDPLUS"));
        QVERIFY(!connection.hasCapability("SASL-IR")); // replaced by the list after login
        QList<QByteArray> seen;
        connection.run(Command("NOOP"), [&](const Response &response) { seen << response.name; });
        QCOMPARE(seen, (QList<QByteArray>{"EXISTS", "OK"}));
        QCOMPARE(connection.takeAlerts(),
                 (QStringList{QStringLiteral("Mailbox is nearly full"), QStringLiteral("Really")}));
        QVERIFY(connection.takeAlerts().isEmpty());
    }
    QCOMPARE(server.finish(), QStringList()); // LOGOUT on the way out
}

void TestImapConnection::loginPlainWithContinuation()
{
    ScriptedImapServer server;
    server.send("* OK ready\r\n")
        .expect("A0001 CAPABILITY")
        .send("* CAPABILITY IMAP4rev1 AUTH=PLAIN AUTH=LOGIN\r\nA0001 OK\r\n")
        .expect("A0002 AUTHENTICATE PLAIN")
        .send("+ \r\n")
        .expect(plainToken)
        .send("A0002 OK done\r\n")
        .expect("A0003 CAPABILITY")
        .send("* CAPABILITY IMAP4rev1 IDLE\r\nA0003 OK\r\n");
    server.start();
    {
        Connection connection(local(server));
        connection.open(credentials);
        QVERIFY(connection.hasCapability("IDLE"));
        QVERIFY(!connection.hasCapability("AUTH=PLAIN"));
    } // logs out while the script still listens
    QCOMPARE(server.finish(), QStringList());
}

void TestImapConnection::loginWithLogin()
{
    ScriptedImapServer server;
    server.send("* OK [CAPABILITY IMAP4rev1 AUTH=CRAM-MD5] ready\r\n")
        .expect("A0001 LOGIN \"ann\" \"s3cret\\\"pw\"")
        .send("A0001 OK [CAPABILITY IMAP4rev1] hi\r\n");
    server.start();
    {
        Connection connection(local(server));
        connection.open(credentials);
        QVERIFY(connection.isOpen());
    } // logs out while the script still listens
    QCOMPARE(server.finish(), QStringList());
}

void TestImapConnection::loginRefused()
{
    ScriptedImapServer server;
    server.send("* OK [CAPABILITY IMAP4rev1 AUTH=PLAIN SASL-IR] ready\r\n")
        .expect("A0001 AUTHENTICATE PLAIN " + plainToken)
        .send("A0001 NO [AUTHENTICATIONFAILED] Authentication failed.\r\n");
    server.start();
    Connection connection(local(server));
    try {
        connection.open(credentials);
        QFAIL("a refused login opened the connection");
    } catch (const LoginRefused &error) {
        // Told apart from other refusals, so that the password can be asked for again.
        QVERIFY(error.message().contains(credentials.user + QLatin1String("@127.0.0.1")));
        QVERIFY(error.message().contains(QLatin1String("Authentication failed.")));
        QVERIFY(!error.message().contains(credentials.password));
        QVERIFY(!error.message().contains(QString::fromLatin1(plainToken)));
    }
    QVERIFY(!connection.isOpen());
    server.finish();
}

void TestImapConnection::loginDisabledWithoutPlain()
{
    ScriptedImapServer server;
    server.send("* OK [CAPABILITY IMAP4rev1 LOGINDISABLED AUTH=GSSAPI] ready\r\n");
    server.start();
    Connection connection(local(server));
    try {
        connection.open(credentials);
        QFAIL("opened without a way to log in");
    } catch (const ConnectionError &error) {
        QVERIFY(error.message().contains(QLatin1String("neither AUTH=PLAIN nor LOGIN")));
        QVERIFY(!error.message().contains(credentials.password));
    }
    QCOMPARE(server.finish(), QStringList()); // no credentials were sent
}

void TestImapConnection::greetings()
{
    {
        ScriptedImapServer server;
        server.send("* PREAUTH [CAPABILITY IMAP4rev1] welcome back\r\n");
        server.start();
        {
            Connection connection(local(server));
            connection.open(credentials);
            QVERIFY(connection.isOpen());
        }
        QCOMPARE(server.finish(), QStringList());
    }
    {
        ScriptedImapServer server;
        server.send("* BYE too many connections\r\n");
        server.start();
        Connection connection(local(server));
        try {
            connection.open(credentials);
            QFAIL("opened after BYE");
        } catch (const ConnectionError &error) {
            QVERIFY(error.message().contains(QLatin1String("too many connections")));
            QVERIFY(error.message().contains(QStringLiteral("127.0.0.1:%1").arg(server.port())));
        }
        server.finish();
    }
}

void TestImapConnection::startTls()
{
    ScriptedImapServer server;
    server.send("* OK [CAPABILITY IMAP4rev1 STARTTLS LOGINDISABLED XBEFORE] ready\r\n")
        .expect("A0001 STARTTLS")
        .send("A0001 OK Begin TLS negotiation now\r\n")
        .startTls()
        .expect("A0002 CAPABILITY")
        .send("* CAPABILITY IMAP4rev1 AUTH=PLAIN SASL-IR\r\nA0002 OK\r\n")
        .expect("A0003 AUTHENTICATE PLAIN " + plainToken)
        .send("A0003 OK [CAPABILITY IMAP4rev1 UIDPLUS] in\r\n");
    server.start();
    {
        Connection connection(local(server, Security::StartTls), testAuthority());
        connection.open(credentials);
        QVERIFY(connection.isOpen());
        QVERIFY(!connection.hasCapability("XBEFORE"));
        QVERIFY(connection.hasCapability("UIDPLUS"));
    } // logs out while the script still listens
    QCOMPARE(server.finish(), QStringList());
}

void TestImapConnection::startTlsNotOffered()
{
    ScriptedImapServer server;
    server.send("* OK [CAPABILITY IMAP4rev1 AUTH=PLAIN] ready\r\n");
    server.start();
    Connection connection(local(server, Security::StartTls), testAuthority());
    try {
        connection.open(credentials);
        QFAIL("went on without STARTTLS");
    } catch (const ConnectionError &error) {
        QVERIFY(error.message().contains(QLatin1String("does not offer STARTTLS")));
    }
    QCOMPARE(server.finish(), QStringList()); // nothing at all was sent in the clear
}

void TestImapConnection::startTlsWithInjectedData()
{
    // Responses sent in the clear behind STARTTLS's OK would pass as protected ones.
    ScriptedImapServer server;
    server.send("* OK [CAPABILITY IMAP4rev1 STARTTLS] ready\r\n")
        .expect("A0001 STARTTLS")
        .send("A0001 OK Begin TLS\r\n* OK [CAPABILITY IMAP4rev1 AUTH=PLAIN] forged\r\n");
    server.start();
    Connection connection(local(server, Security::StartTls), testAuthority());
    try {
        connection.open(credentials);
        QFAIL("data from before the handshake was taken");
    } catch (const ConnectionError &error) {
        QVERIFY(error.message().contains(QLatin1String("before the TLS handshake")));
    }
    QCOMPARE(server.finish(), QStringList());
}

void TestImapConnection::implicitTls()
{
    ScriptedImapServer server(ScriptedImapServer::Tls::Implicit);
    loggedIn(server).expect("A0002 NOOP").send("A0002 OK\r\n");
    server.start();
    {
        Connection connection(local(server, Security::Tls), testAuthority());
        connection.open(credentials);
        connection.run(Command("NOOP"));
    }
    QCOMPARE(server.finish(), QStringList());
}

void TestImapConnection::untrustedCertificate()
{
    QByteArray fingerprint;
    {
        ScriptedImapServer server(ScriptedImapServer::Tls::Implicit);
        server.start();
        Connection connection(local(server, Security::Tls));
        try {
            connection.open(credentials);
            QFAIL("a certificate of an unknown authority was accepted");
        } catch (const CertificateError &error) {
            fingerprint = error.fingerprint();
            QCOMPARE(fingerprint, serverFingerprint());
            QVERIFY2(error.message().contains(fingerprintText(fingerprint)),
                     qPrintable(error.message()));
            QVERIFY(fingerprintText(fingerprint)
                        .contains(
                            QRegularExpression(QStringLiteral("^([0-9A-F]{2}:){31}[0-9A-F]{2}$"))));
            QVERIFY(error.message().contains(QLatin1String("Quillbrook test authority")));
            QVERIFY(error.message().contains(QLatin1String("127.0.0.1")));
        }
        QVERIFY(!connection.isOpen());
        server.finish();
    }
    {
        // Another certificate's fingerprint does not help.
        ScriptedImapServer server(ScriptedImapServer::Tls::Implicit);
        server.start();
        Connection connection(local(server, Security::Tls),
                              {{}, QCryptographicHash::hash("other", QCryptographicHash::Sha256)});
        QVERIFY_THROWS_EXCEPTION(CertificateError, connection.open(credentials));
        server.finish();
    }
    {
        ScriptedImapServer server(ScriptedImapServer::Tls::Implicit);
        loggedIn(server);
        server.start();
        {
            Connection connection(local(server, Security::Tls), {{}, fingerprint});
            connection.open(credentials);
            QVERIFY(connection.isOpen());
        }
        QCOMPARE(server.finish(), QStringList());
    }
}

void TestImapConnection::plainOnlyToLoopback()
{
    QVERIFY(isLoopbackHost(QStringLiteral("127.0.0.1")));
    QVERIFY(isLoopbackHost(QStringLiteral("::1")));
    QVERIFY(isLoopbackHost(QStringLiteral("[::1]")));
    QVERIFY(isLoopbackHost(QStringLiteral("LocalHost")));
    QVERIFY(!isLoopbackHost(QStringLiteral("192.0.2.1")));
    QVERIFY(!isLoopbackHost(QStringLiteral("localhost.example.org")));
    QVERIFY(!isLoopbackHost(QStringLiteral("imap.example.org")));

    Connection connection({QStringLiteral("192.0.2.1"), 143, Security::Plain});
    QElapsedTimer clock;
    clock.start();
    try {
        connection.open(credentials);
        QFAIL("an unencrypted connection to another machine was opened");
    } catch (const ConnectionError &error) {
        QVERIFY(error.message().contains(QLatin1String("unencrypted")));
        QVERIFY(error.message().contains(QLatin1String("192.0.2.1:143")));
    }
    QVERIFY(clock.elapsed() < 5000); // refused before any attempt to connect
}

void TestImapConnection::untaggedStreamInPieces()
{
    ScriptedImapServer server;
    loggedIn(server)
        .expect("A0002 UID FETCH 1:* (UID BODY.PEEK[1])")
        .sendBytewise("* 1 FETCH (UID 10 BODY[1] {7}\r\nab\r\n)cd)\r\n"
                      "* 2 FETCH (UID 11 BODY[1] ~{0}\r\n)\r\nA0002 OK done\r\n");
    server.start();
    {
        Connection connection(local(server));
        connection.open(credentials);
        QList<QByteArray> bodies;
        QList<qint64> uids;
        const Response done =
            connection.run(Command("UID FETCH 1:* (UID BODY.PEEK[1])"), [&](const Response &fetch) {
                uids << fetchItem(fetch, "UID")->number();
                bodies << fetchItem(fetch, "BODY[1]")->text;
            });
        QCOMPARE(done.text, QByteArray("done"));
        QCOMPARE(uids, (QList<qint64>{10, 11}));
        QCOMPARE(bodies, (QList<QByteArray>{"ab\r\n)cd", ""}));
    } // logs out while the script still listens
    QCOMPARE(server.finish(), QStringList());
}

void TestImapConnection::noAndBad()
{
    ScriptedImapServer server;
    loggedIn(server)
        .expect("A0002 COPY 1 \"Archive\"")
        .send("A0002 NO [TRYCREATE] No such mailbox\r\n")
        .expect("A0003 FOO")
        .send("A0003 BAD Unknown command\r\n")
        .expect("A0004 NOOP")
        .send("A0004 OK\r\n");
    server.start();
    {
        Connection connection(local(server));
        connection.open(credentials);
        try {
            connection.run(Command("COPY 1").mailbox(QStringLiteral("Archive")));
            QFAIL("NO passed as success");
        } catch (const CommandFailed &error) {
            QCOMPARE(error.status(), QByteArray("NO"));
            QCOMPARE(error.responseCode(), QByteArray("TRYCREATE"));
            QCOMPARE(error.serverText(), QByteArray("No such mailbox"));
        }
        try {
            connection.run(Command("FOO"));
            QFAIL("BAD passed as success");
        } catch (const CommandFailed &error) {
            QCOMPARE(error.status(), QByteArray("BAD"));
        }
        QVERIFY(connection.isOpen());
        connection.run(Command("NOOP"));
    } // logs out while the script still listens
    QCOMPARE(server.finish(), QStringList());
}

void TestImapConnection::synchronisingLiteral()
{
    ScriptedImapServer server;
    loggedIn(server)
        .expect("A0002 APPEND \"INBOX\" (\\Seen) {5}")
        .expectSilence(300)
        .send("+ go ahead\r\n")
        .expect("hello")
        .send("A0002 OK [APPENDUID 7 42] appended\r\n")
        .expect("A0003 APPEND \"INBOX\" {3}")
        .send("A0003 NO [OVERQUOTA] too big\r\n")
        .expect("A0004 NOOP")
        .send("A0004 OK\r\n");
    server.start();
    {
        Connection connection(local(server));
        connection.open(credentials);
        const Response appended = connection.run(
            Command("APPEND").mailbox(QStringLiteral("INBOX")).raw(" (\\Seen)").literal("hello"));
        QCOMPARE(appended.code, QByteArray("APPENDUID"));
        QCOMPARE(appended.codeArgs.at(1).number(), 42);
        // A server may refuse the literal instead of asking for it.
        try {
            connection.run(Command("APPEND").mailbox(QStringLiteral("INBOX")).literal("abc"));
            QFAIL("a refused literal passed");
        } catch (const CommandFailed &error) {
            QCOMPARE(error.responseCode(), QByteArray("OVERQUOTA"));
        }
        connection.run(Command("NOOP"));
    } // logs out while the script still listens
    QCOMPARE(server.finish(), QStringList());
}

void TestImapConnection::nonSynchronisingLiteral()
{
    ScriptedImapServer server;
    loggedIn(server, "LITERAL+")
        .expect("A0002 LOGIN {3+}")
        .expect("\xc3\xa4x \"b\"")
        .send("A0002 OK\r\n");
    server.start();
    {
        Connection connection(local(server));
        connection.open(credentials);
        connection.run(Command("LOGIN").string("\xc3\xa4x").string("b"));
    } // logs out while the script still listens
    QCOMPARE(server.finish(), QStringList());
}

void TestImapConnection::literalMinusOnlyForSmallLiterals()
{
    const QByteArray small(4096, 's');
    const QByteArray big(4097, 'b');
    ScriptedImapServer server;
    loggedIn(server, "LITERAL-")
        .expect("A0002 APPEND \"INBOX\" {4096+}")
        .expect(small)
        .send("A0002 OK\r\n")
        .expect("A0003 APPEND \"INBOX\" {4097}")
        .expectSilence(200)
        .send("+ more\r\n")
        .expect(big)
        .send("A0003 OK\r\n");
    server.start();
    {
        Connection connection(local(server));
        connection.open(credentials);
        connection.run(Command("APPEND").mailbox(QStringLiteral("INBOX")).literal(small));
        connection.run(Command("APPEND").mailbox(QStringLiteral("INBOX")).literal(big));
    }
    QCOMPARE(server.finish(), QStringList());
}

void TestImapConnection::byeDuringCommand()
{
    ScriptedImapServer server;
    loggedIn(server).expect("A0002 NOOP").send("* BYE Server shutting down\r\n").drop();
    server.start();
    Connection connection(local(server));
    connection.open(credentials);
    try {
        connection.run(Command("NOOP"));
        QFAIL("BYE passed");
    } catch (const ConnectionError &error) {
        QVERIFY(error.message().contains(QLatin1String("Server shutting down")));
    }
    QVERIFY(!connection.isOpen());
    QVERIFY_THROWS_EXCEPTION(ConnectionError, connection.run(Command("NOOP")));
    server.finish();
}

void TestImapConnection::dropMidResponse()
{
    ScriptedImapServer server;
    loggedIn(server)
        .expect("A0002 FETCH 1 BODY[]")
        .send("* 1 FETCH (BODY[] {100}\r\nonly a part")
        .pause(50)
        .drop();
    server.start();
    Connection connection(local(server));
    connection.open(credentials);
    try {
        connection.run(Command("FETCH 1 BODY[]"));
        QFAIL("a cut response passed");
    } catch (const ConnectionError &error) {
        QVERIFY2(error.message().contains(QLatin1String("middle of a response")),
                 qPrintable(error.message()));
    }
    QVERIFY(!connection.isOpen());
    server.finish();
}

void TestImapConnection::protocolErrorClosesConnection()
{
    ScriptedImapServer server;
    loggedIn(server).expect("A0002 NOOP").send("* 1 FETCH (UID 1))\r\n");
    server.start();
    Connection connection(local(server));
    connection.open(credentials);
    try {
        connection.run(Command("NOOP"));
        QFAIL("a malformed response passed");
    } catch (const ConnectionError &error) {
        QVERIFY(error.message().contains(QLatin1String("protocol error")));
        QVERIFY(error.message().contains(QStringLiteral("127.0.0.1:%1").arg(server.port())));
    }
    QVERIFY(!connection.isOpen());
    server.finish();
}

void TestImapConnection::timeout()
{
    ScriptedImapServer server;
    loggedIn(server).expect("A0002 NOOP");
    server.start();
    Connection connection(local(server));
    connection.open(credentials);
    QElapsedTimer clock;
    clock.start();
    try {
        connection.run(Command("NOOP"), {}, 300ms);
        QFAIL("no answer passed");
    } catch (const ConnectionError &error) {
        QVERIFY(error.message().contains(QLatin1String("no answer within 0.3 s")));
    }
    QVERIFY(clock.elapsed() >= 250);
    QVERIFY(clock.elapsed() < 10000);
    QVERIFY(!connection.isOpen());
    server.finish();
}

void TestImapConnection::cancelIsPrompt()
{
    ScriptedImapServer server;
    loggedIn(server).expect("A0002 IDLE");
    server.start();
    QElapsedTimer clock;
    bool cancelNow = false;
    Connection connection(local(server), {}, [&] { return cancelNow && clock.elapsed() > 200; });
    connection.open(credentials);
    cancelNow = true;
    clock.start();
    QVERIFY_THROWS_EXCEPTION(Cancelled, connection.run(Command("IDLE"), {}, 60s));
    qInfo("stopped %lld ms after the start of the command", qint64(clock.elapsed()));
    // Well under the timeout: the wait is sliced, and the check asked between slices.
    QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(!connection.isOpen());
    server.finish();
}

void TestImapConnection::commandBounds()
{
    // Each case: a FETCH whose answer goes on too long, too much or too slowly, and what
    // the error says; the answer would end well within the test's time if let through.
    const auto failureOf = [](ScriptedImapServer &server, const CommandBounds &bounds) {
        server.start();
        Connection connection(local(server));
        connection.open(credentials);
        connection.setCommandBounds(bounds);
        QString message;
        try {
            connection.run(Command("FETCH 1:* (UID)"));
        } catch (const ConnectionError &error) {
            message = error.message();
        }
        if (!message.isEmpty() && connection.isOpen())
            message += QStringLiteral(" (still open)");
        server.finish();
        return message;
    };
    QElapsedTimer clock;

    // One byte every 100 ms never lets the wait for the next bytes run out; the command's
    // deadline ends it.
    {
        ScriptedImapServer server;
        loggedIn(server).expect("A0002 FETCH 1:* (UID)").send("* 1 FETCH (UID 1");
        for (int i = 0; i < 25; ++i)
            server.send("1").pause(100);
        server.send(")\r\nA0002 OK\r\n");
        CommandBounds bounds;
        bounds.deadline = 1s;
        clock.start();
        const QString message = failureOf(server, bounds);
        QVERIFY2(message.contains(QLatin1String("no complete answer to FETCH within")),
                 qPrintable(message));
        QVERIFY2(clock.elapsed() < 6000, qPrintable(QString::number(clock.elapsed())));
    }
    // More responses than a command may bring, with the bounds as they come.
    {
        ScriptedImapServer server;
        QByteArray flood;
        for (int i = 1; i <= 100001; ++i)
            flood +=
                "* " + QByteArray::number(i) + " FETCH (UID " + QByteArray::number(i) + ")\r\n";
        loggedIn(server).expect("A0002 FETCH 1:* (UID)").send(flood + "A0002 OK\r\n");
        const QString message = failureOf(server, CommandBounds());
        QVERIFY2(message.contains(QLatin1String("more than 100000 responses to FETCH")),
                 qPrintable(message));
    }
    // More bytes than a command may bring, in a few large responses.
    {
        ScriptedImapServer server;
        loggedIn(server).expect("A0002 FETCH 1:* (UID)");
        for (int i = 1; i <= 4; ++i)
            server.send("* " + QByteArray::number(i) + " FETCH (BODY[] {50000}\r\n" +
                        QByteArray(50000, 'b') + ")\r\n");
        server.send("A0002 OK\r\n");
        CommandBounds bounds;
        bounds.maxBytes = 120000;
        const QString message = failureOf(server, bounds);
        QVERIFY2(message.contains(QLatin1String("beyond 120000 bytes")), qPrintable(message));
    }
}

void TestImapConnection::interruptedThreadCancels()
{
    // No cancel check given: an interruption requested of the connection's thread, as a
    // worker's Cancel does, ends a wait for a server that takes its time.
    ScriptedImapServer server;
    loggedIn(server).expect("A0002 NOOP").pause(3000).send("A0002 OK\r\n");
    server.start();
    QString outcome;
    std::unique_ptr<QThread> worker(QThread::create([&] {
        Connection connection(local(server));
        try {
            connection.open(credentials);
            connection.run(Command("NOOP"));
            outcome = QStringLiteral("answered");
        } catch (const Cancelled &) {
            outcome = QStringLiteral("cancelled");
        } catch (const qb::Error &error) {
            outcome = error.message();
        }
    }));
    worker->start();
    QTRY_VERIFY_WITH_TIMEOUT(server.stepsDone() >= 4, 10000); // NOOP sent
    QElapsedTimer clock;
    clock.start();
    worker->requestInterruption();
    QVERIFY(worker->wait(10000));
    qInfo("stopped %lld ms after the interruption", qint64(clock.elapsed()));
    QCOMPARE(outcome, QStringLiteral("cancelled"));
    QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
    server.finish();
}

void TestImapConnection::hierarchySeparatorAskedOnce()
{
    ScriptedImapServer server;
    loggedIn(server)
        .expect("A0002 LIST \"\" \"\"")
        .send("* LIST (\\Noselect) \".\" \"\"\r\nA0002 OK\r\n");
    server.start();
    {
        Connection connection(local(server));
        connection.open(credentials);
        QCOMPARE(connection.hierarchySeparator(), QByteArray("."));
        QCOMPARE(connection.hierarchySeparator(), QByteArray("."));
    } // logs out while the script still listens
    QCOMPARE(server.finish(), QStringList());
}

QTEST_GUILESS_MAIN(TestImapConnection)
#include "test_imap_connection.moc"
