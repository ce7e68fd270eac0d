// The private Dovecot that the IMAP suites and the bench talk to: it starts on free ports,
// takes ann's login over a bare socket and refuses a wrong password, lists the folders of
// the Maildir it was given with the separator asked for, serves their mail, keeps its own
// files out of the Maildir, speaks STARTTLS and implicit TLS with the test authority's
// certificate, runs beside a second server, and is gone when the object is.
#include "support/DovecotServer.h"

#include <QDirIterator>
#include <QFile>
#include <QSslSocket>
#include <QTest>

#include <optional>

namespace {

// One IMAP session over a bare socket, the server's answers read line by line.
class RawSession
{
public:
    bool connectPlain(quint16 port)
    {
        m_socket.connectToHost(QStringLiteral("127.0.0.1"), port);
        return m_socket.waitForConnected(10000) && readGreeting();
    }
    bool connectTls(quint16 port, const QString &hostName)
    {
        trustTestAuthority();
        m_socket.connectToHostEncrypted(hostName, port);
        return m_socket.waitForEncrypted(10000) && readGreeting();
    }
    bool startTls()
    {
        trustTestAuthority();
        if (!command("STARTTLS").last().startsWith("t1 OK"))
            return false;
        m_socket.startClientEncryption();
        return m_socket.waitForEncrypted(10000);
    }
    // Sends "tN COMMAND" and returns the lines up to and with the tagged answer (literals
    // as lines of their own); "(silent)" last when the server said nothing for ten seconds.
    QList<QByteArray> command(const QByteArray &text)
    {
        const QByteArray tag = 't' + QByteArray::number(++m_tags);
        m_socket.write(tag + ' ' + text + "\r\n");
        QList<QByteArray> lines;
        for (;;) {
            const std::optional<QByteArray> line = readLine();
            lines << line.value_or("(silent)");
            if (!line || line->startsWith(tag + ' '))
                return lines;
        }
    }
    QString errorString() const { return m_socket.errorString(); }

private:
    void trustTestAuthority()
    {
        QSslConfiguration configuration = m_socket.sslConfiguration();
        configuration.setCaCertificates(DovecotServer::ca());
        m_socket.setSslConfiguration(configuration);
    }
    bool readGreeting() { return readLine().value_or(QByteArray()).startsWith("* OK"); }
    std::optional<QByteArray> readLine()
    {
        while (!m_socket.canReadLine())
            if (!m_socket.waitForReadyRead(10000))
                return std::nullopt;
        return m_socket.readLine().trimmed();
    }

    QSslSocket m_socket;
    int m_tags = 0;
};

QByteArray email(const QByteArray &subject)
{
    return "From: Ann <ann@example.com>\nSubject: " + subject + "\n\nHello\n";
}

bool writeEmail(const QString &folder, const QString &name, const QByteArray &content)
{
    QFile file(folder + QStringLiteral("/cur/") + name);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

// The folder names of LIST's answer, for separator sep.
QStringList listedFolders(const QList<QByteArray> &lines, const QByteArray &sep)
{
    QStringList folders;
    const QByteArray marker = ") \"" + sep + "\" ";
    for (const QByteArray &line : lines)
        if (line.startsWith("* LIST ") && line.contains(marker))
            folders << QString::fromUtf8(line.mid(line.indexOf(marker) + marker.size()));
    folders.sort();
    return folders;
}

bool refusesConnections(quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    return !socket.waitForConnected(3000);
}

} // namespace

class TestDovecotServer : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void servesTheMaildirOverPlainImap();
    void servesTwoAtOnceAndStopsWithTheObject();
    void speaksStartTlsAndImplicitTls();
    void failsWithTheReasonOnABadMaildir();
};

