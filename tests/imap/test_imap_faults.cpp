// The IMAP store on a network that fails, against a real server (a private Dovecot) behind
// a proxy that drops the connection at each step of putting a changed email in place of
// the old one: the job's log tells, email by email, what the server really holds; the job
// goes on with the next emails on a new connection; and after the next job start every
// email is on the server exactly once, unmarked, with its flags and received date, and
// every attachment that left its email is on disk byte for byte. Also answers that arrive
// one byte at a time, and a drop while a folder is analysed.
#include "imap/FaultProxy.h"
#include "mailstore/mime/ParsedEmail.h"
#include "support/DovecotServer.h"
#include "support/Files.h"
#include "support/ServerContents.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <map>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

namespace {

struct Run
{
    int status = -1;
    QString out;
    QString err;
};

// One email of the test's mail: what it is made of, to check the server and the files by.
struct Original
{
    QString subject;
    QByteArray messageId;
    std::map<QString, QByteArray> attachments; // name -> decoded bytes
};

QByteArray wrapped(const QByteArray &base64)
{
    QByteArray lines;
    for (qsizetype at = 0; at < base64.size(); at += 76)
        lines += base64.mid(at, 76) + '\n';
    return lines;
}

// Bytes no two attachments share, the same on every run.
QByteArray patternBytes(int seed, int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    quint32 state = 2654435761u * quint32(seed + 1);
    for (char &byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = char(state >> 23);
    }
    return bytes;
}

Original makeEmail(int number, const QString &folder, const QByteArray &flags)
{
    Original email;
    email.subject = QStringLiteral("Fault test email %1").arg(number);
    email.messageId = "<fault-" + QByteArray::number(number) + "@example.org>";
    email.attachments[QStringLiteral("photo-%1.jpg").arg(number)] = patternBytes(number, 24000);
    email.attachments[QStringLiteral("notes-%1.txt").arg(number)] =
        "Line one of note " + QByteArray::number(number) + "\nLine two\n";
    QByteArray text = "From: Ann <ann@example.org>\nTo: Bob <bob@example.org>\nSubject: " +
                      email.subject.toUtf8() + "\nMessage-ID: " + email.messageId +
                      "\nMIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\"b\"\n\n"
                      "--b\nContent-Type: text/plain; charset=us-ascii\n\nHello.\n";
    for (const auto &[name, bytes] : email.attachments) {
        text += "--b\nContent-Type: application/octet-stream; name=\"" + name.toUtf8() +
                "\"\nContent-Disposition: attachment; filename=\"" + name.toUtf8() +
                "\"\nContent-Transfer-Encoding: base64\n\n" + wrapped(bytes.toBase64());
    }
    text += "--b--\n";
    const QString path = folder + QStringLiteral("/cur/17000%1.M1P1.faults:2,").arg(number) +
                         QString::fromLatin1(flags);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
        return {};
    file.close();
    const time_t when = 1700000000 + number * 7200;
    const struct utimbuf times = {when, when};
    ::utime(QFile::encodeName(path).constData(), &times);
    return email;
}

// What the job's log says of each email: the attachments done with their files, and the
// attachments that failed with why.
struct LogOfJob
{
    std::map<QString, std::map<QString, QString>> saved;  // subject -> name -> file
    std::map<QString, std::map<QString, QString>> failed; // subject -> name -> why
};

LogOfJob readLog(const QString &path)
{
    static const QRegularExpression done(QStringLiteral(
        R"(Detaching document \[(.+?)\] of email \[.*?(Fault test email \d+)\] to file://(\S+))"));
    static const QRegularExpression failure(QStringLiteral(
        R"(Could not process attachment \[(.+?)\] of email \[.*?(Fault test email \d+)\]: (.*))"));
    LogOfJob log;
    for (const QByteArray &line : readFile(path).split('\n')) {
        const QString text = QString::fromUtf8(line);
        if (const auto match = done.match(text); match.hasMatch()) {
            log.saved[match.captured(2)][match.captured(1)] =
                QString::fromUtf8(QByteArray::fromPercentEncoding(match.captured(3).toUtf8()));
        } else if (const auto match = failure.match(text); match.hasMatch()) {
            log.failed[match.captured(2)][match.captured(1)] = match.captured(3);
        }
    }
    return log;
}

// An account of a few emails with two attachments each, in the Inbox and a folder below
// it, served by Dovecot and reached through a FaultProxy; the journal of changes and the
// caches of the command line's runs in folders of its own.
class FaultyAccount
{
public:
    // emails: how many of the test's emails, the first four in the Inbox.
    explicit FaultyAccount(int emails = 6) : m_emails(emails)
    {
        const QString projects =
            emails > 4 ? m_maildir.addFolder({QStringLiteral("Projects")}) : QString();
        const QByteArray flags[] = {"S", "FS", "", "RS", "S", "DS"};
        for (int i = 1; i <= emails; ++i) {
            const Original email =
                makeEmail(i, i <= 4 ? m_maildir.path() : projects, flags[(i - 1) % 6]);
            m_originals[email.messageId] = email;
        }
        m_server = makeSuiteServer(m_maildir.path());
    }

