// The IMAP store against a real server (a private Dovecot): the same mail lists the same
// rows whether it is read from the server or as a Maildir, and a job on the server keeps
// every email exactly once, with its flags and received date, with the attachments it
// removed saved whole, also when another mail program moves the email meanwhile.
#include "common/Error.h"
#include "imap/Connection.h"
#include "mailstore/imap/ImapStore.h"
#include "mailstore/imap/RemoteMessage.h"
#include "mailstore/mime/ParsedEmail.h"
#include "settings/MailStoreEntries.h"
#include "support/CliRun.h"
#include "support/CourierServer.h"
#include "support/DovecotServer.h"
#include "support/ErrorOf.h"
#include "support/Files.h"
#include "support/ServerContents.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSslCertificate>
#include <QTest>

#include <gmime/gmime.h>

#include <map>
#include <set>
#include <sys/stat.h>
#include <utime.h>

namespace {

QByteArray sha256(const QByteArray &bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

// The CSV rows without the size columns, with the store's name in the folder column
// replaced: the two stores differ there by design (a Maildir's size counts its file's
// bytes, the server's counts its line ends as CR LF; an attachment's size is told from
// the server's octet count; the top folders are named apart).
QStringList comparableRows(QString csv, const QString &storeName)
{
    QStringList rows = csv.replace(storeName, QStringLiteral("STORE")).split(QLatin1Char('\n'));
    rows.removeAll(QString());
    static const QRegularExpression attachmentSize(QStringLiteral(",(\"[^\"]*\"|[^,\"]*)\r$"));
    for (QString &row : rows) {
        row.remove(attachmentSize);
        QStringList cells = row.split(QLatin1Char(','));
        if (cells.size() >= 7)
            cells.removeAt(2);
        row = cells.join(QLatin1Char(','));
    }
    return rows;
}

} // namespace

class TestImapStore : public QObject
{
    Q_OBJECT

private:
    ServableMaildir m_maildir;
    std::unique_ptr<TestImapServer> m_server;
    QString m_demo; // the demo mail's emails, as files, one per message
    std::map<QByteArray, QByteArray> m_originals; // by Message-ID

    QStringList imapStore() const
    {
        return {QStringLiteral("--store"),         m_server->storeUrl(),
                QStringLiteral("--password-file"), m_server->passwordFile(),
                QStringLiteral("--folder"),        QStringLiteral("Email Folders\\ann@127.0.0.1")};
    }

    // Writes an email into a folder of the served Maildir, with a received date and the
    // seen flag.
    void addEmail(const QString &folder, const QString &name, const QByteArray &bytes, int hour)
    {
        const QString path = folder + QStringLiteral("/cur/") + name + QStringLiteral(":2,S");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        file.close();
        const time_t when = 1700000000 + hour * 3600;
        const struct utimbuf times = {when, when};
        QCOMPARE(::utime(QFile::encodeName(path).constData(), &times), 0);
    }

private Q_SLOTS:
    void initTestCase()
    {
        g_mime_init();
        QVERIFY(m_maildir.isValid());
        // The demo mail and the reader's corpus of odd but well-formed structures: encoded
        // and continued names, forwarded and signed emails, inline images, CRLF and bare LF.
        const QString projects = m_maildir.addFolder({QStringLiteral("Projects")});
        const QString year =
            m_maildir.addFolder({QStringLiteral("Projects"), QStringLiteral("2024")});
        QDirIterator corpus(QStringLiteral(QB_MIME_CORPUS),
                            {QStringLiteral("demo-*.eml"), QStringLiteral("crlf-*.eml")},
                            QDir::Files);
        int n = 0;
        while (corpus.hasNext()) {
            QByteArray bytes = readFile(corpus.next());
            // Each email gets a Message-ID of its own, to be told apart on the server.
            const QByteArray id = "<corpus-" + QByteArray::number(++n) + "@example.org>";
            const qsizetype headerEnd = bytes.indexOf("\n");
            bytes.insert(headerEnd + 1,
                         "Message-ID: " + id + (bytes.contains("\r\n") ? "\r\n" : "\n"));
            const QString folder = n % 3 == 0 ? m_maildir.path() : n % 3 == 1 ? projects : year;
            addEmail(folder, QStringLiteral("17000000%1.M%1P1.test").arg(n), bytes, n);
            m_originals[id] = bytes;
        }
        QVERIFY(n >= 30);
        m_server = makeSuiteServer(m_maildir.path());
        QVERIFY2(m_server->start(), qPrintable(m_server->error()));
    }

