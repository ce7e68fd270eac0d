#include "log/LogDocument.h"
#include "mailstore/AttachmentList.h"
#include "mailstore/maildir/MaildirStore.h"
#include "mailstore/mime/ParsedEmail.h"
#include "processing/DetachLog.h"
#include "processing/RecordingHost.h"
#include "processing/SaveNaming.h"
#include "processing/TAnalyseThread.h"
#include "processing/TEmailThread.h"
#include "processing/TReattachThread.h"
#include "settings/TSettings.h"

#include "support/Files.h"
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <QTest>

#include <gmime/gmime.h>
#include <map>
#include <sys/file.h>
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

struct AttachmentSeen
{
    QString name;
    QByteArray mimeType;
    QByteArray content;
    bool operator==(const AttachmentSeen &) const = default;
};

std::vector<AttachmentSeen> attachmentsOf(const mime::ParsedEmail &email)
{
    std::vector<AttachmentSeen> seen;
    for (const mime::AttachmentPart &part : email.attachments())
        seen.push_back({part.filename, email.tree().node(part.node).mimeType,
                        email.decodedContent(part.node)});
    return seen;
}

// The decoded text parts that are not attachments, by type.
QList<QByteArray> textsOf(const mime::ParsedEmail &email)
{
    QList<QByteArray> texts;
    for (const char *subtype : {"plain", "html"}) {
        const int node = email.textPart(subtype);
        texts << (node < 0 ? QByteArray() : email.decodedContent(node));
    }
    return texts;
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

} // namespace

class TestReattach : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_root;
    QString m_out;
    QString m_log;
    std::map<QByteArray, EmailFile> m_before;

    mailstore::ApplicationFactory stores() const { return maildir::storeFactory({m_root}); }

    // Every email's attachments detached by a job of the program, logged to m_log.
    void detachAll()
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
            jobSettings, nullptr, &host, stores(), [all] { return all; }, true, true);
        QObject::connect(job, &TEmailThread::jobEnded, job,
                         [&](TEmailThread::Result r) { result = r; });
        QSignalSpy done(job, &QObject::destroyed);
        QVERIFY(done.wait(20000));
        QCOMPARE(result.failed, 0);
        QCOMPARE(result.processed, list.count());
    }

    ReattachJob::Report reattach(ReattachJob::Options options = {}, QStringList *lines = nullptr,
                                 int lockTimeout = 10)
    {
        RecordingHost host;
        ReattachJob::Report report;
        report.cancelled = true;
        auto *job = new TReattachThread(nullptr, &host, stores(), readDetachLog(m_log), options,
                                        m_log, lockTimeout);
        QObject::connect(job, &TReattachThread::jobEnded, job,
                         [&](ReattachJob::Report r) { report = r; });
        QObject::connect(job, &TReattachThread::outcome, job,
                         [lines](ReattachJob::Kind, const QString &text) {
                             if (lines)
                                 *lines << text;
                         });
        QSignalSpy done(job, &QObject::destroyed);
        if (!done.wait(20000))
            qWarning("the reattach did not end");
        return report;
    }

    void compareWithOriginals(const std::map<QByteArray, EmailFile> &now)
    {
        QCOMPARE(now.size(), m_before.size());
        for (const auto &[id, was] : m_before) {
            const EmailFile &is = now.at(id);
            QCOMPARE(is.flags, was.flags);
            QCOMPARE(is.modified, was.modified);
            const mime::ParsedEmail original(was.bytes);
            const mime::ParsedEmail restored(is.bytes);
            QVERIFY2(attachmentsOf(restored) == attachmentsOf(original), id.constData());
            QCOMPARE(textsOf(restored), textsOf(original));
            QCOMPARE(restored.subject(), original.subject());
            QVERIFY(!is.bytes.contains("detached and saved as"));
        }
    }