    bool start(QString *why)
    {
        if (!m_maildir.isValid() || int(m_originals.size()) != m_emails || !m_state.isValid()) {
            *why = QStringLiteral("cannot make the test's mail");
            return false;
        }
        if (!m_server->start()) {
            *why = m_server->error();
            return false;
        }
        m_proxy = std::make_unique<FaultProxy>(m_server->port());
        if (!m_proxy->start()) {
            *why = QStringLiteral("the proxy cannot listen");
            return false;
        }
        m_before = contents();
        return true;
    }

    FaultProxy &proxy() { return *m_proxy; }
    // The Inbox's Maildir.
    QString inbox() const { return m_maildir.path(); }
    // For failure messages: the commands the proxy saw and what the server logged.
    QString trace() const
    {
        return QStringLiteral("\ncommands: %1\nserver log:\n%2")
            .arg(QString::fromLatin1(m_proxy->verbsSeen().join(", ")), m_server->log());
    }
    const std::map<QByteArray, Original> &originals() const { return m_originals; }
    const std::multimap<QByteArray, HeldMessage> &before() const { return m_before; }

    // The command line on the account through the proxy.
    Run cli(const QStringList &arguments)
    {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_STATE_HOME"),
                           m_state.filePath(QStringLiteral("state")));
        environment.insert(QStringLiteral("XDG_CACHE_HOME"),
                           m_state.filePath(QStringLiteral("cache")));
        process.setProcessEnvironment(environment);
        const QString url = QStringLiteral("imap://ann@127.0.0.1:%1").arg(m_proxy->port());
        process.start(QStringLiteral(QB_CLI_PATH),
                      arguments + QStringList{QStringLiteral("--store"), url,
                                              QStringLiteral("--password-file"),
                                              m_server->passwordFile(), QStringLiteral("--folder"),
                                              QStringLiteral("Email Folders\\ann@127.0.0.1")});
        Run run;
        if (!process.waitForFinished(240000)) {
            process.kill();
            process.waitForFinished();
            run.err = QStringLiteral("did not end");
            return run;
        }
        run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        run.out = QString::fromUtf8(process.readAllStandardOutput());
        run.err = QString::fromUtf8(process.readAllStandardError());
        return run;
    }

    // A detach of every attachment; files to DIR/files-NAME, the log to DIR/NAME.log.
    Run detach(const QString &name)
    {
        return cli({QStringLiteral("detach"), QStringLiteral("--all"), QStringLiteral("--yes"),
                    QStringLiteral("--to"), filesOf(name), QStringLiteral("--log"), logOf(name)});
    }
    QString filesOf(const QString &name) const
    {
        return m_state.filePath(QStringLiteral("files-") + name);
    }
    QString logOf(const QString &name) const
    {
        return m_state.filePath(name + QStringLiteral(".log"));
    }

    // Replacements begun and not ended, as the journal in the state folder lists them.
    int journalled() const
    {
        int lines = 0;
        const QDir folder(m_state.filePath(QStringLiteral("state/quillbrook/imap")));
        for (const QString &name : folder.entryList({QStringLiteral("*.journal")}, QDir::Files))
            lines += int(readFile(folder.filePath(name)).count('\n'));
        return lines;
    }

