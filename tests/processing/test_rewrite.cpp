#include "common/Error.h"
#include "common/FileSystem.h"
#include "mailstore/maildir/Journal.h"
#include "mailstore/maildir/MaildirSession.h"
#include "mailstore/maildir/Replacement.h"
#include "mailstore/mime/ParsedEmail.h"
#include "processing/SaveNaming.h"
#include "processing/SavedFilePlacer.h"
#include "support/Files.h"
#include "support/MaildirFixture.h"

#include <QCoreApplication>
#include <QTimer>

#include <gmime/gmime.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <unistd.h>

// Jobs on real Maildirs change only what they mean to change: every byte of what an
// email keeps stays as it was, and each email is written once.
namespace {

const QByteArray pdf = "JVBERi0xLjQKJcOkw7zDtsOfCjIgMCBvYmoKPDwvTGVuZ3RoIDMgMCBSL0Zp\n";

// A multipart/mixed email: the given text part, then a PDF attachment.
QByteArray withPdf(const QByteArray &textPart, const QByteArray &eol = "\n",
                   const QByteArray &pdfName = "a.pdf")
{
    QByteArray email = "From: a@example.com\nSubject: test\nMessage-ID: <t@x>\nMIME-Version: 1.0\n"
                       "Content-Type: multipart/mixed; boundary=\"b\"\n\n--b\n" +
                       textPart + "\n--b\nContent-Type: application/pdf; name=\"" + pdfName +
                       "\"\nContent-Transfer-Encoding: base64\n\n" + pdf + "--b--\n";
    if (eol != "\n")
        email.replace("\n", eol);
    return email;
}

struct TextPart
{
    QByteArray header;  // the part's raw header block
    QByteArray content; // its decoded content
};

TextPart textPartOf(const QByteArray &email, const char *subtype)
{
    const mime::ParsedEmail parsed(email);
    const int node = parsed.textPart(subtype);
    if (node < 0)
        return {};
    return {parsed.tree().bytes(parsed.tree().node(node).headerBlock), parsed.decodedContent(node)};
}

// Counts the files that appear in a folder (created or moved in) while it lives.
class FolderWatch
{
public:
    explicit FolderWatch(const QString &folder) : m_fd(inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
    {
        inotify_add_watch(m_fd, QFile::encodeName(folder).constData(), IN_CREATE | IN_MOVED_TO);
    }
    ~FolderWatch() { ::close(m_fd); }
    int arrivals()
    {
        char buffer[64 * 1024];
        for (ssize_t got; (got = ::read(m_fd, buffer, sizeof buffer)) > 0;) {
            for (char *at = buffer; at < buffer + got;) {
                const auto *event = reinterpret_cast<inotify_event *>(at);
                ++m_count;
                at += sizeof(inotify_event) + event->len;
            }
        }
        return m_count;
    }

private:
    int m_fd;
    int m_count = 0;
};

// Rewrites cur/1.x:2, as "new\n" while meanwhile(path of the old file) runs, after the
// new file is written and before it replaces the old one.
maildir::MessageFile replaceWhile(MaildirFixture &maildir,
                                  const std::function<void(const QString &)> &meanwhile)
{
    const QString old =
        maildir.add(QStringLiteral("cur/1.x:2,"), withPdf("Content-Type: text/plain\n\nhi\n"));
    maildir::Journal journal(maildir.root);
    maildir::FolderNode folder;
    folder.directory = maildir.root;
    return maildir::replaceEmailFile(
        journal, folder, {QStringLiteral("1.x"), QStringLiteral("cur/1.x:2,")},
        [](int fd) { QCOMPARE(::write(fd, "new\n", 4), 4); },
        [&](const QString &) { meanwhile(old); });
}

} // namespace

class TestRewrite : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { g_mime_init(); }