    // Read from the server or as a Maildir, the same mail lists the same attachments, with
    // the same subjects, folders, names, types, dates and senders, in the same order.
    void sameRowsAsTheMaildir()
    {
        const Run fromServer =
            runCli(QStringList{QStringLiteral("analyze"), QStringLiteral("--csv")} + imapStore());
        QVERIFY2(fromServer.status == 0, qPrintable(fromServer.err));
        const Run fromDisk = runCli(
            {QStringLiteral("analyze"), QStringLiteral("--csv"), QStringLiteral("--no-cache"),
             QStringLiteral("--store"), m_maildir.path(), QStringLiteral("--folder"),
             QStringLiteral("Email Folders\\") + QDir(m_maildir.path()).dirName()});
        QVERIFY2(fromDisk.status == 0, qPrintable(fromDisk.err));
        QStringList serverRows = comparableRows(fromServer.out, QStringLiteral("ann@127.0.0.1"));
        QStringList diskRows = comparableRows(fromDisk.out, QDir(m_maildir.path()).dirName());
        if (m_server->product() == QLatin1String("Courier")) {
            // Courier shows the Maildir's subfolders under INBOX, so under the Inbox here; it
            // reads an email of mixed line ends (crlf-bare-lf.eml, "mixed") as one text part,
            // whose attachments it does not list (a job then leaves it as it is).
            static const QRegularExpression inboxLevel(
                QStringLiteral("\\\\STORE\\\\Inbox\\\\(?=[^,])"));
            serverRows.replaceInStrings(inboxLevel, QStringLiteral("\\STORE\\"));
            const auto ofMixedEmail = [](const QString &row) {
                return row.startsWith(QLatin1String("mixed,"));
            };
            QVERIFY(std::none_of(serverRows.cbegin(), serverRows.cend(), ofMixedEmail));
            diskRows.removeIf(ofMixedEmail);
        }
        QVERIFY(serverRows.size() > 40);
        // Within a folder a server lists its messages in the order it numbered them, a
        // Maildir in the order of its file names: the same rows, not in the same order.
        QStringList sortedServerRows = serverRows;
        QStringList sortedDiskRows = diskRows;
        sortedServerRows.sort();
        sortedDiskRows.sort();
        QCOMPARE(sortedServerRows, sortedDiskRows);
    }

    // A detach on the server: each email stays once, with its flags and received date; the
    // attachments it lost are on disk byte for byte; signed emails are left alone.
    void detachKeepsEveryEmailOnce()
    {
        const auto before = serverContents(*m_server);
        QCOMPARE(before.size(), m_originals.size());
        QTemporaryDir saved;
        const QString log = saved.path() + QStringLiteral("/job.log");
        const Run job = runCli(QStringList{QStringLiteral("detach"), QStringLiteral("--all"),
                                           QStringLiteral("--yes"), QStringLiteral("--to"),
                                           saved.path() + QStringLiteral("/files"),
                                           QStringLiteral("--log"), log} +
                               imapStore());
        // Signed emails cannot be changed: their attachments fail, and only theirs.
        QVERIFY2(job.status == 3, qPrintable(job.err + job.out));
        for (const QByteArray &line : readFile(log).split('\n')) {
            if (line.contains(",Error,"))
                QVERIFY2(line.contains("signed"), line.constData());
        }

        const auto after = serverContents(*m_server);
        QCOMPARE(after.size(), before.size());
        std::multiset<QByteArray> expectedFiles;
        for (const auto &[id, was] : before) {
            QCOMPARE(after.count(id), size_t(1));
            const HeldMessage &now = after.find(id)->second;
            QCOMPARE(now.mailbox, was.mailbox);
            QCOMPARE(now.flags, was.flags);
            QCOMPARE(now.internalDate, was.internalDate);
            const mime::ParsedEmail original(was.bytes);
            const mime::ParsedEmail changed(now.bytes);
            if (original.isSignedOrEncrypted() || original.attachments().empty()) {
                QCOMPARE(now.bytes, was.bytes);
                continue;
            }
            QVERIFY2(changed.attachments().empty(), id.constData());
            QVERIFY(changed.body().contains(QLatin1String("file://")));
            for (const mime::AttachmentPart &part : original.attachments())
                expectedFiles.insert(sha256(original.decodedContent(part.node)));
        }
        std::multiset<QByteArray> savedFiles;
        QDirIterator files(saved.path() + QStringLiteral("/files"), QDir::Files,
                           QDirIterator::Subdirectories);
        while (files.hasNext())
            savedFiles.insert(sha256(readFile(files.next())));
        QCOMPARE(savedFiles, expectedFiles);
    }

