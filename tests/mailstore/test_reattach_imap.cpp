// Undoing a detach on a real IMAP server (a private Dovecot), through the command line as a
// user runs it: every email gets its attachments back as they were, with its flags and
// received date, exactly once on the server, and a second run changes nothing.
#include "mailstore/mime/ParsedEmail.h"
#include "support/CliRun.h"
#include "support/DovecotServer.h"
#include "support/Files.h"
#include "support/ServerContents.h"

#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <gmime/gmime.h>

#include <map>
#include <utime.h>

namespace {

struct Part
{
    QString name;
    QByteArray type;
    QByteArray content;
    bool operator==(const Part &) const = default;
};

std::vector<Part> partsOf(const mime::ParsedEmail &email)
{
    std::vector<Part> parts;
    for (const mime::AttachmentPart &part : email.attachments())
        parts.push_back({part.filename, email.tree().node(part.node).mimeType,
                         email.decodedContent(part.node)});
    return parts;
}

} // namespace

class TestReattachImap : public QObject
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
        QDirIterator corpus(QStringLiteral(QB_MIME_CORPUS),
                            {QStringLiteral("demo-*.eml"), QStringLiteral("crlf-*.eml")},
                            QDir::Files);
        int n = 0;
        while (corpus.hasNext()) {
            QByteArray bytes = readFile(corpus.next());
            const QByteArray id = "<reattach-" + QByteArray::number(++n) + "@example.org>";
            bytes.insert(bytes.indexOf("\n") + 1,
                         "Message-ID: " + id + (bytes.contains("\r\n") ? "\r\n" : "\n"));
            const QString path = (n % 2 ? m_maildir.path() : projects) +
                                 QStringLiteral("/cur/17000000%1.M%1P1.test:2,S").arg(n);
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

    void detachThenReattachRestoresEveryEmail()
    {
        const auto before = serverContents(*m_server);
        QTemporaryDir saved;
        const QString log = saved.path() + QStringLiteral("/job.log");
        const Run detach = runCli(QStringList{QStringLiteral("detach"), QStringLiteral("--all"),
                                              QStringLiteral("--yes"), QStringLiteral("--to"),
                                              saved.path() + QStringLiteral("/files"),
                                              QStringLiteral("--log"), log} +
                                  account());
        // Signed emails cannot be changed; every other one loses its attachments.
        QVERIFY2(detach.status == 0 || detach.status == 3, qPrintable(detach.err));
        int detachedEmails = 0;
        for (const auto &[id, held] : serverContents(*m_server)) {
            if (mime::ParsedEmail(held.bytes).body().contains(QLatin1String("file://")))
                ++detachedEmails;
        }
        QVERIFY(detachedEmails >= 10);

        const Run reattach = runCli(QStringList{QStringLiteral("reattach"), QStringLiteral("--log"),
                                                log, QStringLiteral("--yes")} +
                                    account());
        QVERIFY2(reattach.status == 0, qPrintable(reattach.err + reattach.out));
        QVERIFY(!reattach.out.contains(QLatin1String("Not put back")));

        const auto after = serverContents(*m_server);
        QCOMPARE(after.size(), before.size());
        for (const auto &[id, was] : before) {
            QCOMPARE(after.count(id), size_t(1));
            const HeldMessage &now = after.find(id)->second;
            QCOMPARE(now.mailbox, was.mailbox);
            QCOMPARE(now.flags, was.flags);
            QCOMPARE(now.internalDate, was.internalDate);
            const mime::ParsedEmail original(was.bytes);
            const mime::ParsedEmail restored(now.bytes);
            QVERIFY2(partsOf(restored) == partsOf(original), id.constData());
            QCOMPARE(restored.body(), original.body());
        }

        // Nothing is left to put back: the second run changes nothing on the server.
        const Run again = runCli(QStringList{QStringLiteral("reattach"), QStringLiteral("--log"),
                                             log, QStringLiteral("--yes")} +
                                 account());
        QCOMPARE(again.status, 0);
        QVERIFY(again.out.isEmpty());
        const auto twice = serverContents(*m_server);
        QCOMPARE(twice.size(), after.size());
        for (const auto &[id, held] : after)
            QCOMPARE(twice.find(id)->second.bytes, held.bytes);
    }

    void cleanupTestCase() { m_server.reset(); }
};

QTEST_GUILESS_MAIN(TestReattachImap)
#include "test_reattach_imap.moc"
