#include "common/Error.h"
#include "mailstore/maildir/MaildirStore.h"
#include "mailstore/mime/ParsedEmail.h"
#include "support/Files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <QUrl>
#include <gmime/gmime.h>

#include <sys/file.h>
#include <sys/stat.h>

using namespace mailstore;

namespace {

const QByteArray pdfBase64 =
    "JVBERi0xLjQKJcOkw7zDtsOfCjIgMCBvYmoKPDwvTGVuZ3RoIDMgMCBSL0ZpbHRlci9GbGF0ZURl\n"
    "Y29kZT4+CnN0cmVhbQp4nDPQM1Qo5ypUMFAw0DMwslAwtTTVMzI3VbAwMdSzMDNRKErlCtfiyuMK\n";

const QByteArray twoAttachments =
    "Return-Path: <a@example.com>\n"
    "Received: from mx.example.com (mx.example.com [192.0.2.1])\n\tby mail.example.org; Mon, 1 Jan "
    "2024\n"
    "From: Alice <a@example.com>\nSubject: =?UTF-8?Q?Caf=C3=A9?= plans\nMessage-ID: "
    "<m1@example.com>\n"
    "MIME-Version: 1.0\nContent-Type: multipart/mixed;\n boundary=\"outer-boundary\"\n\n"
    "Preamble text.\n--outer-boundary\nContent-Type: multipart/alternative; boundary=alt\n\n"
    "--alt\nContent-Type: text/plain; charset=windows-1252\nContent-Transfer-Encoding: "
    "quoted-printable\n\n"
    "Caf=E9 at ten.\n--alt\nContent-Type: text/html; "
    "charset=utf-8\n\n<html><body><p>Caf\xC3\xA9</p></body></html>\n"
    "--alt--\n--outer-boundary\nContent-Type: application/pdf; name=\"plan.pdf\"\n"
    "Content-Disposition: attachment; filename=\"plan.pdf\"\nContent-Transfer-Encoding: "
    "base64\n\n" +
    pdfBase64 +
    "--outer-boundary\nContent-Type: image/png; name=\"map.png\"\n"
    "Content-Disposition: attachment; filename=\"map.png\"\nContent-Transfer-Encoding: base64\n\n"
    "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mNkYPhfDwAChwGA60e6kgAAAABJRU5ErkJggg"
    "==\n"
    "--outer-boundary--\nEpilogue.\n";

// An email whose only part is a PDF.
QByteArray singlePartPdf()
{
    return "From: a@b\nSubject: scan\nContent-Type: application/pdf; name=\"scan.pdf\"\n"
           "Content-Transfer-Encoding: base64\n\n" +
           pdfBase64;
}

// A journal record as a session writes it, naming the old file by its identity.
QByteArray journalLine(const char *folder, const char *oldRelative, const QString &oldPath,
                       const char *ready, const char *newRelative)
{
    struct stat info = {};
    ::stat(QFile::encodeName(oldPath).constData(), &info);
    const QByteArray oldName = QByteArray(oldRelative).mid(4);
    return QByteArray("2\t") + folder + '\t' + QUrl::toPercentEncoding(oldRelative) + '\t' +
           QUrl::toPercentEncoding(oldName.left(oldName.indexOf(':'))) + '\t' +
           QByteArray::number(quint64(info.st_dev)) + '\t' +
           QByteArray::number(quint64(info.st_ino)) + '\t' +
           QByteArray::number(qint64(info.st_size)) + '\t' + ready + '\t' +
           QUrl::toPercentEncoding(newRelative) + '\n';
}

QString writeFile(const QString &path, const QByteArray &content, const QDateTime &modified = {})
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        return {};
    file.close();
    if (modified.isValid() && (!file.open(QIODevice::ReadOnly) ||
                               !file.setFileTime(modified, QFileDevice::FileModificationTime)))
        return {};
    return path;
}