    // Broken structures (boundaries missing, nested runs, one boundary for two levels) may be
    // read differently by the server and by this program. Such an email is never changed,
    // as its rows may not mean the parts this program would remove; every other one is, and
    // none is lost.
    void oddStructuresAreNeverMisedited()
    {
        ServableMaildir odd;
        QVERIFY(odd.isValid());
        QDirIterator corpus(QStringLiteral(QB_MIME_CORPUS),
                            {QStringLiteral("found-*.eml"), QStringLiteral("odd.eml")},
                            QDir::Files);
        int n = 0;
        while (corpus.hasNext()) {
            QByteArray bytes = readFile(corpus.next());
            bytes.prepend("Message-ID: <odd-" + QByteArray::number(++n) + "@example.org>\n");
            addEmail(odd.path(), QStringLiteral("17100000%1.M%1P1.odd").arg(n), bytes, n);
        }
        const auto oddServer = makeSuiteServer(odd.path());
        TestImapServer &server = *oddServer;
        QVERIFY2(server.start(), qPrintable(server.error()));
        const auto before = serverContents(server);
        QCOMPARE(int(before.size()), n);
        QTemporaryDir saved;
        const QString log = saved.path() + QStringLiteral("/job.log");
        const Run job =
            runCli({QStringLiteral("delete"), QStringLiteral("--all"), QStringLiteral("--yes"),
                    QStringLiteral("--log"), log, QStringLiteral("--store"), server.storeUrl(),
                    QStringLiteral("--password-file"), server.passwordFile()});
        QVERIFY2(job.status == 0 || job.status == 3, qPrintable(job.err + job.out));
        const QByteArray logText = readFile(log);
        const auto after = serverContents(server);
        QCOMPARE(after.size(), before.size());
        int refused = 0;
        for (const auto &[id, was] : before) {
            QCOMPARE(after.count(id), size_t(1));
            const HeldMessage &now = after.find(id)->second;
            if (now.bytes == was.bytes)
                continue;
            // Changed: exactly the attachments this program reads in it are gone.
            QVERIFY2(mime::ParsedEmail(now.bytes).attachments().empty(), id.constData());
        }
        for (const QByteArray &line : logText.split('\n')) {
            if (line.contains("differently from this program"))
                ++refused;
        }
        qInfo("%d of %d odd emails were read differently by the server and left as they were",
              refused, n);
    }

    // Without UIDPLUS a job's originals stay on the server marked \Deleted until a client
    // expunges them: the next analysis does not list them, so a second identical job finds
    // nothing more to do and appends nothing.
    void secondJobWithoutUidPlusChangesNothing()
    {
        if (m_server->product() != QLatin1String("Courier"))
            QSKIP("the server without UIDPLUS is served by the Courier run of this suite");
        ServableMaildir plain;
        QVERIFY(plain.isValid());
        int n = 0;
        for (const auto &[id, bytes] : m_originals) {
            if (++n > 6)
                break;
            addEmail(plain.path(), QStringLiteral("17200000%1.M%1P1.plain").arg(n), bytes, n);
        }
        CourierServer server(plain.path(), {.uidPlus = false});
        QVERIFY2(server.start(), qPrintable(server.error()));
        QTemporaryDir saved;
        const QStringList job{QStringLiteral("detach"),
                              QStringLiteral("--all"),
                              QStringLiteral("--yes"),
                              QStringLiteral("--to"),
                              saved.path(),
                              QStringLiteral("--store"),
                              server.storeUrl(),
                              QStringLiteral("--password-file"),
                              server.passwordFile()};
        const Run first = runCli(job);
        QVERIFY2(first.status == 0 || first.status == 3, qPrintable(first.err + first.out));
        const auto afterFirst = serverContents(server);
        const Run second = runCli(job);
        QVERIFY2(second.status == 0, qPrintable(second.err + second.out));
        const auto afterSecond = serverContents(server);
        QCOMPARE(afterSecond.size(), afterFirst.size());
    }