    // The text a note is added to keeps its bytes, its charset label and its line ends.
    void noteLeavesTextAsItWas_data()
    {
        QTest::addColumn<QByteArray>("email");
        QTest::addColumn<QByteArray>("subtype");
        QTest::addColumn<QByteArray>("noteBytes"); // in the part's charset, "" when elsewhere

        QTest::newRow("8-bit latin-1 without a charset")
            << withPdf("Content-Type: text/plain\n\nGr\xFC\xDF"
                       "e aus K\xF6ln\n")
            << QByteArray("plain") << QByteArray("Attached file a.pdf deleted (not saved)");
        QTest::newRow("utf-8 with a stray byte")
            << withPdf(
                   "Content-Type: text/plain; charset=utf-8\nContent-Transfer-Encoding: 8bit\n\n"
                   "caf\xC3\xA9 \xFF end\n")
            << QByteArray("plain") << QByteArray("Attached file a.pdf deleted (not saved)");
        QTest::newRow("html with its charset in a meta tag")
            << withPdf(
                   "Content-Type: text/html\nContent-Transfer-Encoding: 8bit\n\n<html><head>"
                   "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=windows-1252\">"
                   "</head><body><p>Gr\xFC\xDF"
                   "e \x80</p></body></html>\n")
            << QByteArray("html") << QByteArray("<p>Attached file a.pdf deleted (not saved)</p>");
        QTest::newRow("quoted-printable holding a NUL")
            << withPdf("Content-Type: text/plain; charset=iso-8859-1\n"
                       "Content-Transfer-Encoding: quoted-printable\n\nbefore=00after =E9t=E9  \n"
                       "last line")
            << QByteArray("plain") << QByteArray("Attached file a.pdf deleted (not saved)");
        QTest::newRow("base64 latin-1, note in latin-1")
            << withPdf("Content-Type: text/plain; charset=ISO-8859-1\n"
                       "Content-Transfer-Encoding: base64\n\n" +
                           QByteArray("Gr\xFC\xDF"
                                      "e aus K\xF6ln\nZweite Zeile\n")
                               .toBase64(),
                       "\n",
                       "Gr\xC3\xBC\xC3\x9F"
                       "e.pdf")
            << QByteArray("plain")
            << QByteArray("Attached file Gr\xFC\xDF"
                          "e.pdf deleted (not saved)");
        QTest::newRow("flowed text ending in a soft break")
            << withPdf("Content-Type: text/plain; charset=us-ascii; format=flowed\n\n"
                       "A paragraph that goes \non here ")
            << QByteArray("plain") << QByteArray("Attached file a.pdf deleted (not saved)");
        QTest::newRow("no newline at the end")
            << withPdf("Content-Type: text/plain\n\nno newline") << QByteArray("plain")
            << QByteArray("Attached file a.pdf deleted (not saved)");
        QTest::newRow("CRLF email")
            << withPdf("Content-Type: text/plain\n\nline one\nline two\n", "\r\n")
            << QByteArray("plain") << QByteArray("Attached file a.pdf deleted (not saved)");
        QTest::newRow("CRLF email, base64 text of LF lines")
            << withPdf("Content-Type: text/plain; charset=utf-8\nContent-Transfer-Encoding: "
                       "base64\n\n" +
                           QByteArray("line one\nline two\n").toBase64(),
                       "\r\n")
            << QByteArray("plain") << QByteArray("Attached file a.pdf deleted (not saved)");
        QTest::newRow("charset that cannot hold the name")
            << withPdf("Content-Type: text/plain; charset=iso-8859-1\n"
                       "Content-Transfer-Encoding: quoted-printable\n\nCaf=E9\n",
                       "\n", "\xE8\xB3\x87\xE6\x96\x99.pdf")
            << QByteArray("plain") << QByteArray();
        QTest::newRow("7bit part and a note that is not ASCII")
            << withPdf("Content-Type: text/plain; charset=iso-8859-1\n\nplain ascii\n", "\n",
                       "Gr\xC3\xBC\xC3\x9F"
                       "e.pdf")
            << QByteArray("plain") << QByteArray();
        QTest::newRow("inline PGP signature")
            << withPdf("Content-Type: text/plain\n\n-----BEGIN PGP SIGNED MESSAGE-----\nHash: "
                       "SHA256\n\nhi\n-----BEGIN PGP SIGNATURE-----\nxyz\n-----END PGP "
                       "SIGNATURE-----\n")
            << QByteArray("plain") << QByteArray();
    }
    void noteLeavesTextAsItWas()
    {
        QFETCH(QByteArray, email);
        QFETCH(QByteArray, subtype);
        QFETCH(QByteArray, noteBytes);
        MaildirFixture maildir;
        maildir.add(QStringLiteral("cur/1.x:2,S"), email);
        const auto records = maildir.analyse();
        QCOMPARE(records.size(), size_t(1));
        const auto result = maildir.run(records, true, false);
        QCOMPARE(result.failed, 0);

        const QByteArray rewritten = maildir.only();
        QVERIFY(!rewritten.isEmpty());
        QCOMPARE(attachmentNamesIn(rewritten), QStringList());
        const TextPart before = textPartOf(email, subtype.constData());
        const TextPart after = textPartOf(rewritten, subtype.constData());
        QCOMPARE(after.header, before.header); // the charset label and all
        if (noteBytes.isEmpty()) {
            // Left byte for byte; the note is in a UTF-8 part of its own.
            QCOMPARE(after.content, before.content);
            const mime::ParsedEmail parsed(rewritten);
            int notes = 0;
            for (const mime::MimeNode &node : parsed.tree().nodes()) {
                const QByteArray header = parsed.tree().bytes(node.headerBlock);
                notes += header.contains("charset=utf-8") && node.kind == mime::NodeKind::Leaf;
            }
            QCOMPARE(notes, 1);
            QVERIFY(rewritten.contains("Attached file"));
        } else if (subtype == "html") {
            const qsizetype at = after.content.indexOf(noteBytes);
            QVERIFY(at > 0);
            QCOMPARE(after.content.left(at) +
                         after.content.mid(at + noteBytes.size()).replace("\n</body>", "</body>"),
                     before.content);
        } else {
            QVERIFY2(after.content.startsWith(before.content), after.content.constData());
            QVERIFY2(after.content.mid(before.content.size()).contains(noteBytes),
                     after.content.constData());
        }
        // Flowed text ends its paragraph before the note.
        QVERIFY(!after.content.contains(" \nAttached") && !after.content.contains(" \r\nAttached"));
        if (email.contains("\r\n"))
            QCOMPARE(rewritten.count('\n'), rewritten.count("\r\n"));
        else
            QVERIFY(!rewritten.contains('\r'));
    }

