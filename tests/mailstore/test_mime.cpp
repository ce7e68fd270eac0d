#include "mailstore/mime/HeaderText.h"
#include "mailstore/mime/MimeParameter.h"
#include "mailstore/mime/ParsedEmail.h"
#include "mailstore/mime/SenderName.h"

#include <QTest>

namespace {

QStringList attachmentNames(const QByteArray &message)
{
    QStringList names;
    const mime::ParsedEmail email(message);
    for (const auto &part : email.attachments())
        names << part.filename;
    return names;
}

QByteArray mixed(const QByteArray &parts)
{
    return "From: a@example.com\nSubject: test\nMIME-Version: 1.0\n"
           "Content-Type: multipart/mixed; boundary=\"b1\"\n\n"
           "--b1\nContent-Type: text/plain\n\nHello\n" +
           parts + "--b1--\n";
}

} // namespace

class TestMime : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { g_mime_init(); }
    void cleanupTestCase() { g_mime_shutdown(); }

    void headerText_data()
    {
        QTest::addColumn<QByteArray>("raw");
        QTest::addColumn<QString>("text");
        QTest::newRow("plain") << QByteArray("Quarterly report") << "Quarterly report";
        QTest::newRow("folded") << QByteArray("a long\r\n subject") << "a long subject";
        QTest::newRow("Q word") << QByteArray("=?iso-8859-1?Q?caf=E9_au_lait?=") << "café au lait";
        QTest::newRow("B word") << QByteArray("=?UTF-8?B?w6l0w6k=?=") << "été";
        QTest::newRow("padded B word then another")
            << QByteArray("=?UTF-8?B?SGVsbG8=?= =?UTF-8?B?IHdvcmxk?=") << "Hello world";
        QTest::newRow("character split across words")
            << QByteArray("=?UTF-8?B?ww==?=\r\n =?UTF-8?B?qQ==?=") << "é";
        QTest::newRow("text around words")
            << QByteArray("Re: =?utf-8?q?caf=C3=A9?= menu") << "Re: café menu";
        QTest::newRow("space between word and text kept")
            << QByteArray("=?utf-8?q?a?= b =?utf-8?q?c?=") << "a b c";
        QTest::newRow("different charsets")
            << QByteArray("=?iso-8859-1?q?=E9?= =?utf-8?q?=C3=A9?=") << "éé";
        QTest::newRow("windows-1252 euro") << QByteArray("=?windows-1252?Q?=80?=") << "€";
        QTest::newRow("language suffix") << QByteArray("=?UTF-8*en?Q?hi?=") << "hi";
        QTest::newRow("lower-case encoding") << QByteArray("=?utf-8?b?w6k=?=") << "é";
        QTest::newRow("raw UTF-8") << QByteArray("Caf\xC3\xA9") << "Café";
        QTest::newRow("raw 8-bit is windows-1252") << QByteArray("Caf\xE9 \x80") << "Café €";
        QTest::newRow("unknown charset falls back")
            << QByteArray("=?x-bogus?Q?caf=C3=A9?=") << "café";
        QTest::newRow("not an encoding") << QByteArray("=?utf-8?X?abc?=") << "=?utf-8?X?abc?=";
        QTest::newRow("unterminated word") << QByteArray("=?utf-8?q?abc") << "=?utf-8?q?abc";
        QTest::newRow("empty") << QByteArray() << "";
    }
    void headerText()
    {
        QFETCH(QByteArray, raw);
        QFETCH(QString, text);
        QCOMPARE(mime::decodeHeaderText(raw), text);
    }

    void senderName_data()
    {
        QTest::addColumn<QByteArray>("from");
        QTest::addColumn<QString>("name");
        QTest::newRow("name and address")
            << QByteArray("Alice Martin <alice@example.com>") << "Alice Martin";
        QTest::newRow("quoted with comma")
            << QByteArray("\"Doe, John\" <j@example.net>") << "Doe, John";
        QTest::newRow("unquoted comma") << QByteArray("Doe, John <j@example.net>") << "Doe, John";
        QTest::newRow("quoted escapes") << QByteArray("\"O\\\"Neil\" <b@example.org>") << "O\"Neil";
        QTest::newRow("encoded name")
            << QByteArray("=?UTF-8?Q?J=C3=BCrgen_M=C3=BCller?= <j@example.de>") << "Jürgen Müller";
        QTest::newRow("split encoded name")
            << QByteArray("=?UTF-8?B?SGVsbG8=?= =?UTF-8?B?IHdvcmxk?= <h@w>") << "Hello world";
        QTest::newRow("bare address") << QByteArray("noreply@example.com") << "noreply@example.com";
        QTest::newRow("angle address only")
            << QByteArray("<noreply@example.com>") << "noreply@example.com";
        QTest::newRow("empty quoted name") << QByteArray("\"\" <x@example.com>") << "x@example.com";
        QTest::newRow("first of several") << QByteArray("a@x.org, Bob <b@x.org>") << "a@x.org";
        QTest::newRow("group") << QByteArray("Team: a@x.org, b@x.org;") << "a@x.org";
        QTest::newRow("comment") << QByteArray("a@x.org (Alice)") << "a@x.org";
        QTest::newRow("folded") << QByteArray("Alice\r\n Martin <a@x.org>") << "Alice Martin";
        QTest::newRow("empty") << QByteArray() << "";
        QTest::newRow("unterminated quote")
            << QByteArray("\"unterminated <a@b>") << "unterminated <a@b>";
    }
    void senderName()
    {
        QFETCH(QByteArray, from);
        QFETCH(QString, name);
        QCOMPARE(mime::senderName(from), name);
    }

    void parameterValue()
    {
        const QByteArray header = "attachment;\n filename=\"a; b.pdf\"; size=12; name=x.txt";
        QCOMPARE(mime::parameterValue(header, "filename"), QByteArray("a; b.pdf"));
        QCOMPARE(mime::parameterValue(header, "name"), QByteArray("x.txt"));
        QCOMPARE(mime::parameterValue(header, "size"), QByteArray("12"));
        QVERIFY(mime::parameterValue(header, "missing").isNull());
        QVERIFY(mime::parameterValue("text/plain; name=\"\"", "name").isEmpty());
    }

    void attachments_data()
    {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<QStringList>("names");
        QTest::newRow("text only") << QByteArray("Subject: hi\n\nJust text\n") << QStringList();
        QTest::newRow("named file")
            << mixed("--b1\nContent-Type: application/pdf; name=\"r.pdf\"\n\nx\n")
            << QStringList{"r.pdf"};
        QTest::newRow("disposition name wins")
            << mixed("--b1\nContent-Type: application/pdf; name=\"type.pdf\"\n"
                     "Content-Disposition: attachment; filename=\"disp.pdf\"\n\nx\n")
            << QStringList{"disp.pdf"};
        QTest::newRow("named text file")
            << mixed("--b1\nContent-Type: text/plain; name=\"notes.txt\"\n\nx\n")
            << QStringList{"notes.txt"};
        QTest::newRow("text marked attachment")
            << mixed("--b1\nContent-Type: text/html\nContent-Disposition: attachment\n\n<p>\n")
            << QStringList{"ATT00001.html"};
        QTest::newRow("inline html is body")
            << mixed("--b1\nContent-Type: text/html\n\n<p>x</p>\n") << QStringList();
        QTest::newRow("unnamed image numbered by position")
            << mixed("--b1\nContent-Type: application/pdf; name=\"a.pdf\"\n\nx\n"
                     "--b1\nContent-Type: image/png\n\nx\n")
            << QStringList{"a.pdf", "ATT00002.png"};
        QTest::newRow("unknown type")
            << mixed("--b1\nContent-Type: application/x-qb-unknown\n\nx\n")
            << QStringList{"ATT00001.bin"};
        QTest::newRow("rfc 2231 continuation")
            << mixed("--b1\nContent-Type: application/pdf\nContent-Disposition: attachment;\n"
                     " filename*0*=UTF-8''R%C3%A9sum;\n filename*1*=%C3%A9.pdf\n\nx\n")
            << QStringList{"Résumé.pdf"};
        QTest::newRow("encoded words in name")
            << mixed("--b1\nContent-Type: application/pdf;\n"
                     " name=\"=?UTF-8?B?SGVsbG8=?= =?UTF-8?B?IHdvcmxk?=.pdf\"\n\nx\n")
            << QStringList{"Hello world.pdf"};
        QTest::newRow("forwarded email named after subject, not descended")
            << mixed("--b1\nContent-Type: message/rfc822\n\nSubject: =?utf-8?q?Caf=C3=A9?=\n"
                     "Content-Type: multipart/mixed; boundary=\"b2\"\n\n--b2\n"
                     "Content-Type: application/pdf; name=\"inner.pdf\"\n\nx\n--b2--\n")
            << QStringList{"Café.eml"};
        QTest::newRow("named forwarded email")
            << mixed("--b1\nContent-Type: message/rfc822; name=\"fwd.eml\"\n\nSubject: s\n\nbody\n")
            << QStringList{"fwd.eml"};
        QTest::newRow("signature left out")
            << QByteArray("Content-Type: multipart/signed; boundary=\"s\"; "
                          "protocol=\"application/pgp-signature\"\n\n"
                          "--s\nContent-Type: application/pdf; name=\"a.pdf\"\n\nx\n"
                          "--s\nContent-Type: application/pgp-signature; "
                          "name=\"signature.asc\"\n\nsig\n--s--\n")
            << QStringList{"a.pdf"};
        QTest::newRow("single part file")
            << QByteArray("Subject: scan\nContent-Type: application/pdf; name=\"scan.pdf\"\n\nx\n")
            << QStringList{"scan.pdf"};
        QTest::newRow("nested multiparts depth first")
            << mixed("--b1\nContent-Type: multipart/related; boundary=\"b3\"\n\n"
                     "--b3\nContent-Type: image/gif; name=\"1.gif\"\n\nx\n--b3--\n"
                     "--b1\nContent-Type: application/zip; name=\"2.zip\"\n\nx\n")
            << QStringList{"1.gif", "2.zip"};
        QTest::newRow("unclosed boundary")
            << QByteArray("Content-Type: multipart/mixed; boundary=\"x\"\n\n--x\n"
                          "Content-Type: application/pdf; name=\"cut.pdf\"\n\nJVBER")
            << QStringList{"cut.pdf"};
        // A Content-Type that names no valid type is text/plain; a name is a name.
        QTest::newRow("empty type is text")
            << QByteArray("Subject: hi\nContent-Type:\n\nJust text\n") << QStringList();
        QTest::newRow("type without a subtype is text")
            << mixed("--b1\nContent-Type: pdf\n\nx\n") << QStringList();
        QTest::newRow("name behind a type without a subtype")
            << mixed("--b1\nContent-Type: pdf; name=\"r.pdf\"\n\nx\n") << QStringList{"r.pdf"};
        QTest::newRow("name behind a quoted type")
            << mixed("--b1\nContent-Type: \"application/pdf\"; name=\"q.pdf\"\n\nx\n")
            << QStringList{"q.pdf"};
        QTest::newRow("name after a missing semicolon")
            << mixed("--b1\nContent-Type: application/pdf name=\"m.pdf\"\n\nx\n")
            << QStringList{"m.pdf"};
        QTest::newRow("rfc 2231 name behind an empty type")
            << mixed("--b1\nContent-Type: ; name*=UTF-8''R%C3%A9sum%C3%A9.pdf\n\nx\n")
            << QStringList{"Résumé.pdf"};
        QTest::newRow("filename after a missing semicolon")
            << mixed("--b1\nContent-Type: application/pdf\n"
                     "Content-Disposition: attachment filename=\"d.pdf\"\n\nx\n")
            << QStringList{"d.pdf"};
        QTest::newRow("name-like parameters are not names")
            << mixed("--b1\nContent-Type: image/png; filename=x; x-name=y\n\nx\n")
            << QStringList{"ATT00001.png"};
        QTest::newRow("empty") << QByteArray() << QStringList();
        QTest::newRow("binary junk") << QByteArray(2048, '\0') << QStringList();
    }
    void attachments()
    {
        QFETCH(QByteArray, message);
        QFETCH(QStringList, names);
        QCOMPARE(attachmentNames(message), names);
    }

    void bodyAndHeaders()
    {
        const auto email = mime::ParsedEmail(
            "From: =?UTF-8?Q?Zo=C3=AB?= <z@example.fr>\nSubject: =?UTF-8?B?SGVsbG8=?= "
            "=?UTF-8?B?IHdvcmxk?=\nMIME-Version: 1.0\nContent-Type: multipart/alternative; "
            "boundary=a\n\n"
            "--a\nContent-Type: text/plain; charset=windows-1252\nContent-Transfer-Encoding: "
            "quoted-printable\n\nCaf=E9 =80\n--a\nContent-Type: text/html\n\n<p>x</p>\n--a--\n");
        QCOMPARE(email.subject(), QStringLiteral("Hello world"));
        QCOMPARE(email.senderName(), QStringLiteral("Zoë"));
        QCOMPARE(email.body().trimmed(), QStringLiteral("Café €"));
    }

    void htmlBodyWhenNoPlainText()
    {
        const auto email = mime::ParsedEmail(
            "Subject: x\nContent-Type: text/html; charset=utf-8\n\n<p>caf\xC3\xA9</p>\n");
        QCOMPARE(email.body().trimmed(), QStringLiteral("<p>café</p>"));
    }
};

QTEST_GUILESS_MAIN(TestMime)
#include "test_mime.moc"