private Q_SLOTS:
    void initTestCase() { g_mime_init(); }

    void init()
    {
        m_root = m_dir.path() + QStringLiteral("/Mail");
        m_out = m_dir.path() + QStringLiteral("/saved");
        m_log = m_dir.path() + QStringLiteral("/actions.log");
        QDir(m_root).removeRecursively();
        QDir(m_out).removeRecursively();
        QDir(m_dir.path() + QStringLiteral("/moved")).removeRecursively();
        QFile::remove(m_log);
        for (const char *sub : {"cur", "new", "tmp"})
            QVERIFY(QDir().mkpath(m_root + QLatin1Char('/') + QLatin1String(sub)));
        qint64 when = 1700000000;
        for (const auto &[name, bytes] : sampleMail()) {
            const QString path = m_root + QStringLiteral("/cur/") + name;
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(bytes);
            file.close();
            const utimbuf times{when, when};
            QCOMPARE(::utime(QFile::encodeName(path).constData(), &times), 0);
            when += 3600;
        }
        m_before = emailsIn(m_root);
    }

    void detachLogsTheFilesDigestAndType()
    {
        detachAll();
        const std::vector<DetachRecord> records = readDetachLog(m_log);
        QCOMPARE(records.size(), size_t(7));
        std::map<QString, DetachRecord> byName;
        for (const DetachRecord &record : records)
            byName[record.filename] = record;
        QCOMPARE(byName.at(QStringLiteral("résumé.pdf")).contentType,
                 QStringLiteral("application/pdf"));
        QCOMPARE(byName.at(QStringLiteral("data, 2024.xls")).contentType,
                 QStringLiteral("application/vnd.ms-excel"));
        QCOMPARE(byName.at(QStringLiteral("menu.csv")).where,
                 QStringLiteral("Inbox\\plain with one"));
        for (const DetachRecord &record : records) {
            QFile file(pathOfLink(record.link));
            QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(record.link));
            QCOMPARE(
                record.sha256,
                QString::fromLatin1(
                    QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256).toHex()));
        }
        // Lines that save no document end in the two empty columns.
        QFile log(m_log);
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = log.readAll().split('\n');
        QCOMPARE(lines[2], QByteArray("date,time,level,message,sha256,content type\r"));
        QVERIFY(
            lines[5].endsWith(",Job started by [" + TEmailThread::userName().toUtf8() + "],,\r"));
    }

    void roundTripRestoresEveryAttachment()
    {
        detachAll();
        const auto detached = emailsIn(m_root);
        for (const auto &[id, email] : detached) {
            QVERIFY(mime::ParsedEmail(email.bytes).attachments().empty());
            QVERIFY(email.bytes.contains("detached and saved as"));
        }
        QStringList lines;
        const ReattachJob::Report report = reattach({}, &lines);
        QVERIFY2(!report.cancelled, qPrintable(lines.join(QLatin1Char('\n'))));
        QCOMPARE(report.done, 7);
        QCOMPARE(report.refused, 0);
        QCOMPARE(report.notFound, 0);
        compareWithOriginals(emailsIn(m_root));
        // The files stay where they were saved.
        for (const DetachRecord &record : readDetachLog(m_log))
            QVERIFY(QFile::exists(pathOfLink(record.link)));
    }

    void secondRunChangesNothing()
    {
        detachAll();
        QCOMPARE(reattach().done, 7);
        const auto once = emailsIn(m_root);
        QStringList lines;
        const ReattachJob::Report again = reattach({}, &lines);
        QCOMPARE(again.done, 0);
        QCOMPARE(again.refused, 0);
        QCOMPARE(again.notFound, 7);
        const auto twice = emailsIn(m_root);
        QCOMPARE(twice.size(), once.size());
        for (const auto &[id, email] : once)
            QCOMPARE(twice.at(id).bytes, email.bytes);
        QVERIFY(QDir(m_root + QStringLiteral("/cur")).entryList(QDir::Files).size() == 5);
    }

    void changedFileIsRefusedAndItsEmailUntouched()
    {
        detachAll();
        const auto detached = emailsIn(m_root);
        DetachRecord changed;
        for (const DetachRecord &record : readDetachLog(m_log)) {
            if (record.filename == QStringLiteral("notes.txt"))
                changed = record;
        }
        QFile file(pathOfLink(changed.link));
        QVERIFY(file.open(QIODevice::Append));
        file.write("edited later\n");
        file.close();
        QStringList lines;
        const ReattachJob::Report report = reattach({}, &lines);
        // Both attachments of that email stay out; the other emails get theirs back.
        QCOMPARE(report.refused, 2);
        QCOMPARE(report.done, 5);
        QVERIFY(lines.filter(QStringLiteral("has changed since it was detached")).size() == 1);
        const auto now = emailsIn(m_root);
        QCOMPARE(now.at("report@example.com").bytes, detached.at("report@example.com").bytes);
        QCOMPARE(attachmentsOf(mime::ParsedEmail(now.at("only@example.com").bytes)),
                 attachmentsOf(mime::ParsedEmail(m_before.at("only@example.com").bytes)));
    }

    void storeHeldElsewhereEndsTheUndoAsAJob()
    {
        detachAll();
        QFile lock(m_root + QStringLiteral("/quillbrook.lock"));
        QVERIFY(lock.open(QIODevice::ReadWrite));
        QCOMPARE(::flock(lock.handle(), LOCK_EX | LOCK_NB), 0);
        const ReattachJob::Report report = reattach({}, nullptr, 0);
        QVERIFY(!report.cancelled); // an error is no cancel
        QCOMPARE(report.done, 0);
        QFile log(m_log);
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = log.readAll().trimmed().split('\n');
        QVERIFY(lines.last().contains(",End of job"));
        QVERIFY(lines.at(lines.size() - 3)
                    .contains(
                        ",Error,Stopped by an error: Another program is changing the mail store"));
    }

    void movedArchiveRelinkedThenReattached()
    {
        detachAll();
        const QString moved = m_dir.path() + QStringLiteral("/moved");
        QVERIFY(QDir().rename(m_out, moved));
        ReattachJob::Options relink{m_out, moved, true};
        QStringList lines;
        const ReattachJob::Report relinked = reattach(relink, &lines);
        QCOMPARE(relinked.done, 7);
        QCOMPARE(relinked.refused, 0);
        const auto now = emailsIn(m_root);
        for (const auto &[id, email] : now) {
            QVERIFY(mime::ParsedEmail(email.bytes).attachments().empty());
            QVERIFY(email.bytes.contains(FileLink(moved).toUtf8()));
            QVERIFY(!email.bytes.contains(FileLink(m_out + QLatin1Char('/')).toUtf8()));
        }
        // Relinking twice changes nothing.
        QCOMPARE(reattach(relink).done, 0);
        for (const auto &[id, email] : emailsIn(m_root))
            QCOMPARE(email.bytes, now.at(id).bytes);
        // The log now names the new places: a plain reattach finds the files there.
        const ReattachJob::Report report = reattach();
        QCOMPARE(report.done, 7);
        QCOMPARE(report.refused, 0);
        compareWithOriginals(emailsIn(m_root));
    }

    void movedArchiveReattachedWithoutRelink()
    {
        detachAll();
        const QString moved = m_dir.path() + QStringLiteral("/moved");
        QVERIFY(QDir().rename(m_out, moved));
        // Without saying where the files went, nothing can be put back.
        const ReattachJob::Report lost = reattach();
        QCOMPARE(lost.done, 0);
        QCOMPARE(lost.refused, 7);
        const ReattachJob::Report report = reattach({m_out, moved, false});
        QCOMPARE(report.done, 7);
        compareWithOriginals(emailsIn(m_root));
    }

    void documentColumnsReadBackWhateverTheyHold()
    {
        const QString prefix = QStringLiteral("2024-01-02,10:11:12,Info,");
        const struct
        {
            QString message;
            LogDocument document;
        } cases[] = {
            {QStringLiteral("Detaching document [a,b.pdf] of email [Inbox\\x, y] to "
                            "file:///s/x,%20y.pdf"),
             {QString(64, QLatin1Char('a')), QStringLiteral("application/pdf")}},
            {QStringLiteral("End of job"), {}},
            {QStringLiteral("ends in a comma,"), {}},
            {QStringLiteral("quote \" and comma , inside"),
             {QString(64, QLatin1Char('0')), QStringLiteral("odd,\"type\"")}},
            {QStringLiteral("message"), {QString(), QStringLiteral(" padded ")}},
        };
        for (const auto &each : cases) {
            const auto line = splitLogLine(prefix + each.message + documentColumns(each.document));
            QVERIFY(line);
            QVERIFY(line->hasDocumentColumns);
            QCOMPARE(line->level, QStringLiteral("Info"));
            QCOMPARE(line->message, each.message);
            QCOMPARE(line->document.sha256, each.document.sha256);
            QCOMPARE(line->document.contentType, each.document.contentType);
        }
        // A line written before the columns existed keeps its whole message.
        for (const QString &old :
             {QStringLiteral(
                  "Detaching document [a.pdf] of email [Inbox\\r] to file:///s/a,b/c.pdf"),
              QStringLiteral("Complete. 3 attachment(s) processed, 1 failed - see the log"),
              QStringLiteral("Job started by [ann]")}) {
            const auto line = splitLogLine(prefix + old);
            QVERIFY(line);
            QVERIFY2(!line->hasDocumentColumns, qPrintable(old));
            QCOMPARE(line->message, old);
        }
        QVERIFY(!splitLogLine(QStringLiteral("Quillbrook Log File")));
    }

    void anOlderLogCannotBeCheckedSoNothingChanges()
    {
        detachAll();
        // The same log as an older version wrote it: no digest, no type.
        QFile log(m_log);
        QVERIFY(log.open(QIODevice::ReadOnly));
        QByteArray text = log.readAll();
        log.close();
        QString older = QString::fromUtf8(text);
        older.replace(
            QRegularExpression(QStringLiteral(",([0-9a-f]{64})?,([a-z.-]+/[a-z.-]+)?\r\n")),
            QStringLiteral("\r\n"));
        QVERIFY(!older.contains(QStringLiteral(",,\r\n")));
        QVERIFY(log.open(QIODevice::WriteOnly | QIODevice::Truncate));
        log.write(older.toUtf8());
        log.close();
        QCOMPARE(readDetachLog(m_log).size(), size_t(7));
        QVERIFY(readDetachLog(m_log).front().sha256.isEmpty());
        const auto detached = emailsIn(m_root);
        const ReattachJob::Report report = reattach();
        QCOMPARE(report.done, 0);
        QCOMPARE(report.refused, 7);
        for (const auto &[id, email] : emailsIn(m_root))
            QCOMPARE(email.bytes, detached.at(id).bytes);
    }

    // A reply in the same folder that quotes the note is not the detached email: with
    // that email gone, its attachment is not found, and the reply stays as it is.
    void aReplyQuotingTheNoteIsLeftAlone()
    {
        detachAll();
        DetachRecord menu;
        for (const DetachRecord &record : readDetachLog(m_log)) {
            if (record.filename == QStringLiteral("menu.csv"))
                menu = record;
        }
        QVERIFY(!menu.link.isEmpty());
        for (const QFileInfo &info :
             QDir(m_root + QStringLiteral("/cur")).entryInfoList(QDir::Files)) {
            QFile file(info.filePath());
            QVERIFY(file.open(QIODevice::ReadOnly));
            if (file.readAll().contains(menu.link.toUtf8()))
                QVERIFY(QFile::remove(info.filePath()));
        }
        const QString replyPath = m_root + QStringLiteral("/cur/1700009999.reply:2,S");
        const QByteArray reply = "From: Bob <bob@example.com>\nSubject: Re: plain with one\n"
                                 "Message-ID: <reply@example.com>\n\n"
                                 "> Attached file menu.csv detached and saved as " +
                                 menu.link.toUtf8() + "\n>\n\nThanks for the menu.\n";
        QFile file(replyPath);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(reply);
        file.close();
        const ReattachJob::Report report = reattach();
        QVERIFY(report.notFound >= 1);
        QCOMPARE(readFile(replyPath), reply);
    }

    // Two emails of one subject saved "Plan.doc" and "Plan.docx", and an HTML-only email
    // whose saved path holds "&": each gets its own attachment back.
    void linksThatBeginOthersAndEscapedLinksFindTheirEmails()
    {
        QDir(m_root + QStringLiteral("/cur")).removeRecursively();
        QVERIFY(QDir().mkpath(m_root + QStringLiteral("/cur")));
        const auto email = [](const char *id, const char *subject, const QByteArray &body,
                              const char *name) {
            return "From: Ann <ann@example.com>\nSubject: " + QByteArray(subject) +
                   "\nMessage-ID: <" + id +
                   ">\nMIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=b\n\n--b\n" +
                   body + "--b\nContent-Type: application/octet-stream; name=\"" + name +
                   "\"\nContent-Disposition: attachment; filename=\"" + name +
                   "\"\nContent-Transfer-Encoding: base64\n\n" +
                   base64Lines(binary(900, int(qstrlen(name)))) + "--b--\n";
        };
        const QByteArray plain = "Content-Type: text/plain\n\nSee attached.\n";
        const QByteArray html =
            "Content-Type: text/html\n\n<html><body><p>Q&amp;A</p></body></html>\n";
        const std::map<QString, QByteArray> mail = {
            {QStringLiteral("1700000001.doc:2,S"), email("doc@x", "Plan", plain, "a.doc")},
            {QStringLiteral("1700000002.docx:2,S"), email("docx@x", "Plan", plain, "a.docx")},
            {QStringLiteral("1700000003.qa:2,S"), email("qa@x", "Q&A", html, "notes.pdf")},
        };
        for (const auto &[name, bytes] : mail) {
            QFile file(m_root + QStringLiteral("/cur/") + name);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(bytes);
        }
        m_before = emailsIn(m_root);
        detachAll();
        QStringList lines;
        const ReattachJob::Report report = reattach({}, &lines);
        QVERIFY2(report.done == 3, qPrintable(lines.join(QLatin1Char('\n'))));
        QCOMPARE(report.notFound, 0);
        QCOMPARE(report.refused, 0);
        for (const auto &[id, was] : m_before) {
            const mime::ParsedEmail original(was.bytes);
            const mime::ParsedEmail restored(emailsIn(m_root).at(id).bytes);
            QVERIFY2(attachmentsOf(restored) == attachmentsOf(original), id.constData());
        }
    }

    void notALogIsAClearError()
    {
        QFile file(m_dir.path() + QStringLiteral("/other.txt"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("date,time\n");
        file.close();
        try {
            readDetachLog(file.fileName());
            QFAIL("read");
        } catch (const qb::Error &e) {
            QVERIFY(e.message().contains(QStringLiteral("is not an action log")));
        }
    }
};

QTEST_GUILESS_MAIN(TestReattach)
#include "test_reattach.moc"