    void untouchedPartsKeepTheirBytes()
    {
        MaildirFixture maildir;
        const QByteArray csv = "Content-Type: text/csv; name=\"t.csv\"\r\nContent-Disposition: "
                               "attachment; filename=\"t.csv\"\r\n\r\na,b\r\n1,2\r\n";
        QByteArray email = withPdf("Content-Type: text/plain\n\nhi\n", "\r\n");
        email.replace("--b--", "--b\r\n" + csv + "\r\n--b--");
        maildir.add(QStringLiteral("cur/1.x:2,S"), email);
        const auto records = maildir.analyse();
        QCOMPARE(records.size(), size_t(2));
        QCOMPARE(records[1]->Filename, QStringLiteral("t.csv"));
        QCOMPARE(maildir.run({records[0]}, true, true).failed, 0);
        const QByteArray rewritten = maildir.only();
        QVERIFY(rewritten.contains("--b\r\n" + csv + "\r\n--b--\r\n"));
        QCOMPARE(attachmentNamesIn(rewritten), QStringList{"t.csv"});
        QCOMPARE(readFile(maildir.out + QStringLiteral("/Inbox/test.pdf")),
                 QByteArray::fromBase64(pdf));
        // The email's own headers, byte for byte.
        QVERIFY(rewritten.startsWith(email.left(email.indexOf("\r\n\r\n") + 4)));
    }