    // Every message of every folder, straight from the server, by Message-ID.
    std::multimap<QByteArray, HeldMessage> contents() const { return serverContents(*m_server); }

private:
    int m_emails;
    ServableMaildir m_maildir;
    QTemporaryDir m_state;
    std::map<QByteArray, Original> m_originals;
    std::unique_ptr<TestImapServer> m_server;
    std::unique_ptr<FaultProxy> m_proxy;
    std::multimap<QByteArray, HeldMessage> m_before;
};

QStringList attachmentNames(const QByteArray &bytes)
{
    QStringList names;
    const mime::ParsedEmail email(bytes);
    for (const mime::AttachmentPart &part : email.attachments())
        names << part.filename;
    names.sort();
    return names;
}

} // namespace

class TestImapFaults : public QObject
{
    Q_OBJECT

private:
    // Each email once, where it was, with its flags (none marked \Deleted by the job) and
    // received date.
    void verifyEveryEmailOnce(const FaultyAccount &account,
                              const std::multimap<QByteArray, HeldMessage> &now)
    {
        QCOMPARE(now.size(), account.before().size());
        for (const auto &[id, was] : account.before()) {
            QCOMPARE(now.count(id), size_t(1));
            const HeldMessage &held = now.find(id)->second;
            QCOMPARE(held.mailbox, was.mailbox);
            QCOMPARE(held.flags, was.flags);
            QCOMPARE(held.internalDate, was.internalDate);
        }
    }

    // What the log says of each email is what the server holds: an email whose
    // attachments were done lost them and its files hold their bytes; an email whose
    // attachments failed is on the server as it was.
    void verifyLogTellsTheTruth(const FaultyAccount &account, const LogOfJob &log,
                                const std::multimap<QByteArray, HeldMessage> &now)
    {
        for (const auto &[id, email] : account.originals()) {
            const HeldMessage &held = now.find(id)->second;
            const auto saved = log.saved.find(email.subject);
            const auto failed = log.failed.find(email.subject);
            const bool done = saved != log.saved.end();
            QVERIFY2(done != (failed != log.failed.end()),
                     qPrintable(email.subject + QStringLiteral(": partly done")));
            if (!done) {
                QVERIFY2(held.bytes == account.before().find(id)->second.bytes,
                         qPrintable(email.subject +
                                    QStringLiteral(": the log says it failed, but it changed")));
                continue;
            }
            QVERIFY2(attachmentNames(held.bytes).isEmpty(),
                     qPrintable(email.subject +
                                QStringLiteral(": the log says it is done, but it is not")));
            QCOMPARE(saved->second.size(), email.attachments.size());
            for (const auto &[name, bytes] : email.attachments) {
                QVERIFY2(saved->second.count(name), qPrintable(name));
                QCOMPARE(readFile(saved->second.at(name)), bytes);
            }
        }
    }

private Q_SLOTS:
    void initTestCase() { g_mime_init(); }
    void cleanupTestCase() { g_mime_shutdown(); }

    void dropInTheSaveSequence_data()
    {
        QTest::addColumn<QByteArray>("verb");
        QTest::addColumn<bool>("afterReply");
        QTest::addColumn<bool>("stored"); // the dropped email's change is made
        // Until the server has the copy, the email is as it was and its attachments failed
        // (their files stay as copies); once the copy is stored, finishing the replacement
        // on the new connection makes the change, and the log says so.
        QTest::newRow("before APPEND") << QByteArray("APPEND") << false << false;
        QTest::newRow("after APPEND's answer") << QByteArray("APPEND") << true << true;
        QTest::newRow("before UID STORE") << QByteArray("UID STORE") << false << true;
        QTest::newRow("after UID STORE's answer") << QByteArray("UID STORE") << true << true;
        QTest::newRow("before UID EXPUNGE") << QByteArray("UID EXPUNGE") << false << true;
        QTest::newRow("after UID EXPUNGE's answer") << QByteArray("UID EXPUNGE") << true << true;
    }

