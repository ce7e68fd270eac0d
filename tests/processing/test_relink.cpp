#include "mailstore/AttachmentList.h"
#include "mailstore/maildir/MaildirStore.h"
#include "mailstore/mime/ParsedEmail.h"
#include "processing/DetachLog.h"
#include "processing/RecordingHost.h"
#include "processing/SaveNaming.h"
#include "processing/TAnalyseThread.h"
#include "processing/TEmailThread.h"
#include "processing/TRelinkThread.h"
#include "settings/TSettings.h"
#include "support/Files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gmime/gmime.h>
#include <map>
#include <utime.h>

namespace {

QByteArray crlf(QByteArray text)
{
    return text.replace("\n", "\r\n");
}

QByteArray base64Lines(const QByteArray &data, const QByteArray &lineBreak = "\n")
{
    const QByteArray encoded = data.toBase64();
    QByteArray lines;
    for (qsizetype at = 0; at < encoded.size(); at += 76)
        lines += encoded.mid(at, 76) + lineBreak;
    return lines;
}

QByteArray binary(int size, int seed)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 31 + seed * 7 + i / 13) & 0xFF);
    return bytes;
}

// Real-looking mail of every shape a detach meets, by file name: CR LF and LF, 8-bit
// and quoted-printable and base64 bodies, nested multiparts, several attachments.
std::map<QString, QByteArray> sampleMail()
{
    std::map<QString, QByteArray> mail;
    mail[QStringLiteral("1700000001.report:2,FS")] = crlf(
        "From: Ann <ann@example.com>\nTo: bob@example.com\nSubject: Report, Q1 \"final\"\n"
        "Message-ID: <report@example.com>\nDate: Mon, 1 Jan 2024 10:00:00 +0000\n"
        "MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\"outer\"\n\n"
        "This is a multi-part message in MIME format.\n"
        "--outer\nContent-Type: multipart/alternative; boundary=\"alt\"\n\n"
        "--alt\nContent-Type: text/plain; charset=iso-8859-1\nContent-Transfer-Encoding: 8bit\n\n"
        "H\xe9llo Bob,\nthe figures are attached.\n"
        "--alt\nContent-Type: text/html; charset=utf-8\nContent-Transfer-Encoding: "
        "quoted-printable\n\n<html><body><p>H=C3=A9llo Bob,</p><p>the figures are =\n"
        "attached.</p></body></html>\n--alt--\n"
        "--outer\nContent-Type: application/pdf; name=\"r\xc3\xa9sum\xc3\xa9.pdf\"\n"
        "Content-Disposition: attachment; filename*=utf-8''r%C3%A9sum%C3%A9.pdf\n"
        "Content-Transfer-Encoding: base64\n\n" +
        base64Lines(binary(5000, 1)) +
        "--outer\nContent-Type: text/plain; name=\"notes.txt\"\n"
        "Content-Disposition: attachment; filename=\"notes.txt\"\n\n"
        "line one\nline two with trailing blanks  \n"
        "--outer--\n");
    mail[QStringLiteral("1700000002.nested:2,S")] =
        "From: carl@example.com\nSubject: nested parts\nMessage-ID: <nested@example.com>\n"
        "MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=b1\n\n"
        "--b1\nContent-Type: multipart/alternative; boundary=b2\n\n"
        "--b2\nContent-Type: text/plain; charset=utf-8\nContent-Transfer-Encoding: base64\n\n" +
        base64Lines("Gr\xc3\xbc\xc3\x9f"
                    "e aus Berlin\n") +
        "--b2\nContent-Type: text/html; charset=utf-8\n\n<p>Gr&uuml;&szlig;e</p>\n--b2--\n"
        "--b1\nContent-Type: multipart/mixed; boundary=b3\n\n"
        "--b3\nContent-Type: image/png\nContent-Disposition: attachment; filename=\"chart.png\"\n"
        "Content-Transfer-Encoding: base64\n\n" +
        base64Lines("\x89PNG\r\n\x1a\n" + binary(3000, 2)) +
        "--b3\nContent-Type: application/vnd.ms-excel; name=\"data, 2024.xls\"\n"
        "Content-Transfer-Encoding: base64\n\n" +
        base64Lines(binary(2000, 3)) + "--b3--\n--b1--\n";
    mail[QStringLiteral("1700000003.only:2,")] =
        "From: dan@example.com\nSubject: only an attachment\nMessage-ID: <only@example.com>\n"
        "MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=zz\n\n"
        "--zz\nContent-Type: application/zip; name=\"archive.zip\"\n"
        "Content-Transfer-Encoding: base64\n\n" +
        base64Lines("PK\x03\x04" + binary(700, 4)) + "--zz--\n";
    mail[QStringLiteral("1700000004.plain:2,RS")] =
        crlf("From: eve@example.com\nSubject: plain with one\nMessage-ID: <plain@example.com>\n"
             "MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\"p\"\n\n"
             "--p\nContent-Type: text/plain; charset=utf-8\nContent-Transfer-Encoding: 8bit\n\n"
             "Caf\xc3\xa9 menu attached.\n\n-- \nEve\n"
             "--p\nContent-Type: text/csv; name=\"menu.csv\"\nContent-Disposition: attachment; "
             "filename=\"menu.csv\"\nContent-Transfer-Encoding: quoted-printable\n\n"
             "dish;price\ncaf=C3=A9;2=\n.50\n--p--\n");
    mail[QStringLiteral("1700000005.whole:2,S")] =
        "From: fay@example.com\nSubject: just a scan\nMessage-ID: <whole@example.com>\n"
        "MIME-Version: 1.0\nContent-Type: application/pdf; name=\"scan.pdf\"\n"
        "Content-Disposition: attachment; filename=\"scan.pdf\"\n"
        "Content-Transfer-Encoding: base64\n\n" +
        base64Lines("%PDF-1.4\n" + binary(1500, 5));
    return mail;
}