    void oneRewritePerEmail()
    {
        MaildirFixture maildir;
        QByteArray parts;
        for (int i = 1; i <= 30; ++i) {
            parts += "--b\nContent-Type: application/octet-stream; name=\"f" +
                     QByteArray::number(i) + ".bin\"\nContent-Transfer-Encoding: base64\n\n" +
                     QByteArray("file number ").append(QByteArray::number(i)).toBase64() + "\n";
        }
        maildir.add(QStringLiteral("cur/1.x:2,S"),
                    "From: a@b\nSubject: many\nContent-Type: multipart/mixed; boundary=b\n\n"
                    "--b\nContent-Type: text/plain\n\nHello\n" +
                        parts + "--b--\n");
        const auto records = maildir.analyse();
        QCOMPARE(records.size(), size_t(30));
        FolderWatch cur(maildir.root + QStringLiteral("/cur"));
        const auto result = maildir.run(records, true, true);
        QCOMPARE(result.processed, 30);
        QCOMPARE(result.failed, 0);
        QCOMPARE(cur.arrivals(), 1); // one new name for the email, not thirty
        const QByteArray rewritten = maildir.only();
        QCOMPARE(attachmentNamesIn(rewritten), QStringList());
        QCOMPARE(rewritten.count("detached and saved as"), 30);
        QCOMPARE(readFile(maildir.out + QStringLiteral("/Inbox/many_30.bin")),
                 QByteArray("file number 1")); // highest position first: f30 took the plain name
    }

    // Another program acts on the email while it is being rewritten.
    void renamedMeanwhileKeepsOneCopy()
    {
        // The mail server sets a flag.
        MaildirFixture maildir;
        const auto written = replaceWhile(maildir, [&](const QString &old) {
            QFile::rename(old, maildir.root + QStringLiteral("/cur/1.x:2,S"));
        });
        QCOMPARE(maildir.files(), QStringList{written.relativePath.mid(4)});
        QVERIFY2(written.relativePath.endsWith(QStringLiteral(":2,S")),
                 qPrintable(written.relativePath));
        QCOMPARE(maildir.only(), QByteArray("new\n"));
    }
    void deletedMeanwhileDoesNotComeBack()
    {
        MaildirFixture maildir;
        QVERIFY_THROWS_EXCEPTION(qb::MailStoreError, replaceWhile(maildir, [](const QString &old) {
                                     QFile::remove(old);
                                 }));
        QVERIFY(maildir.files().isEmpty());
        QVERIFY(maildir.files(QStringLiteral("tmp")).isEmpty());
    }

    void secondCopyWaitsForTheStore()
    {
        MaildirFixture maildir;
        maildir.add(QStringLiteral("cur/1.x:2,S"), withPdf("Content-Type: text/plain\n\nhi\n"));
        const auto records = maildir.analyse();
        // Another copy of the program holds the store.
        QFile lock(maildir.root + QStringLiteral("/quillbrook.lock"));
        QVERIFY(lock.open(QIODevice::ReadWrite));
        QCOMPARE(::flock(lock.handle(), LOCK_EX | LOCK_NB), 0);
        QTimer::singleShot(1500, [&] { ::flock(lock.handle(), LOCK_UN); });
        const auto result = maildir.run(records, true, false);
        QCOMPARE(result.failed, 0);
        QVERIFY(maildir.host.steps.contains(QStringLiteral(
                    "status: Waiting for another program to finish changing the mail store...")) ||
                maildir.host.steps.join(u'\n').contains(QStringLiteral("Waiting for another")));
        QCOMPARE(attachmentNamesIn(maildir.only()), QStringList());
    }