void TestDovecotServer::servesTheMaildirOverPlainImap()
{
    ServableMaildir maildir;
    QVERIFY(maildir.isValid());
    QVERIFY(writeEmail(maildir.path(), QStringLiteral("1.host:2,S"), email("In the Inbox")));
    const QString projects = maildir.addFolder({QStringLiteral("Projects")});
    const QString year = maildir.addFolder({QStringLiteral("Projects"), QStringLiteral("2024")});
    // "Été" as modified UTF-7, as folder names sit on disk in this layout.
    const QString summer =
        maildir.addFolder({QStringLiteral("Projects"), QStringLiteral("&AMk-t&AOk-")});
    QVERIFY(!projects.isEmpty() && !year.isEmpty() && !summer.isEmpty());
    QVERIFY(writeEmail(year, QStringLiteral("2.host:2,S"), email("First of 2024")));
    QVERIFY(writeEmail(year, QStringLiteral("3.host:2,"), email("Second of 2024")));

    DovecotServer server(maildir.path());
    QVERIFY2(server.start(), qPrintable(server.error()));
    QVERIFY(server.port() != 0);
    QCOMPARE(server.imapsPort(), quint16(0));
    QCOMPARE(server.storeUrl(), QStringLiteral("imap://ann@127.0.0.1:%1").arg(server.port()));

    RawSession session;
    QVERIFY2(session.connectPlain(server.port()), qPrintable(server.log()));
    QVERIFY2(session.command("LOGIN ann secret").last().startsWith("t1 OK"),
             qPrintable(server.log()));
    const QStringList expected{
        QStringLiteral("INBOX"),
        QStringLiteral("Projects"),
        QStringLiteral("Projects/&AMk-t&AOk-"),
        QStringLiteral("Projects/2024"),
    };
    QCOMPARE(listedFolders(session.command("LIST \"\" *"), "/"), expected);
    QVERIFY(session.command("SELECT Projects/2024").contains("* 2 EXISTS"));
    const QList<QByteArray> fetched = session.command("UID FETCH 1:* (BODY.PEEK[HEADER.FIELDS "
                                                      "(SUBJECT)])");
    QVERIFY(fetched.last().startsWith("t4 OK"));
    QVERIFY(fetched.contains("Subject: First of 2024"));
    QVERIFY(fetched.contains("Subject: Second of 2024"));
    QVERIFY(session.command("SELECT INBOX").contains("* 1 EXISTS"));
    QVERIFY(session.command("LOGOUT").last().contains(" OK "));

    // Last: after a wrong password Dovecot holds logins from 127.0.0.1 back for seconds.
    RawSession refused;
    QVERIFY(refused.connectPlain(server.port()));
    QVERIFY(refused.command("LOGIN ann wrong").last().startsWith("t1 NO"));

    // Dovecot's indexes, lists and UID files went to the instance, not into the mail.
    QDirIterator files(maildir.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString name = QFileInfo(files.next()).fileName();
        QVERIFY2(!name.startsWith(QLatin1String("dovecot")) &&
                     name != QLatin1String("subscriptions"),
                 qPrintable(files.filePath()));
    }
}

void TestDovecotServer::servesTwoAtOnceAndStopsWithTheObject()
{
    ServableMaildir first;
    ServableMaildir second;
    QVERIFY(first.isValid() && second.isValid());
    QVERIFY(writeEmail(second.path(), QStringLiteral("1.host:2,S"), email("Only here")));
    quint16 firstPort = 0;
    {
        DovecotServer one(first.path(), {.separator = QStringLiteral(".")});
        DovecotServer two(second.path());
        QVERIFY2(one.start(), qPrintable(one.error()));
        QVERIFY2(two.start(), qPrintable(two.error()));
        QVERIFY(one.port() != two.port());
        firstPort = one.port();

        RawSession a;
        RawSession b;
        QVERIFY(a.connectPlain(one.port()) && b.connectPlain(two.port()));
        QVERIFY(a.command("LOGIN ann secret").last().startsWith("t1 OK"));
        QVERIFY(b.command("LOGIN ann secret").last().startsWith("t1 OK"));
        QVERIFY(a.command("LIST \"\" \"\"").contains("* LIST (\\Noselect) \".\" \"\""));
        QVERIFY(a.command("SELECT INBOX").contains("* 0 EXISTS"));
        QVERIFY(b.command("SELECT INBOX").contains("* 1 EXISTS"));

        two.stop();
        QVERIFY(!two.isRunning());
        QVERIFY(refusesConnections(two.port()));
        QVERIFY(one.isRunning());
    }
    QVERIFY(refusesConnections(firstPort));
}

void TestDovecotServer::speaksStartTlsAndImplicitTls()
{
    QVERIFY2(QSslSocket::supportsSsl(), "Qt has no TLS backend here");
    ServableMaildir maildir;
    QVERIFY(maildir.isValid());
    QVERIFY(writeEmail(maildir.path(), QStringLiteral("1.host:2,S"), email("Secret")));
    DovecotServer server(maildir.path(), {.tls = true});
    QVERIFY2(server.start(), qPrintable(server.error()));
    QVERIFY(server.imapsPort() != 0 && server.imapsPort() != server.port());

    RawSession upgraded;
    QVERIFY(upgraded.connectPlain(server.port()));
    QVERIFY2(upgraded.startTls(), qPrintable(upgraded.errorString()));
    QVERIFY(upgraded.command("LOGIN ann secret").last().startsWith("t2 OK"));
    QVERIFY(upgraded.command("SELECT INBOX").contains("* 1 EXISTS"));

    // The certificate names both 127.0.0.1 and localhost.
    for (const QString &name : {QStringLiteral("127.0.0.1"), QStringLiteral("localhost")}) {
        RawSession direct;
        QVERIFY2(direct.connectTls(server.imapsPort(), name), qPrintable(direct.errorString()));
        QVERIFY(direct.command("LOGIN ann secret").last().startsWith("t1 OK"));
    }
    // Dovecot's log process writes a login line after the client already has its OK.
    QTRY_COMPARE(server.log().count(QLatin1String("Login: user=<ann>, method=PLAIN")), 3);
    QTRY_COMPARE(server.log().count(QLatin1String(", TLS, session=")), 3);
}

void TestDovecotServer::failsWithTheReasonOnABadMaildir()
{
    ServableMaildir maildir;
    QVERIFY(maildir.isValid());
    DovecotServer server(maildir.path() + QStringLiteral("/nothing"));
    QVERIFY(!server.start());
    QVERIFY2(server.error().contains(QLatin1String("is not a Maildir")),
             qPrintable(server.error()));
    QVERIFY(!server.isRunning());
}

QTEST_GUILESS_MAIN(TestDovecotServer)
#include "test_dovecot_server.moc"