struct EmailFile
{
    QString flags; // after ":2,"
    qint64 modified = 0;
    QByteArray bytes;
};

// Each email of the Maildir's cur folder by its Message-ID.
std::map<QByteArray, EmailFile> emailsIn(const QString &root)
{
    std::map<QByteArray, EmailFile> emails;
    for (const QFileInfo &info :
         QDir(root + QStringLiteral("/cur")).entryInfoList(QDir::Files | QDir::NoDotAndDotDot)) {
        QFile file(info.filePath());
        file.open(QIODevice::ReadOnly);
        const QByteArray bytes = file.readAll();
        const qsizetype at = bytes.indexOf("Message-ID: <") + 13;
        emails[bytes.mid(at, bytes.indexOf('>', at) - at)] = {
            info.fileName().section(QStringLiteral(":2,"), 1),
            info.lastModified().toSecsSinceEpoch(), bytes};
    }
    return emails;
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

} // namespace

class TestRelink : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_root;
    QString m_out;
    QString m_moved;
    QString m_log;
    std::map<QByteArray, EmailFile> m_before;

    mailstore::ApplicationFactory stores() const { return maildir::storeFactory({m_root}); }

    // Every email's attachments detached (or, without remove, saved) by a job of the
    // program, logged to m_log.
    void saveAll(bool remove)
    {
        RecordingHost host;
        AttachmentList list;
        auto *settings = new TSettings;
        settings->getFromDefaultFolder = true;
        auto *analysis = new TAnalyseThread(settings, nullptr, &host, stores(), &list);
        QSignalSpy analysed(analysis, &QObject::destroyed);
        QVERIFY(analysed.wait(20000));
        QVERIFY(list.count() > 0);
        TEmailThread::Records all;
        for (int i = 0; i < list.count(); ++i)
            all.push_back(list.record(i));
        auto *jobSettings = new TSettings;
        jobSettings->saveFolder = m_out;
        jobSettings->logToFile = true;
        jobSettings->logFilename = m_log;
        TEmailThread::Result result;
        auto *job = new TEmailThread(
            jobSettings, nullptr, &host, stores(), [all] { return all; }, remove, true);
        QObject::connect(job, &TEmailThread::jobEnded, job,
                         [&](TEmailThread::Result r) { result = r; });
        QSignalSpy done(job, &QObject::destroyed);
        QVERIFY(done.wait(20000));
        QCOMPARE(result.failed, 0);
        QCOMPARE(result.processed, list.count());
    }

    // As the command line runs it: the log's files under from, moved to to.
    RelinkJob::Report relink(const QString &from, const QString &to, QStringList *lines = nullptr)
    {
        RecordingHost host;
        RelinkJob::Report report;
        report.cancelled = true;
        auto *job = new TRelinkThread(nullptr, &host, stores(),
                                      RelinkJob::recordsUnder(readDetachLog(m_log), from), from, to,
                                      m_log, 10);
        QObject::connect(job, &TRelinkThread::jobEnded, job,
                         [&](RelinkJob::Report r) { report = r; });
        QObject::connect(job, &TRelinkThread::outcome, job,
                         [lines](RelinkJob::Kind, const QString &text) {
                             if (lines)
                                 *lines << text;
                         });
        QSignalSpy done(job, &QObject::destroyed);
        if (!done.wait(20000))
            qWarning("the relink did not end");
        return report;
    }

    // Every email links to the moved files only, and is otherwise as the job left it.
    void checkRelinked(const std::map<QByteArray, EmailFile> &saved)
    {
        const auto now = emailsIn(m_root);
        QCOMPARE(now.size(), saved.size());
        for (const auto &[id, was] : saved) {
            const EmailFile &is = now.at(id);
            QCOMPARE(is.flags, was.flags);
            QCOMPARE(is.modified, was.modified);
            QVERIFY2(is.bytes.contains(FileLink(m_moved + QLatin1Char('/')).toUtf8()),
                     id.constData());
            QVERIFY(!is.bytes.contains(FileLink(m_out + QLatin1Char('/')).toUtf8()));
            const mime::ParsedEmail before(was.bytes);
            const mime::ParsedEmail after(is.bytes);
            QCOMPARE(after.attachments().size(), before.attachments().size());
            QCOMPARE(after.subject(), before.subject());
        }
    }

