#include "mailstore/mime/EmailEdit.h"
#include "processing/SavedFileAccess.h"
#include "processing/TUndoThread.h"
#include "processing/UndoHistory.h"
#include "processing/UndoPatch.h"
#include "processing/UndoRecord.h"

#include "support/ErrorOf.h"
#include "support/Files.h"
#include "support/MaildirFixture.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QTemporaryFile>

#include <gmime/gmime.h>
#include <map>
#include <sys/stat.h>
#include <utime.h>

namespace {

QByteArray crlf(QByteArray text)
{
    return text.replace("\n", "\r\n");
}

QByteArray binary(int size, int seed)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 31 + seed * 7 + i / 13) & 0xFF);
    return bytes;
}

QByteArray base64Lines(const QByteArray &data, int length = 76, const QByteArray &lineBreak = "\n")
{
    const QByteArray encoded = data.toBase64();
    QByteArray lines;
    for (qsizetype at = 0; at < encoded.size(); at += length)
        lines += encoded.mid(at, length) + lineBreak;
    return lines;
}

// Mail as real mailboxes hold it, by name: every shape a detach and its undo meet.
std::map<QString, QByteArray> messyMail()
{
    std::map<QString, QByteArray> mail;
    const QByteArray pdf = "%PDF-1.4\n" + binary(3000, 1);
    mail["crlf"] = crlf("From: a@example.com\nSubject: CRLF, 76\nMIME-Version: 1.0\n"
                        "Content-Type: multipart/mixed; boundary=\"b\"\n\n--b\n"
                        "Content-Type: text/plain; charset=utf-8\n\nCaf\xc3\xa9\n--b\n"
                        "Content-Type: application/pdf; name=\"a.pdf\"\n"
                        "Content-Transfer-Encoding: base64\n\n") +
                   base64Lines(pdf, 76, "\r\n") + "--b--\r\n";
    mail["bare LF before a boundary, 72 per line, no final newline"] =
        "From: b@example.com\r\nSubject: mixed ends\r\nMIME-Version: 1.0\r\n"
        "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\nContent-Type: text/plain\r\n\r\n"
        "hi\n--b\r\nContent-Type: image/png; name=p.png\r\nContent-Transfer-Encoding: "
        "base64\r\n\r\n" +
        base64Lines(binary(2000, 2), 72, "\r\n").chopped(2) + "\n--b--";
    mail["8-bit without charset, stray bytes, QP with =00"] =
        "From: \xff\xfe <c@example.com>\nSubject: 8bit \x81\nMIME-Version: 1.0\n"
        "Content-Type: multipart/mixed; boundary=b\n\n--b\nContent-Type: text/plain\n"
        "Content-Transfer-Encoding: 8bit\n\nGr\xfc\xdf"
        "e\n--b\nContent-Type: text/csv; name=x.csv\n"
        "Content-Transfer-Encoding: quoted-printable\n\na=00b;=\nc=E9\n--b--\n";
    mail["format=flowed and an HTML note"] =
        "From: d@example.com\nSubject: flowed\nMIME-Version: 1.0\n"
        "Content-Type: multipart/mixed; boundary=o\n\n--o\n"
        "Content-Type: multipart/alternative; boundary=i\n\n--i\n"
        "Content-Type: text/plain; charset=us-ascii; format=flowed\n\nA long line \nwraps.\n--i\n"
        "Content-Type: text/html; charset=iso-8859-1\n\n<html><head><meta charset=\"utf-8\">"
        "</head><body>x</body></html>\n--i--\n--o\nContent-Type: application/zip; name=z.zip\n"
        "Content-Transfer-Encoding: base64\n\n" +
        base64Lines(binary(900, 3), 60) + "\n\n--o--\n";
    mail["unclosed multipart, unnamed and duplicate names"] =
        "From: e@example.com\nSubject: unclosed\nMIME-Version: 1.0\n"
        "Content-Type: multipart/mixed; boundary=b\n\n--b\nContent-Type: text/plain\n\nsee\n"
        "--b\nContent-Type: image/png\nContent-Transfer-Encoding: base64\n\n" +
        base64Lines(binary(500, 4)) +
        "--b\nContent-Type: image/png; name=same.png\n"
        "Content-Transfer-Encoding: base64\n\n" +
        base64Lines(binary(400, 5)) +
        "--b\nContent-Type: image/png; name=same.png\nContent-Transfer-Encoding: base64\n\n" +
        base64Lines(binary(401, 6));
    mail["forwarded email with its own attachment"] =
        "From: f@example.com\nSubject: Fwd: [report] \"Q1\" \xc3\xa9t\xc3\xa9\nMIME-Version: 1.0\n"
        "Content-Type: multipart/mixed; boundary=o\n\n--o\nContent-Type: text/plain\n\nFYI\n--o\n"
        "Content-Type: message/rfc822\n\nFrom: g@example.com\nSubject: report\n"
        "Content-Type: multipart/mixed; boundary=i\n\n--i\nContent-Type: text/plain\n\nhere\n--i\n"
        "Content-Type: application/pdf; name=r.pdf\nContent-Transfer-Encoding: base64\n\n" +
        base64Lines(pdf) + "--i--\n\n--o--\n";
    QByteArray many = "From: h@example.com\nSubject: thirty\nMIME-Version: 1.0\n"
                      "Content-Type: multipart/mixed; boundary=m\n\n--m\n"
                      "Content-Type: text/plain; charset=iso-2022-jp\n\n\x1b$B$3$s\x1b(B\n";
    for (int i = 0; i < 30; ++i)
        many += "--m\nContent-Type: application/octet-stream; name=f" + QByteArray::number(i) +
                ".bin\nContent-Transfer-Encoding: base64\n\n" + base64Lines(binary(100 + i, i));
    mail["thirty attachments, a note in a part of its own"] = many + "--m--\n";
    mail["the whole email is the attachment"] =
        "From: i@example.com\nSubject: scan\nMIME-Version: 1.0\n"
        "Content-Type: application/pdf; name=scan.pdf\nContent-Transfer-Encoding: base64\n\n" +
        base64Lines(pdf);
    return mail;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray sha256(const QByteArray &bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

// The emails of cur/: flags, date and content.
std::multiset<std::tuple<QString, qint64, QByteArray>> stateOf(const QString &root)
{
    std::multiset<std::tuple<QString, qint64, QByteArray>> state;
    for (const QFileInfo &info : QDir(root + QStringLiteral("/cur")).entryInfoList(QDir::Files))
        state.insert({info.fileName().section(QStringLiteral(":2,"), 1),
                      info.lastModified().toSecsSinceEpoch(), sha256(readFile(info.filePath()))});
    return state;
}

UndoJob::Report undoJobs(MaildirFixture &maildir, std::vector<undo::JobRecord> jobs,
                         UndoJob::Options options = {})
{
    UndoJob::Report report;
    report.cancelled = true;
    auto *thread = new TUndoThread(nullptr, &maildir.host, maildir::storeFactory({maildir.root}),
                                   std::move(jobs), options, QString(), 10);
    QObject::connect(thread, &TUndoThread::jobEnded, thread,
                     [&](UndoJob::Report r) { report = r; });
    QSignalSpy done(thread, &QObject::destroyed);
    done.wait(60000);
    return report;
}

std::vector<undo::JobRecord> recordsIn(const QString &folder)
{
    std::vector<undo::JobRecord> jobs;
    for (const QString &path : undo::recordsUnder(folder))
        jobs.push_back(undo::readJobRecord(path));
    return jobs;
}

} // namespace

class TestUndo : public QObject
{
    Q_OBJECT

    void addMessyMail(MaildirFixture &maildir)
    {
        qint64 when = 1700000000;
        int number = 0;
        for (const auto &[name, bytes] : messyMail()) {
            const QString flags = (++number % 2) ? QStringLiteral("S") : QStringLiteral("FRS");
            const QString path = maildir.add(
                QStringLiteral("cur/%1.m%2:2,%3").arg(when).arg(number).arg(flags), bytes);
            QVERIFY2(!path.isEmpty(), qPrintable(name));
            const utimbuf times{when, when};
            QCOMPARE(::utime(QFile::encodeName(path).constData(), &times), 0);
            when += 3600;
        }
    }

private Q_SLOTS:
    void initTestCase() { g_mime_init(); }

    // Each messy email, and each odd structure a rewrite meets, rebuilt from its reversal;
    // where the saved files rebuild the bodies, the reversal keeps none of their bytes.
    void reversalRebuildsTheOriginal()
    {
        std::map<QString, QByteArray> mail = messyMail();
        mail["header cut short"] = "Content-Type:text/html";
        mail["nested runs of removed parts"] =
            "Content-Type:multipart/i;boundary=b\n\n--b\r\n\n--b\r\nContent-Type:"
            "multipart/d;boundary=\"i\"\n\n--i\n\n\n--i\nContent-Type:a/b\n--b\nContent-Type:a/b";
        mail["damaged base64"] = "Content-Type: multipart/mixed; boundary=b\n\n--b\n"
                                 "Content-Type: a/b; name=x\nContent-Transfer-Encoding: base64\n\n"
                                 "QUJD*RA==\n--b--\n";
        for (const auto &[name, bytes] : mail) {
            mime::EmailEdit edit{mime::ParsedEmail(bytes)};
            std::vector<undo::SavedFileRef> files;
            std::map<int, int> fileOf;
            std::vector<QByteArray> contents;
            for (int position = edit.attachmentCount(); position >= 1; --position) {
                const QByteArray content =
                    edit.original().decodedContent(edit.attachment(position).node);
                fileOf[position] = int(files.size());
                files.push_back(
                    {QStringLiteral("f%1").arg(position), sha256(content), content.size()});
                contents.push_back(content);
                edit.removeAttachment(position);
            }
            edit.appendNote(QStringLiteral("\r\nSaved to file:///tmp/x y/\xe9.pdf\r\n"));
            QTemporaryFile written;
            QVERIFY(written.open());
            edit.writeTo(written.handle());
            const QByteArray rewritten = readFile(written.fileName());
            const mailstore::EmailRewrite rewrite{edit.original(), rewritten, edit.changedSpans(),
                                                  edit.removedAttachments()};
            const auto spans = undo::reversalOf(rewrite, fileOf, files);
            const QByteArray rebuilt = undo::rebuiltOriginal(
                rewritten, spans, [&](int index) { return contents[size_t(index)]; });
            QVERIFY2(rebuilt == bytes, qPrintable(name));
            if (name == u"crlf" || name.startsWith(u"thirty")) {
                size_t fromFiles = 0;
                for (const auto &span : spans)
                    for (const auto &piece : span.removed)
                        fromFiles += piece.file >= 0 ? 1 : 0;
                QCOMPARE(fromFiles, files.size());
            }
        }
    }

    // Detach, then undo: every email byte for byte as it was, with its flags and date;
    // a second undo changes nothing. The same for a save.
    void detachOrSaveThenUndoGivesBackEveryByte()
    {
        for (const bool deleting : {true, false}) {
            MaildirFixture maildir;
            addMessyMail(maildir);
            const auto before = stateOf(maildir.root);
            const TEmailThread::Records records = maildir.analyse();
            QVERIFY(records.size() > 30);
            const TEmailThread::Result result = maildir.run(records, deleting, true);
            QCOMPARE(result.failed, 0);
            QVERIFY(stateOf(maildir.root) != before);

            std::vector<undo::JobRecord> jobs = recordsIn(maildir.out);
            QCOMPARE(jobs.size(), size_t(1));
            QCOMPARE(jobs[0].action, deleting ? u"detach" : u"save");
            const UndoJob::Report report = undoJobs(maildir, jobs);
            QCOMPARE(report.refused, 0);
            QCOMPARE(report.done, int(messyMail().size()));
            QVERIFY(stateOf(maildir.root) == before);

            const UndoJob::Report again = undoJobs(maildir, recordsIn(maildir.out));
            QCOMPARE(again.done, 0);
            QCOMPARE(again.already, report.done);
            QVERIFY(stateOf(maildir.root) == before);
        }
    }

    // The folder of saved files moved as a whole; one email changed since the detach is
    // refused and left as it is, the others come back, and only their files go.
    void movedFolderAndAChangedEmail()
    {
        MaildirFixture maildir;
        addMessyMail(maildir);
        const auto before = stateOf(maildir.root);
        QCOMPARE(maildir.run(maildir.analyse(), true, true).failed, 0);
        const QString moved = maildir.dir.path() + QStringLiteral("/moved");
        QVERIFY(QDir().rename(maildir.out, moved));
        const QString changed = maildir.root + QStringLiteral("/cur/") + maildir.files().first();
        QFile file(changed);
        QVERIFY(file.open(QIODevice::Append));
        file.write("X");
        file.close();
        const QByteArray changedBytes = readFile(changed);

        const std::vector<undo::JobRecord> jobs = recordsIn(moved);
        const UndoJob::Report report = undoJobs(maildir, jobs, {.removeSaved = true});
        QCOMPARE(report.refused, 1);
        QCOMPARE(report.done, int(messyMail().size()) - 1);
        QCOMPARE(readFile(changed), changedBytes);
        const auto after = stateOf(maildir.root);
        int unchanged = 0;
        for (const auto &email : before)
            unchanged += int(after.count(email));
        QCOMPARE(unchanged, int(before.size()) - 1);
        // The refused email's files stay; the others' are gone.
        const undo::JobRecord record = undo::readJobRecord(jobs[0].path);
        for (const undo::EmailRecord &email : record.emails)
            for (const undo::SavedFileRef &saved : email.files)
                QCOMPARE(QFile::exists(moved + QLatin1Char('/') + saved.path), !email.undone());
    }

    // Records that name files outside their folder, links, FIFOs, sizes no file has, or
    // that are not what a record holds: refused with a reason, never followed or hung on.
    void hostileRecordsAreRefused()
    {
        QTemporaryDir dir;
        const QString root = dir.path() + QStringLiteral("/saved");
        QVERIFY(QDir().mkpath(root + QStringLiteral("/Inbox")));
        const QByteArray secret = "secret";
        QVERIFY(writeFile(dir.path() + QStringLiteral("/outside"), secret));
        QVERIFY(QFile::link(dir.path() + QStringLiteral("/outside"),
                            root + QStringLiteral("/Inbox/link.pdf")));
        QVERIFY(QFile::link(dir.path(), root + QStringLiteral("/up")));
        QCOMPARE(
            ::mkfifo(QFile::encodeName(root + QStringLiteral("/Inbox/fifo.pdf")).constData(), 0600),
            0);
        QVERIFY(writeFile(root + QStringLiteral("/Inbox/real.pdf"), secret));
        const QByteArray digest = sha256(secret);
        for (const QString &path :
             {QStringLiteral("../outside"), QStringLiteral("Inbox/link.pdf"),
              QStringLiteral("up/outside"), QStringLiteral("Inbox/fifo.pdf"),
              QStringLiteral("/etc/passwd"), QStringLiteral("Inbox/missing.pdf")})
            QVERIFY2(!errorOf([&] {
                          undo::readSavedFile(root, {path, digest, 6});
                      }).isEmpty(),
                     qPrintable(path));
        QVERIFY(!errorOf([&] {
                     undo::readSavedFile(root, {QStringLiteral("Inbox/real.pdf"), digest, 1 << 30});
                 }).isEmpty());
        QCOMPARE(undo::readSavedFile(root, {QStringLiteral("Inbox/real.pdf"), digest, 6}), secret);

        const QString folder = undo::recordFolderOf(root);
        QVERIFY(QDir().mkpath(folder));
        const QByteArray head = "{\"record\":\"quillbrook-undo\",\"version\":1,\"job\":\"j\","
                                "\"action\":\"detach\",\"started\":\"2026-01-01T00:00:00Z\"}\n";
        const QByteArray digestField = "{\"sha256\":\"" + digest + "\",\"size\":6}";
        const QByteArray email = "{\"email\":1,\"store\":\"s\",\"folder\":\"f\",\"id\":\"i\","
                                 "\"label\":\"l\",\"messageId\":\"\","
                                 "\"attachments\":1,\"before\":" +
                                 digestField + ",\"after\":" + digestField +
                                 ",\"files\":[{\"path\":\"PATH\",\"sha256\":\"" + digest +
                                 "\",\"size\":6}],\"spans\":[]}\n";
        const auto record = [&](const QByteArray &lines) {
            const QString path = folder + QStringLiteral("/r.jsonl");
            QFile::remove(path);
            writeFile(path, lines);
            return errorOf([&] { undo::readJobRecord(path); });
        };
        QVERIFY(record(head + QByteArray(email).replace("PATH", "Inbox/real.pdf")).isEmpty());
        // A line a crash cut short ends the record.
        QVERIFY(record(head + QByteArray(email).replace("PATH", "Inbox/real.pdf").chopped(9))
                    .isEmpty());
        for (const QByteArray &bad :
             {QByteArray(email).replace("PATH", "../outside"),
              QByteArray(email).replace("PATH", "/etc/passwd"),
              QByteArray(email).replace("PATH", "Inbox//x"),
              QByteArray(email).replace("PATH", "x").replace("\"size\":6}]", "\"size\":1e300}]"),
              QByteArray(email)
                  .replace("PATH", "x")
                  .replace("\"spans\":[]", "\"spans\":[{\"at\":9,\"length\":0,\"removed\":[]}]"),
              QByteArray("{not json\n"), QByteArray("[1,2]\n")})
            QVERIFY2(!record(head + bad).isEmpty(), bad.constData());
        QVERIFY(!record("{}\n").isEmpty());
        // Kept bytes whose packed size claims more than the email: refused before unpacking.
        QVERIFY(
            !record(head + QByteArray(email)
                               .replace("PATH", "x")
                               .replace("\"spans\":[]", "\"spans\":[{\"at\":0,\"length\":0,"
                                                        "\"removed\":[{\"bytes\":\"f////w==\"}]}]"))
                 .isEmpty());
        // Kept bytes that unpack to far more than the email (a zip bomb that claims one byte).
        QByteArray bomb = qCompress(QByteArray(16 << 20, '\0'));
        bomb[0] = bomb[1] = bomb[2] = 0;
        bomb[3] = 1;
        QVERIFY(!record(head + QByteArray(email)
                                   .replace("PATH", "x")
                                   .replace("\"spans\":[]", "\"spans\":[{\"at\":0,\"length\":0,"
                                                            "\"removed\":[{\"bytes\":\"" +
                                                                bomb.toBase64() + "\"}]}]"))
                     .isEmpty());
        // A record that is a FIFO or a link is not read.
        const QString fifo = folder + QStringLiteral("/f.jsonl");
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        QVERIFY(!errorOf([&] { undo::readJobRecord(fifo); }).isEmpty());
        QVERIFY(QFile::link(QStringLiteral("/dev/zero"), folder + QStringLiteral("/z.jsonl")));
        QVERIFY(
            !errorOf([&] { undo::readJobRecord(folder + QStringLiteral("/z.jsonl")); }).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestUndo)
#include "test_undo.moc"