    // A drop at each step of the second email's replacement: the job goes on with the
    // others on a new connection, which finishes the interrupted replacement first.
    void dropInTheSaveSequence()
    {
        QFETCH(QByteArray, verb);
        QFETCH(bool, afterReply);
        QFETCH(bool, stored);
        FaultyAccount account;
        QString why;
        QVERIFY2(account.start(&why), qPrintable(why));
        account.proxy().dropAt(
            verb, 2, afterReply ? FaultProxy::When::AfterReply : FaultProxy::When::BeforeCommand);

        const Run first = account.detach(QStringLiteral("first"));
        QCOMPARE(account.proxy().drops(), 1);
        const LogOfJob log = readLog(account.logOf(QStringLiteral("first")));
        // The new connection finished the interrupted replacement before the next email's.
        QCOMPARE(account.journalled(), 0);
        const auto afterFirst = account.contents();
        verifyEveryEmailOnce(account, afterFirst);
        verifyLogTellsTheTruth(account, log, afterFirst);
        if (QTest::currentTestFailed())
            return;
        // Every email is in the log, and only the one whose copy never reached the server
        // failed: the job went on with the others.
        QStringList failed;
        for (const auto &[subject, names] : log.failed)
            failed << subject + QStringLiteral(": ") + names.begin()->second;
        QCOMPARE(log.saved.size() + log.failed.size(), account.originals().size());
        QVERIFY2(failed.size() == (stored ? 0 : 1) &&
                     (stored || failed.front().startsWith(QLatin1String("Fault test email 2:"))),
                 qPrintable(failed.join(QLatin1Char('\n'))));
        QVERIFY2(first.status == (stored ? 0 : 3),
                 qPrintable(first.err + first.out + account.trace()));

        // The next job takes what is left, and the account ends with no attachment.
        const Run second = account.detach(QStringLiteral("second"));
        QVERIFY2(second.status == 0, qPrintable(second.err + second.out + account.trace()));
        const auto afterSecond = account.contents();
        verifyEveryEmailOnce(account, afterSecond);
        if (QTest::currentTestFailed())
            return;
        for (const auto &[id, held] : afterSecond)
            QVERIFY2(attachmentNames(held.bytes).isEmpty(), id.constData());
        const LogOfJob again = readLog(account.logOf(QStringLiteral("second")));
        QCOMPARE(again.saved.size(), stored ? size_t(0) : size_t(1));
        for (const auto &[subject, files] : again.saved) {
            const auto email =
                std::find_if(account.originals().begin(), account.originals().end(),
                             [&](const auto &each) { return each.second.subject == subject; });
            for (const auto &[name, path] : files)
                QCOMPARE(readFile(path), email->second.attachments.at(name));
        }
    }

    // The connection drops as the changed copy of an email without Message-ID is sent, and
    // a message of exactly the copy's size arrives meanwhile: it is not taken for the copy,
    // so the email stays as it was, unmarked, and its attachment fails.
    void strangerOfTheCopysSizeIsNotTheCopy()
    {
        FaultyAccount account(0);
        const QByteArray contract =
            "From: Ann <ann@example.org>\nSubject: Contract\nMIME-Version: 1.0\n"
            "Content-Type: multipart/mixed; boundary=\"b\"\n\n--b\n"
            "Content-Type: text/plain; charset=us-ascii\n\nSigned.\n--b\n"
            "Content-Type: application/pdf; name=\"contract.pdf\"\n"
            "Content-Disposition: attachment; filename=\"contract.pdf\"\n"
            "Content-Transfer-Encoding: base64\n\n" +
            wrapped(patternBytes(77, 20000).toBase64()) + "--b--\n";
        QFile file(account.inbox() + QStringLiteral("/cur/1600000000.M1P1.contract:2,S"));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(contract) == contract.size());
        file.close();
        QString why;
        QVERIFY2(account.start(&why), qPrintable(why));
        QCOMPARE(account.before().size(), size_t(1));
        const HeldMessage original = account.before().begin()->second;