    // Another mail program moves the email to another folder while a job changes it: the
    // change is not made, and the email is on the server once, where it was moved to, as
    // it was.
    void emailMovedMeanwhileIsNotCopied()
    {
        if (m_server->product() != QLatin1String("Dovecot"))
            QSKIP("MOVE is served by the Dovecot run of this suite");
        ServableMaildir maildir;
        QVERIFY(maildir.isValid());
        maildir.addFolder({QStringLiteral("Elsewhere")});
        const QByteArray id = "<moved@example.org>";
        addEmail(maildir.path(), QStringLiteral("1700000001.M1P1.moved"),
                 "From: Ann <ann@example.org>\nSubject: Moved\nMessage-ID: " + id +
                     "\nMIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\"b\"\n\n"
                     "--b\nContent-Type: text/plain\n\nHi\n--b\nContent-Type: application/pdf\n"
                     "Content-Disposition: attachment; filename=\"plan.pdf\"\n"
                     "Content-Transfer-Encoding: base64\n\nJVBERi0xLjQK\n--b--\n",
                 1);
        DovecotServer server(maildir.path());
        QVERIFY2(server.start(), qPrintable(server.error()));
        const auto before = serverContents(server);
        QCOMPARE(before.count(id), size_t(1));

        MailStoreEntry account;
        account.name = QStringLiteral("Moving");
        account.type = MailStoreEntry::Type::Imap;
        account.host = server.host();
        account.port = server.port();
        account.security = MailStoreEntry::Security::Plain;
        account.user = server.user();
        {
            const auto application = imapstore::accountFactory(account, [](const MailStoreEntry &) {
                return std::optional<QString>(QStringLiteral("secret"));
            })();
            const auto mapi = application->getNamespace(QStringLiteral("MAPI"));
            mapi->lockForChanges([](int) { return false; });
            const auto email = mapi->getDefaultFolder(mailstore::DefaultInbox)->items()->item(1);
            email->attachments()->item(1)->remove();
            email->appendToBody(QStringLiteral("plan.pdf was removed."));

            imap::Connection other({server.host(), server.port(), imap::Security::Plain});
            other.open({server.user(), server.password()});
            other.run(imap::Command("SELECT INBOX"));
            other.run(imap::Command("MOVE 1 Elsewhere"));

            QVERIFY(!errorOf([&] { email->save(); }).isEmpty());
        }
        const auto after = serverContents(server);
        QCOMPARE(after.size(), size_t(1));
        QCOMPARE(after.count(id), size_t(1));
        const HeldMessage &moved = after.find(id)->second;
        QCOMPARE(moved.mailbox, QStringLiteral("Elsewhere"));
        QCOMPARE(moved.bytes, before.find(id)->second.bytes);
    }

    // A server whose certificate does not verify is refused, with the certificate's details,
    // and nothing is sent after the handshake; a store configured to trust exactly that
    // certificate is then opened over TLS.
    void certificatesAreCheckedUnlessTrustedOneByOne()
    {
        if (m_server->product() != QLatin1String("Dovecot"))
            QSKIP("TLS is served by the Dovecot run of this suite");
        DovecotServer server(m_maildir.path(), {.tls = true});
        QVERIFY2(server.start(), qPrintable(server.error()));
        const QString address = QStringLiteral("imaps://ann@127.0.0.1:%1").arg(server.imapsPort());
        const QStringList options{QStringLiteral("--password-file"), server.passwordFile(),
                                  QStringLiteral("--folder"),
                                  QStringLiteral("Email Folders\\ann@127.0.0.1")};
        const Run refused = runCli(
            QStringList{QStringLiteral("analyze"), QStringLiteral("--store"), address} + options);
        QVERIFY(refused.status != 0);
        const QSslCertificate certificate =
            QSslCertificate::fromPath(QFileInfo(DovecotServer::caPath()).path() +
                                      QStringLiteral("/server.pem"))
                .value(0);
        const QString fingerprint = QString::fromLatin1(
            certificate.digest(QCryptographicHash::Sha256).toHex(':').toUpper());
        QVERIFY2(refused.err.contains(fingerprint), qPrintable(refused.err));
        QVERIFY(!server.log().contains(QLatin1String("Login: user=<ann>")));

        QTemporaryDir settings;
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(settings.path()));
        MailStoreEntry account;
        account.name = QStringLiteral("Work");
        account.type = MailStoreEntry::Type::Imap;
        account.host = QStringLiteral("127.0.0.1");
        account.port = server.imapsPort();
        account.user = server.user();
        account.trustedFingerprint = certificate.digest(QCryptographicHash::Sha256);
        writeMailStoreEntries({account});
        const Run trusted =
            runCli({QStringLiteral("analyze"), QStringLiteral("--store"), QStringLiteral("Work"),
                    QStringLiteral("--password-file"), server.passwordFile(),
                    QStringLiteral("--folder"), QStringLiteral("Email Folders\\Work")});
        qunsetenv("XDG_CONFIG_HOME");
        QVERIFY2(trusted.status == 0, qPrintable(trusted.err));
        QVERIFY(trusted.out.contains(QLatin1String("Email Folders\\Work\\Projects\\")));
        QTRY_VERIFY(server.log().contains(QLatin1String("TLS")));
    }

    void cleanupTestCase()
    {
        m_server.reset();
        g_mime_shutdown();
    }
};

QTEST_GUILESS_MAIN(TestImapStore)
#include "test_imap_store.moc"