private Q_SLOTS:
    void initTestCase() { g_mime_init(); }

    void init()
    {
        m_root = m_dir.path() + QStringLiteral("/Mail");
        m_out = m_dir.path() + QStringLiteral("/saved");
        m_moved = m_dir.path() + QStringLiteral("/moved");
        m_log = m_dir.path() + QStringLiteral("/actions.log");
        for (const QString &folder : {m_root, m_out, m_moved})
            QDir(folder).removeRecursively();
        QFile::remove(m_log);
        for (const char *sub : {"cur", "new", "tmp"})
            QVERIFY(QDir().mkpath(m_root + QLatin1Char('/') + QLatin1String(sub)));
        qint64 when = 1700000000;
        for (const auto &[name, bytes] : sampleMail()) {
            const QString path = m_root + QStringLiteral("/cur/") + name;
            writeFile(path, bytes);
            const utimbuf times{when, when};
            QCOMPARE(::utime(QFile::encodeName(path).constData(), &times), 0);
            when += 3600;
        }
        m_before = emailsIn(m_root);
    }

    void movedArchiveIsRelinked()
    {
        saveAll(true);
        const auto detached = emailsIn(m_root);
        QVERIFY(QDir().rename(m_out, m_moved));
        QStringList lines;
        const RelinkJob::Report report = relink(m_out, m_moved, &lines);
        QVERIFY2(report.done == 7, qPrintable(lines.join(QLatin1Char('\n'))));
        QCOMPARE(report.refused, 0);
        QCOMPARE(report.notFound, 0);
        checkRelinked(detached);
        // The log names the new places now: relinking again finds nothing to do, and a
        // move back is read from the log's relink entries.
        const auto relinked = emailsIn(m_root);
        QCOMPARE(relink(m_out, m_moved).done, 0);
        for (const auto &[id, email] : emailsIn(m_root))
            QCOMPARE(email.bytes, relinked.at(id).bytes);
        QVERIFY(QDir().rename(m_moved, m_out));
        QCOMPARE(relink(m_moved, m_out).done, 7);
        for (const auto &[id, email] : emailsIn(m_root))
            QVERIFY(email.bytes.contains(FileLink(m_out + QLatin1Char('/')).toUtf8()));
    }

    // A save job's notes say "copied to"; a file that is not in the new place keeps
    // its note as it was.
    void savedCopiesAreRelinkedOnlyToFilesThatAreThere()
    {
        saveAll(false);
        const auto saved = emailsIn(m_root);
        QVERIFY(QDir().rename(m_out, m_moved));
        const std::vector<DetachRecord> records = readDetachLog(m_log);
        QCOMPARE(records.size(), size_t(7));
        QVERIFY(!records.front().detached);
        const QString missing =
            RelinkJob::movedPath(pathOfLink(records.front().link), m_out, m_moved);
        QVERIFY(QFile::remove(missing));
        const RelinkJob::Report report = relink(m_out, m_moved);
        QCOMPARE(report.done, 6);
        QCOMPARE(report.refused, 1);
        for (const auto &[id, email] : emailsIn(m_root)) {
            QCOMPARE(mime::ParsedEmail(email.bytes).attachments().size(),
                     mime::ParsedEmail(m_before.at(id).bytes).attachments().size());
            QVERIFY(!email.bytes.contains(FileLink(missing).toUtf8()));
        }
        QVERIFY(readDetachLog(m_log).front().link == records.front().link);
    }

    // A log written while every entry ended in the saved file's SHA-256 and the
    // attachment's content type, with a message that holds a comma or a quote quoted.
    void olderLogWithTwoMoreColumnsIsRead()
    {
        saveAll(true);
        QStringList lines = QString::fromUtf8(readFile(m_log)).split(QStringLiteral("\r\n"));
        if (!lines[2].endsWith(QStringLiteral(",sha256,content type"))) {
            lines[2] += QStringLiteral(",sha256,content type");
            for (int i = 3; i < lines.size(); ++i) {
                if (lines[i].isEmpty())
                    continue;
                qsizetype at = -1;
                for (int comma = 0; comma < 3; ++comma)
                    at = lines[i].indexOf(QLatin1Char(','), at + 1);
                QString message = lines[i].mid(at + 1);
                if (message.contains(QLatin1Char(',')) || message.contains(QLatin1Char('"')))
                    message = QLatin1Char('"') +
                              message.replace(QLatin1Char('"'), QStringLiteral("\"\"")) +
                              QLatin1Char('"');
                const bool saved = message.contains(QStringLiteral("document ["));
                lines[i] = lines[i].left(at + 1) + message +
                           (saved ? QStringLiteral(",%1,application/pdf").arg(QString(64, u'e'))
                                  : QStringLiteral(",,"));
            }
            writeFile(m_log, lines.join(QStringLiteral("\r\n")).toUtf8());
        }
        const std::vector<DetachRecord> records = readDetachLog(m_log);
        QCOMPARE(records.size(), size_t(7));
        for (const DetachRecord &record : records)
            QVERIFY2(QFile::exists(pathOfLink(record.link)), qPrintable(record.link));
        const auto detached = emailsIn(m_root);
        QVERIFY(QDir().rename(m_out, m_moved));
        QCOMPARE(relink(m_out, m_moved).done, 7);
        checkRelinked(detached);
    }

    // A reply in the same folder that quotes the note is not the detached email: with
    // that email gone, its file is not found, and the reply stays as it is.
    void aReplyQuotingTheNoteIsLeftAlone()
    {
        saveAll(true);
        DetachRecord menu;
        for (const DetachRecord &record : readDetachLog(m_log)) {
            if (record.filename == QStringLiteral("menu.csv"))
                menu = record;
        }
        QVERIFY(!menu.link.isEmpty());
        for (const QFileInfo &info :
             QDir(m_root + QStringLiteral("/cur")).entryInfoList(QDir::Files)) {
            if (readFile(info.filePath()).contains(menu.link.toUtf8()))
                QVERIFY(QFile::remove(info.filePath()));
        }
        const QString replyPath = m_root + QStringLiteral("/cur/1700009999.reply:2,S");
        const QByteArray reply = "From: Bob <bob@example.com>\nSubject: Re: plain with one\n"
                                 "Message-ID: <reply@example.com>\n\n"
                                 "> Attached file menu.csv detached and saved as " +
                                 menu.link.toUtf8() + "\n>\n\nThanks for the menu.\n";
        writeFile(replyPath, reply);
        QVERIFY(QDir().rename(m_out, m_moved));
        const RelinkJob::Report report = relink(m_out, m_moved);
        QCOMPARE(report.done, 6);
        QCOMPARE(report.notFound, 1);
        QCOMPARE(readFile(replyPath), reply);
    }

    void notALogIsAClearError()
    {
        const QString other = m_dir.path() + QStringLiteral("/other.txt");
        writeFile(other, "date,time\n");
        try {
            readDetachLog(other);
            QFAIL("read");
        } catch (const qb::Error &e) {
            QVERIFY(e.message().contains(QStringLiteral("is not an action log")));
        }
    }
};

QTEST_GUILESS_MAIN(TestRelink)
#include "test_relink.moc"