    void secondCopyGivesUpWithAClearMessage()
    {
        MaildirFixture maildir;
        const QByteArray email = withPdf("Content-Type: text/plain\n\nhi\n");
        maildir.add(QStringLiteral("cur/1.x:2,S"), email);
        const auto records = maildir.analyse();
        QFile lock(maildir.root + QStringLiteral("/quillbrook.lock"));
        QVERIFY(lock.open(QIODevice::ReadWrite));
        QCOMPARE(::flock(lock.handle(), LOCK_EX | LOCK_NB), 0);
        maildir.lockTimeout = 1;
        maildir.run(records, true, false);
        QVERIFY2(maildir.host.steps.join(u'\n').contains(
                     QStringLiteral("Another program is changing the mail store")),
                 qPrintable(maildir.host.steps.join(u'\n')));
        QCOMPARE(maildir.only(), email);
    }

    void signedEmailIsDecidedBeforeAnythingIsWritten()
    {
        const QByteArray email =
            "From: a@b\nSubject: signed\nContent-Type: multipart/signed; boundary=s; "
            "protocol=\"application/pgp-signature\"\n\n--s\nContent-Type: multipart/mixed; "
            "boundary=b\n\n--b\nContent-Type: text/plain\n\nhi\n--b\nContent-Type: "
            "application/pdf; name=\"a.pdf\"\n\nx\n--b--\n--s\nContent-Type: "
            "application/pgp-signature\n\nsig\n--s--\n";
        const QString log = QDir::temp().filePath(
            QStringLiteral("qb-signed-%1.csv").arg(QCoreApplication::applicationPid()));
        {
            MaildirFixture maildir;
            maildir.add(QStringLiteral("cur/1.x:2,S"), email);
            QCOMPARE(maildir.run(maildir.analyse(), true, true).failed, 1);
            QVERIFY(!QFile::exists(maildir.out)); // detach refuses before it writes
            QCOMPARE(maildir.only(), email);
        }
        {
            MaildirFixture maildir;
            maildir.add(QStringLiteral("cur/1.x:2,S"), email);
            QCOMPARE(maildir.run(maildir.analyse(), false, true, log).failed, 0);
            QCOMPARE(readFile(maildir.out + QStringLiteral("/Inbox/signed.pdf")), QByteArray("x"));
            QCOMPARE(maildir.only(), email);
            QVERIFY(readFile(log).contains("No note was added to email [Inbox\\signed]: The "
                                           "email is signed or encrypted"));
        }
        QFile::remove(log);
    }

    void failedJobLetsGoOfItsLog()
    {
        MaildirFixture maildir;
        const QString log = maildir.dir.path() + QStringLiteral("/job.csv");
        QDir(maildir.root).removeRecursively(); // the store cannot be opened: the run fails
        maildir.run({}, true, false, log);
        QVERIFY(maildir.host.steps.join(u'\n').contains(QStringLiteral("error: ")));
        const QString canonical = QFileInfo(log).canonicalFilePath();
        QVERIFY(!canonical.isEmpty());
        for (const QFileInfo &fd :
             QDir(QStringLiteral("/proc/self/fd")).entryInfoList(QDir::AllEntries | QDir::System))
            QVERIFY2(fd.symLinkTarget() != canonical, "the log is still open");
    }

    void savedFilesAreAsPrivateAsTheirEmail()
    {
        for (const mode_t mode : {mode_t(0600), mode_t(0640)}) {
            MaildirFixture maildir;
            maildir.add(QStringLiteral("cur/1.x:2,S"), withPdf("Content-Type: text/plain\n\nhi\n"),
                        mode);
            const auto records = maildir.analyse();
            QCOMPARE(maildir.run(records, false, true).failed, 0);
            struct stat info = {};
            QCOMPARE(
                ::stat(
                    QFile::encodeName(maildir.out + QStringLiteral("/Inbox/test.pdf")).constData(),
                    &info),
                0);
            QCOMPARE(info.st_mode & 0777, mode);
        }
    }