struct Store
{
    QTemporaryDir dir;
    QString root = dir.path() + QStringLiteral("/Mail");
    QDateTime received = QDateTime(QDate(2024, 1, 1), QTime(8, 0));
    Store()
    {
        for (const char *sub : {"cur", "new", "tmp"})
            QDir().mkpath(root + QLatin1Char('/') + QLatin1String(sub));
    }
    QString add(const QString &relative, const QByteArray &content)
    {
        return writeFile(root + QLatin1Char('/') + relative, content, received);
    }
    std::shared_ptr<Item> firstInInbox()
    {
        return open()->getDefaultFolder(DefaultInbox)->items()->item(1);
    }
    std::shared_ptr<Namespace> open()
    {
        return maildir::storeFactory({root})()->getNamespace(QStringLiteral("MAPI"));
    }
    QStringList files(const QString &sub = QStringLiteral("cur")) const
    {
        return QDir(root + QLatin1Char('/') + sub).entryList(QDir::Files | QDir::Hidden);
    }
    QString only(const QString &sub = QStringLiteral("cur")) const
    {
        const QStringList all = files(sub);
        return all.size() == 1 ? root + QLatin1Char('/') + sub + QLatin1Char('/') + all.first()
                               : QString();
    }
};

} // namespace

class TestMaildirWrite : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { g_mime_init(); }
    void cleanupTestCase() { g_mime_shutdown(); }

    void detachRewritesUnderANewName()
    {
        Store store;
        store.add(QStringLiteral("cur/1700000000.M1P1.host,S=1234,W=1300,U=77:2,RS"),
                  twoAttachments);
        auto mapi = store.open();
        auto item = mapi->getDefaultFolder(DefaultInbox)->items()->item(1);
        const QString oldId = item->entryId();
        QCOMPARE(item->attachments()->count(), 2);

        const QString saved = store.dir.path() + QStringLiteral("/plan.pdf");
        item->attachments()->item(1)->saveAsFile(saved);
        QCOMPARE(readFile(saved), QByteArray::fromBase64(pdfBase64));
        item->attachments()->item(1)->remove();
        item->appendToBody(QStringLiteral(
            "\r\nAttached file plan.pdf detached and saved as file:///x/plan.pdf\r\n"));
        item->save();

        const QString rewritten = store.only();
        QVERIFY2(!rewritten.isEmpty(), qPrintable(store.files().join(u' ')));
        const QString name = QFileInfo(rewritten).fileName();
        QVERIFY(!name.startsWith(QStringLiteral("1700000000.M1P1")));
        QVERIFY2(name.endsWith(QStringLiteral(":2,RS")), qPrintable(name));
        QVERIFY(!name.contains(QStringLiteral(",U=")));
        const QByteArray content = readFile(rewritten);
        QVERIFY2(name.contains(QStringLiteral(",S=%1,").arg(content.size())), qPrintable(name));
        QVERIFY(name.contains(QStringLiteral(",W=%1:").arg(content.size() + content.count('\n'))));
        QCOMPARE(QFileInfo(rewritten).lastModified(), store.received);
        QVERIFY(store.files(QStringLiteral("tmp")).isEmpty());
        QVERIFY(QDir(store.root)
                    .entryList({QStringLiteral("quillbrook-journal-*")}, QDir::Files)
                    .size() <= 1);

        // Untouched parts and headers keep their bytes; the removed part is gone.
        for (const QByteArray &kept :
             {QByteArray("Received: from mx.example.com (mx.example.com [192.0.2.1])\n\tby "
                         "mail.example.org"),
              QByteArray("Subject: =?UTF-8?Q?Caf=C3=A9?= plans\n"),
              QByteArray("Content-Type: multipart/mixed;\n boundary=\"outer-boundary\"\n"),
              QByteArray("Preamble text.\n"),
              QByteArray("iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mNk"),
              QByteArray("--outer-boundary--\nEpilogue.")})
            QVERIFY2(content.contains(kept), kept.constData());
        QVERIFY(!content.contains(pdfBase64.left(40)));
        // The note, in the plain part's own charset and encoding, after its text; in the
        // HTML part as a paragraph with a link before </body>; no label changed.
        const mime::ParsedEmail parsed(content);
        QCOMPARE(parsed.decodedContent(parsed.textPart("plain")),
                 QByteArray("Caf\xE9 at ten.\nAttached file plan.pdf detached and saved as "
                            "file:///x/plan.pdf\n"));
        QVERIFY(content.contains("Content-Type: text/plain; charset=windows-1252\n"
                                 "Content-Transfer-Encoding: quoted-printable\n\nCaf=E9 at ten."));
        QVERIFY2(
            content.contains("Content-Type: text/html; charset=utf-8\n\n<html><body><p>Caf\xC3\xA9"
                             "</p><p>Attached file plan.pdf detached and saved as <a "
                             "href=\"file:///x/plan.pdf\">file:///x/plan.pdf</a></p>\n"
                             "</body></html>\n--alt--"),
            content.constData());

        // In the same session the old id leads to the new file: the job's next attachment.
        auto again = mapi->getItemFromId(oldId, QString());
        QVERIFY(again);
        QCOMPARE(again->attachments()->count(), 1);
        QCOMPARE(again->attachments()->item(1)->filename(), QStringLiteral("map.png"));
        again->attachments()->item(1)->remove();
        again->save();
        QCOMPARE(store.files().size(), 1);

        // A new session reads it as a plain email.
        auto reread = store.firstInInbox();
        QCOMPARE(reread->attachments()->count(), 0);
        QCOMPARE(reread->subject(), QStringLiteral("Café plans"));
        QVERIFY(reread->body().contains(QStringLiteral("Café at ten.")));
    }

    // ",W=" is the size with CR LF line ends: a line end that has its CR already counts
    // as it is, whichever ends the file has.
    void rewrittenSizeCountsLineEndsAsTheyAre()
    {
        QByteArray crlf = twoAttachments;
        crlf.replace("\n", "\r\n");
        QByteArray mixed = crlf;
        mixed.replace("Preamble text.\r\n", "Preamble text.\n");
        for (const QByteArray &email : {crlf, mixed}) {
            Store store;
            store.add(QStringLiteral("cur/1700000000.M1P1.host,S=1,W=1:2,S"), email);
            auto item = store.firstInInbox();
            item->attachments()->item(2)->remove();
            item->save();
            const QString rewritten = store.only();
            const QByteArray content = readFile(rewritten);
            QVERIFY(content.contains("\r\n"));
            const qint64 crlfSize = content.size() + content.count('\n') - content.count("\r\n");
            QVERIFY2(QFileInfo(rewritten).fileName().contains(
                         QStringLiteral(",S=%1,W=%2:").arg(content.size()).arg(crlfSize)),
                     qPrintable(rewritten));
        }
    }

    // Written anew under its name between the reading and the rewrite: what the other
    // program wrote stays, and nothing else is left.
    void fileWrittenOverMeanwhileIsLeftAlone()
    {
        Store store;
        const QString path = store.add(QStringLiteral("cur/1.M1.host:2,S"), twoAttachments);
        auto item = store.firstInInbox();
        item->attachments()->item(2)->remove();
        const QByteArray other = singlePartPdf();
        QVERIFY(!writeFile(path, other, store.received).isEmpty());
        QVERIFY_THROWS_EXCEPTION(qb::MailStoreError, item->save());
        QCOMPARE(store.files(), QStringList{QStringLiteral("1.M1.host:2,S")});
        QCOMPARE(readFile(path), other);
        QVERIFY(store.files(QStringLiteral("tmp")).isEmpty());
    }

    void flagsChangedMeanwhileAreKept()
    {
        Store store;
        const QString path = store.add(QStringLiteral("new/1.M1.host"), twoAttachments);
        auto item = store.firstInInbox();
        item->attachments()->item(2)->remove();
        QVERIFY(QFile::rename(path, store.root + QStringLiteral("/cur/1.M1.host:2,FS")));
        item->save();
        QVERIFY(store.files(QStringLiteral("new")).isEmpty());
        QVERIFY2(store.only().endsWith(QStringLiteral(":2,FS")),
                 qPrintable(store.files().join(u' ')));
    }

    void emailInNewStaysNew()
    {
        Store store;
        store.add(QStringLiteral("new/1.M1.host"), twoAttachments);
        auto item = store.firstInInbox();
        item->attachments()->item(2)->remove();
        item->save();
        QVERIFY(store.files().isEmpty());
        QVERIFY(!store.only(QStringLiteral("new")).contains(QLatin1Char(':')));
    }

    void singlePartAttachmentLeavesAPlainTextNote()
    {
        Store store;
        store.add(QStringLiteral("cur/1.a:2,S"), singlePartPdf());
        auto item = store.firstInInbox();
        item->attachments()->item(1)->remove();
        item->appendToBody(QStringLiteral("\r\nAttached file scan.pdf deleted (not saved)\r\n"));
        item->save();
        auto reread = store.firstInInbox();
        QCOMPARE(reread->attachments()->count(), 0);
        QCOMPARE(reread->body().trimmed(),
                 QStringLiteral("Attached file scan.pdf deleted (not saved)"));
    }

    void savedAttachmentOfASinglePartEmailGetsATextPart()
    {
        Store store;
        store.add(QStringLiteral("cur/1.a:2,S"), singlePartPdf());
        auto item = store.firstInInbox();
        item->appendToBody(
            QStringLiteral("\r\nAttached file scan.pdf copied to file:///s.pdf\r\n"));
        item->save();
        auto reread = store.firstInInbox();
        QCOMPARE(reread->attachments()->count(), 1);
        QCOMPARE(reread->attachments()->item(1)->filename(), QStringLiteral("scan.pdf"));
        QVERIFY(reread->body().contains(QStringLiteral("copied to file:///s.pdf")));
        QVERIFY(readFile(store.only()).contains(pdfBase64));
    }

    void signedEmailsAreNeverRewritten()
    {
        Store store;
        const QByteArray signedEmail =
            "From: a@b\nSubject: signed\nContent-Type: multipart/signed; boundary=s; "
            "protocol=\"application/pgp-signature\"\n\n"
            "--s\nContent-Type: multipart/mixed; boundary=m\n\n--m\nContent-Type: "
            "text/plain\n\nhi\n--m\n"
            "Content-Type: application/pdf; name=\"a.pdf\"\nContent-Transfer-Encoding: base64\n\n" +
            pdfBase64 + "--m--\n--s\nContent-Type: application/pgp-signature\n\nsig\n--s--\n";
        const QString path = store.add(QStringLiteral("cur/1.a:2,S"), signedEmail);
        auto item = store.firstInInbox();
        const QString saved = store.dir.path() + QStringLiteral("/a.pdf");
        item->attachments()->item(1)->saveAsFile(saved); // saving is fine
        QCOMPARE(readFile(saved), QByteArray::fromBase64(pdfBase64));
        QVERIFY_THROWS_EXCEPTION(qb::MailStoreError, item->attachments()->item(1)->remove());
        QVERIFY_THROWS_EXCEPTION(qb::MailStoreError, item->appendToBody(QStringLiteral("x")));
        item->save();
        QCOMPARE(readFile(path), signedEmail);
    }

    void emailWithoutTextGetsOne()
    {
        Store store;
        store.add(QStringLiteral("cur/1.a:2,S"),
                  "Subject: only files\nContent-Type: multipart/mixed; boundary=b\n\n"
                  "--b\nContent-Type: application/zip; name=\"a.zip\"\n\nPK\n--b--\n");
        auto item = store.firstInInbox();
        item->appendToBody(QStringLiteral("\r\nAttached file a.zip copied to file:///a.zip\r\n"));
        item->save();
        auto reread = store.firstInInbox();
        QCOMPARE(reread->attachments()->count(), 1);
        QCOMPARE(reread->body().trimmed(),
                 QStringLiteral("Attached file a.zip copied to file:///a.zip"));
    }

    void interruptedReplacementsAreFinished()
    {
        Store store;
        const QString sibling = store.dir.path() + QStringLiteral("/M2");
        const QString siblingEmail = writeFile(sibling + QStringLiteral("/cur/x.host:2,"), "keep");
        // A dead session recorded four replacements: one whose new file was in place, one
        // that never got there, one whose old file went before the new one was moved in,
        // and one that names a folder outside the store.
        const QString old1 = store.add(QStringLiteral("cur/old1.host:2,S"), twoAttachments);
        store.add(QStringLiteral("cur/new1.host:2,S"), twoAttachments);
        const QString old2 = store.add(QStringLiteral("cur/old2.host:2,"), twoAttachments);
        store.add(QStringLiteral("tmp/new2.host"), "half");
        store.add(QStringLiteral("tmp/new3.host"), "whole");
        // Another email that happens to share the old unique name is not the one recorded.
        store.add(QStringLiteral("new/old1.host"), "unrelated");
        const QByteArray lines =
            journalLine(".", "cur/old1.host:2,S", old1, "new1.host", "cur/new1.host:2,S") +
            journalLine(".", "cur/old2.host:2,", old2, "new2.host", "cur/new2.host:2,") +
            journalLine(".", "cur/old3.host:2,S", old2, "new3.host", "cur/new3.host:2,S") +
            journalLine("../M2", "cur/x.host:2,", siblingEmail, "y", "cur/y:2,") +
            "../../etc\tpasswd\tx\n";
        writeFile(store.root + QStringLiteral("/quillbrook-journal-dead"), lines);
        // A live session's journal is left alone.
        const QString live =
            writeFile(store.root + QStringLiteral("/quillbrook-journal-live"),
                      journalLine(".", "cur/new1.host:2,S", old2, "z", "cur/z:2,"));
        QFile liveFile(live);
        QVERIFY(liveFile.open(QIODevice::ReadOnly));
        QCOMPARE(::flock(liveFile.handle(), LOCK_EX | LOCK_NB), 0);
        QFile::remove(old2 + QStringLiteral("-gone")); // (nothing: old3 never existed)

        auto mapi = store.open();
        QCOMPARE(store.files(), QStringList({"new1.host:2,S", "new3.host:2,S", "old2.host:2,"}));
        QCOMPARE(store.files(QStringLiteral("new")), QStringList({"old1.host"}));
        QVERIFY(store.files(QStringLiteral("tmp")).isEmpty());
        QCOMPARE(readFile(siblingEmail), QByteArray("keep"));
        QVERIFY(!QFile::exists(store.root + QStringLiteral("/quillbrook-journal-dead")));
        QVERIFY(QFile::exists(live));
    }

    void unreadableResultIsNotPutInPlace()
    {
        Store store;
        // A part whose boundary never closes reads differently once written out whole.
        const QByteArray broken =
            "Subject: broken\nContent-Type: multipart/mixed; boundary=\"x\"\n\n--x\n"
            "Content-Type: application/pdf; name=\"a.pdf\"\n\nJVBER\n--x\n"
            "Content-Type: multipart/mixed; boundary=\"x\"\n\n--x\nContent-Type: image/png; "
            "name=\"b.png\"\n\nPNG";
        const QString path = store.add(QStringLiteral("cur/1.a:2,S"), broken);
        auto item = store.firstInInbox();
        const int before = item->attachments()->count();
        try {
            item->attachments()->item(1)->remove();
            item->save();
        } catch (const qb::MailStoreError &) {
            QCOMPARE(readFile(path), broken); // refused: the original stays
            return;
        }
        // Accepted: then the new file reads back with one attachment fewer.
        auto reread = store.firstInInbox();
        QCOMPARE(reread->attachments()->count(), before - 1);
    }
};

QTEST_GUILESS_MAIN(TestMaildirWrite)
#include "test_maildir_write.moc"