        std::atomic<bool> arrived = false;
        account.proxy().onDrop([&](const QByteArray &command) {
            // The literal's size, as the APPEND announces it: "{2310}" or "{2310+}".
            const qsizetype open = command.lastIndexOf('{');
            const qint64 size = command.mid(open + 1, command.indexOf('}', open) - open - 1)
                                    .replace('+', "")
                                    .toLongLong();
            QByteArray stranger = "From: Bob <bob@example.org>\r\nSubject: Stranger\r\n\r\n";
            qint64 left = size - stranger.size();
            while (left > 0) {
                const qint64 line = left > 74 ? 72 : left;
                stranger += QByteArray(line - 2, 'x') + "\r\n";
                left -= line;
            }
            const QString path = account.inbox() + QStringLiteral("/new/1800000000.M1P1.stranger");
            QFile out(path);
            arrived = size > 0 && out.open(QIODevice::WriteOnly) && out.write(stranger) == size;
            out.close();
            // The server's mail user owns the Maildir, and now this message too.
            struct stat folder = {};
            arrived =
                arrived && ::stat(QFile::encodeName(account.inbox()).constData(), &folder) == 0 &&
                ::chown(QFile::encodeName(path).constData(), folder.st_uid, folder.st_gid) == 0;
        });
        account.proxy().dropAt("APPEND", 1, FaultProxy::When::BeforeCommand);
        const Run job = account.detach(QStringLiteral("contract"));
        QVERIFY2(account.proxy().drops() == 1, qPrintable(job.err + job.out + account.trace()));
        QVERIFY(arrived);
        QVERIFY2(job.status == 3, qPrintable(job.err + job.out + account.trace()));
        QCOMPARE(account.journalled(), 0);
        int contracts = 0;
        int strangers = 0;
        for (const auto &[id, held] : account.contents()) {
            if (held.bytes.contains("Subject: Stranger")) {
                ++strangers;
                continue;
            }
            ++contracts;
            QCOMPARE(held.bytes, original.bytes);
            QCOMPARE(held.flags, original.flags);
        }
        QCOMPARE(contracts, 1);
        QCOMPARE(strangers, 1);
    }

    // Every answer in one-byte pieces: the whole job is done as on a whole network.
    void answersInOneBytePieces()
    {
        FaultyAccount account;
        QString why;
        QVERIFY2(account.start(&why), qPrintable(why));
        account.proxy().setOneBytePerWrite(true);
        const Run job = account.detach(QStringLiteral("pieces"));
        QVERIFY2(job.status == 0, qPrintable(job.err + job.out));
        const LogOfJob log = readLog(account.logOf(QStringLiteral("pieces")));
        QCOMPARE(log.saved.size(), account.originals().size());
        const auto now = account.contents();
        verifyEveryEmailOnce(account, now);
        verifyLogTellsTheTruth(account, log, now);
    }

    // A drop while the second folder is read: the error names the folder and the rows of
    // the folder read before are kept.
    void dropWhileAnalysing()
    {
        FaultyAccount account;
        QString why;
        QVERIFY2(account.start(&why), qPrintable(why));
        account.proxy().dropAt("FETCH", 2, FaultProxy::When::BeforeCommand);
        const Run analysis = account.cli({QStringLiteral("analyze"), QStringLiteral("--csv")});
        QCOMPARE(account.proxy().drops(), 1);
        QVERIFY2(analysis.status != 0, qPrintable(analysis.out));
        QVERIFY2(analysis.err.contains(QLatin1String("Projects")), qPrintable(analysis.err));
        QStringList rows = analysis.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QStringList inbox;
        for (const QString &row : rows) {
            if (row.contains(QLatin1String("Fault test email")))
                inbox << row;
        }
        // The Inbox's four emails with two attachments each, read before the drop.
        QCOMPARE(inbox.size(), 8);
        for (const QString &row : inbox)
            QVERIFY2(row.contains(QLatin1String("\\Inbox\\")), qPrintable(row));
        QCOMPARE(account.contents().size(), account.before().size());
    }
};

QTEST_GUILESS_MAIN(TestImapFaults)
#include "test_imap_faults.moc"