    void linkedEmailIsNotRewrittenThroughTheLink()
    {
        MaildirFixture maildir;
        const QByteArray email = withPdf("Content-Type: text/plain\n\nhi\n");
        const QString real = maildir.dir.path() + QStringLiteral("/Archive/cur/1.x:2,S");
        QDir().mkpath(QFileInfo(real).path());
        QFile file(real);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(email);
        file.close();
        QVERIFY(QFile::link(real, maildir.root + QStringLiteral("/cur/1.x:2,S")));
        const auto records = maildir.analyse();
        QCOMPARE(records.size(), size_t(1));
        const QString log = maildir.dir.path() + QStringLiteral("/job.csv");
        const auto result = maildir.run(records, true, true, log);
        QCOMPARE(result.failed, 1);
        QCOMPARE(readFile(real), email);
        QVERIFY(QFileInfo(maildir.root + QStringLiteral("/cur/1.x:2,S")).isSymLink());
        QVERIFY(readFile(log).contains("is a link to an email kept elsewhere"));
        QVERIFY(!QFile::exists(maildir.out)); // nothing saved for a change refused
    }

    void damagedEncodingIsReported()
    {
        MaildirFixture maildir;
        QByteArray email = withPdf("Content-Type: text/plain\n\nhi\n");
        email.replace(pdf, "JVBERi0x*LjQK\nJVB\n");
        maildir.add(QStringLiteral("cur/1.x:2,S"), email);
        const auto records = maildir.analyse();
        const QString log = maildir.dir.path() + QStringLiteral("/job.csv");
        QCOMPARE(maildir.run(records, false, true, log).failed, 0);
        const QByteArray entries = readFile(log);
        QVERIFY2(entries.contains(
                     "is damaged: 1 character(s) that are not base64; 9 byte(s) were decoded"),
                 entries.constData());
    }

    void savingWithoutHardLinks()
    {
        // File systems without hard links (vfat, exFAT, network mounts) take the fallbacks.
        for (const auto method :
             {qb::NoReplaceMove::RenameNoReplace, qb::NoReplaceMove::Placeholder}) {
            QTemporaryDir dir;
            const QString wanted = dir.path() + QStringLiteral("/a/report.pdf");
            SavedFileList first;
            QCOMPARE(SavedFilePlacer(first, method).place(dir.path(), wanted, writing("one")).path,
                     wanted);
            SavedFileList second;
            QCOMPARE(SavedFilePlacer(second, method).place(dir.path(), wanted, writing("two")).path,
                     dir.path() + QStringLiteral("/a/report_2.pdf"));
            QCOMPARE(SavedFilePlacer(second, method).place(dir.path(), wanted, writing("one")).path,
                     wanted);
            QCOMPARE(readFile(wanted), QByteArray("one"));
            QCOMPARE(QDir(dir.path() + QStringLiteral("/a"))
                         .entryList(QDir::Files | QDir::Hidden)
                         .size(),
                     2);
        }
    }

    void fifoInTheWayIsSkipped()
    {
        QTemporaryDir dir;
        const QString wanted = dir.path() + QStringLiteral("/report.pdf");
        QCOMPARE(::mkfifo(QFile::encodeName(wanted).constData(), 0600), 0);
        SavedFileList saved;
        const QString placed = SavedFilePlacer(saved)
                                   .place(dir.path(), wanted,
                                          [](const QString &path) {
                                              QFile file(path);
                                              QVERIFY(file.open(QIODevice::WriteOnly));
                                              file.write("x");
                                          })
                                   .path;
        QCOMPARE(placed, dir.path() + QStringLiteral("/report_2.pdf"));
    }
};

QTEST_GUILESS_MAIN(TestRewrite)
#include "test_rewrite.moc"
