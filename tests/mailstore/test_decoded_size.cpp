#include "mailstore/maildir/SummaryReading.h"
#include "mailstore/mime/DecodedSize.h"
#include "mailstore/mime/ParsedEmail.h"

#include <QRandomGenerator>
#include <QTest>

using mime::Transfer;

namespace {

QByteArray randomBytes(qsizetype size, quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char &byte : bytes)
        byte = char(random.bounded(256));
    return bytes;
}

// Base64 of data in lines of lineLength characters (0: one line) joined by lineBreak, with
// lineBreak after the last line too when trailing is set.
QByteArray base64Lines(const QByteArray &data, qsizetype lineLength, const QByteArray &lineBreak,
                       bool trailing)
{
    const QByteArray text = data.toBase64();
    if (lineLength == 0)
        return trailing ? text + lineBreak : text;
    QByteArrayList lines;
    for (qsizetype at = 0; at < text.size(); at += lineLength)
        lines << text.mid(at, lineLength);
    QByteArray joined = lines.join(lineBreak);
    return trailing && !joined.isEmpty() ? joined + lineBreak : joined;
}

// Text as mail carries it: words, blanks at line ends, "=" signs, accented and binary
// bytes, lines longer than quoted-printable allows, LF and CRLF line breaks.
QByteArray mailText(qsizetype size, quint32 seed)
{
    static const QByteArrayList pieces = {"word ", "Grüße ",   "a=b ",         "  \n", "\t\r\n",
                                          "\n",    "caf\xe9 ", "\x01\x7f\xff", "=",    " "};
    QRandomGenerator random(seed);
    QByteArray text;
    while (text.size() < size) {
        if (random.bounded(10) == 0)
            text += QByteArray(random.bounded(200), 'x');
        text += pieces.at(random.bounded(pieces.size()));
    }
    return text.left(size);
}

qint64 truth(QByteArrayView encoded, Transfer transfer)
{
    return mime::decoded(encoded, transfer).size();
}

const QList<qsizetype> &contentSizes()
{
    // Every padding (size % 3), a line's worth (57 bytes) and one either side, larger ones.
    static const QList<qsizetype> sizes = [] {
        QList<qsizetype> made;
        for (qsizetype n = 0; n <= 240; ++n)
            made << n;
        made << 1000 << 4095 << 4096 << 4097 << 65535 << 65536 << 65537 << 1'000'003;
        return made;
    }();
    return sizes;
}

} // namespace

class TestDecodedSize : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { g_mime_init(); }
    void cleanupTestCase() { g_mime_shutdown(); }

    // From the encoded body, base64 is exact however it is laid out: 76-character lines
    // with CR LF or LF, other lengths, one long line, paddings of none, one and two.
    void base64BodyIsExact()
    {
        const struct
        {
            qsizetype lineLength;
            QByteArray lineBreak;
        } layouts[] = {{76, "\r\n"}, {76, "\n"}, {64, "\r\n"}, {72, "\n"}, {0, ""}};
        for (const qsizetype size : contentSizes()) {
            const QByteArray data = randomBytes(size, quint32(size));
            for (const auto &layout : layouts) {
                for (const bool trailing : {false, true}) {
                    const QByteArray body =
                        base64Lines(data, layout.lineLength, layout.lineBreak, trailing);
                    QCOMPARE(truth(body, Transfer::Base64), size);
                    QCOMPARE(mime::decodedSizeOf(body, Transfer::Base64), size);
                }
            }
        }
    }

    // Damage is counted as the decoder reads it: characters outside the alphabet are
    // skipped, the text ends at its padding, a cut-off last group gives what it holds.
    void base64OddBodiesFollowTheDecoder_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("stray characters") << QByteArray("YW*Jj\tZA !==");
        QTest::newRow("text after padding") << QByteArray("YWJjZA==\r\nYWJj\r\n");
        QTest::newRow("one padding of two") << QByteArray("YWJjZA=");
        QTest::newRow("cut after five") << QByteArray("YWJjZ");
        QTest::newRow("cut after six") << QByteArray("YWJjZA");
        QTest::newRow("cut after seven") << QByteArray("YWJjZGU");
        QTest::newRow("nothing but padding") << QByteArray("====");
        QTest::newRow("empty") << QByteArray();
    }
    void base64OddBodiesFollowTheDecoder()
    {
        QFETCH(QByteArray, body);
        QCOMPARE(mime::decodedSizeOf(body, Transfer::Base64), truth(body, Transfer::Base64));
    }

    // Quoted-printable from its body: "=XX" is one byte, a soft line break none; exact for
    // what an encoder writes and for what careless senders write. (The encoder's round trip
    // is not exact, CR LF turning the text's own line breaks into CR LF: what counts is the
    // decoder's reading of the body.)
    void quotedPrintableBodyIsExact()
    {
        for (const qsizetype size : {0, 1, 75, 76, 77, 1000, 65537, 300'001}) {
            const QByteArray text = mailText(size, quint32(size) + 7);
            for (const QByteArray &lineBreak : {QByteArray("\r\n"), QByteArray("\n")}) {
                const QByteArray body = mime::encoded(text, Transfer::QuotedPrintable, lineBreak);
                QVERIFY(size < 1000 || body.contains("=\n") || body.contains("=\r\n"));
                QCOMPARE(mime::decodedSizeOf(body, Transfer::QuotedPrintable),
                         truth(body, Transfer::QuotedPrintable));
            }
        }
    }
    void quotedPrintableOddBodies_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<qint64>("size");
        QTest::newRow("escapes either case") << QByteArray("a=3Db=3dc=C3=A9") << qint64(7);
        QTest::newRow("soft breaks LF and CRLF") << QByteArray("ab=\ncd=\r\nef") << qint64(6);
        QTest::newRow("hard breaks kept") << QByteArray("ab\r\ncd\nef  \n") << qint64(12);
        QTest::newRow("not an escape") << QByteArray("a=zzb") << qint64(5);
        QTest::newRow("blank after =") << QByteArray("ab= \ncd") << qint64(7);
        QTest::newRow("= before an escape") << QByteArray("a==41b") << qint64(6);
        QTest::newRow("half an escape at the end") << QByteArray("abcd=4") << qint64(4);
        QTest::newRow("= at the end") << QByteArray("abcd=") << qint64(4);
        QTest::newRow("soft break at the end") << QByteArray("abcd=\n") << qint64(4);
        QTest::newRow("lone CR after =") << QByteArray("a=\rXb") << qint64(5);
        QTest::newRow("empty") << QByteArray() << qint64(0);
    }
    void quotedPrintableOddBodies()
    {
        QFETCH(QByteArray, body);
        QFETCH(qint64, size);
        QCOMPARE(truth(body, Transfer::QuotedPrintable), size);
        QCOMPARE(mime::decodedSizeOf(body, Transfer::QuotedPrintable), size);
    }

    // 7bit, 8bit, binary and unknown encodings are their bytes; uuencode is never less.
    void otherEncodings()
    {
        const QByteArray body = mailText(5000, 3);
        QCOMPARE(mime::decodedSizeOf(body, Transfer::Identity), body.size());
        QCOMPARE(mime::decodedSizeOf(body, Transfer::Unknown), body.size());
        const QByteArray uuencoded = "begin 644 a.txt\n#86)C\n`\nend\n";
        QVERIFY(truth(uuencoded, Transfer::UUEncode) > 0);
        QVERIFY(mime::decodedSizeOf(uuencoded, Transfer::UUEncode) >=
                truth(uuencoded, Transfer::UUEncode));
    }

    // From the octet count alone (a server's structure), base64 in 76-character lines with
    // CR LF is within one byte, with or without a line break at its end; quoted-printable
    // and identity are never less than the truth.
    void base64FromOctetsWithinOneByte()
    {
        qint64 worst = 0;
        const auto check = [&](qint64 size, qint64 octets) {
            const qint64 error = mime::decodedSizeFromOctets(octets, Transfer::Base64) - size;
            worst = std::max(worst, std::abs(error));
            QVERIFY2(
                std::abs(error) <= 1,
                qPrintable(
                    QStringLiteral("%1 bytes in %2 octets: %3").arg(size).arg(octets).arg(error)));
        };
        for (qint64 size = 0; size <= 20'000; ++size) {
            // The characters and CR LF between 76-character lines, counted without encoding.
            const qint64 characters = (size + 2) / 3 * 4;
            const qint64 breaks = characters == 0 ? 0 : (characters - 1) / 76;
            check(size, characters + 2 * breaks);
            if (characters > 0)
                check(size, characters + 2 * breaks + 2);
        }
        for (const qsizetype size : contentSizes()) {
            const QByteArray data = randomBytes(size, 99);
            for (const bool trailing : {false, true}) {
                const QByteArray body = base64Lines(data, 76, "\r\n", trailing);
                QCOMPARE(truth(body, Transfer::Base64), size);
                check(size, body.size());
            }
        }
        qInfo("base64 from octets, 76-character CRLF lines: worst error %lld byte(s)", worst);
    }
    // Other layouts stay within the documented share of the size.
    void base64FromOctetsOtherLayouts()
    {
        const struct
        {
            qsizetype lineLength;
            double bound; // of the size
        } layouts[] = {{64, 0.006}, {72, 0.003}, {0, 0.027}};
        for (const auto &layout : layouts) {
            double worst = 0;
            for (const qsizetype size : {4096, 65536, 1'000'003}) {
                const QByteArray body =
                    base64Lines(randomBytes(size, 5), layout.lineLength, "\r\n", false);
                const double error =
                    double(mime::decodedSizeFromOctets(body.size(), Transfer::Base64) - size) /
                    double(size);
                worst = std::max(worst, std::abs(error));
                QVERIFY2(std::abs(error) <= layout.bound, qPrintable(QString::number(error)));
            }
            qInfo("base64 from octets, %lld-character lines: worst error %.2f %%",
                  qint64(layout.lineLength), worst * 100);
        }
    }
    void otherEncodingsFromOctets()
    {
        const QByteArray text = mailText(50'000, 8);
        const QByteArray quoted = mime::encoded(text, Transfer::QuotedPrintable, "\r\n");
        const qint64 estimate =
            mime::decodedSizeFromOctets(quoted.size(), Transfer::QuotedPrintable);
        QVERIFY(estimate >= text.size());
        qInfo("quoted-printable from octets: %lld for %lld bytes (+%.1f %%)", estimate,
              qint64(text.size()), 100.0 * double(estimate - text.size()) / double(text.size()));
        QCOMPARE(mime::decodedSizeFromOctets(text.size(), Transfer::Identity), text.size());
        QCOMPARE(mime::decodedSizeFromOctets(0, Transfer::Base64), 0);
        QCOMPARE(mime::decodedSizeFromOctets(-5, Transfer::Identity), 0);
    }

    // An email as mail programs write it: each attachment's size in its summary is what
    // saving it writes (its decoded content), an attached email's its body bytes.
    void summaryGivesEachAttachmentsDecodedSize()
    {
        const QByteArray pdf = randomBytes(123'457, 17);
        const QByteArray notes = mailText(9000, 4);
        const QByteArray quotedNotes = mime::encoded(notes, Transfer::QuotedPrintable, "\r\n");
        const QByteArray forwarded = "From: b@example.com\r\nSubject: inner\r\n\r\nInner text\r\n";
        const QByteArray email =
            "From: a@example.com\r\nSubject: parts\r\nMIME-Version: 1.0\r\n"
            "Content-Type: multipart/mixed; boundary=\"b1\"\r\n\r\n"
            "--b1\r\nContent-Type: text/plain\r\n\r\nHello\r\n"
            "--b1\r\nContent-Type: application/pdf; name=\"report.pdf\"\r\n"
            "Content-Transfer-Encoding: base64\r\n"
            "Content-Disposition: attachment; filename=\"report.pdf\"\r\n\r\n" +
            base64Lines(pdf, 76, "\r\n", true) +
            "--b1\r\nContent-Type: text/plain; name=\"notes.txt\"\r\n"
            "Content-Transfer-Encoding: quoted-printable\r\n"
            "Content-Disposition: attachment\r\n\r\n" +
            quotedNotes +
            "\r\n--b1\r\nContent-Type: application/octet-stream; name=\"raw.bin\"\r\n"
            "Content-Transfer-Encoding: 8bit\r\n\r\nab\xff\xfe\r\n"
            "--b1\r\nContent-Type: message/rfc822\r\n\r\n" +
            forwarded + "\r\n--b1--\r\n";
        const mime::ParsedEmail parsed(email);
        const mailstore::EmailSummary summary = maildir::summaryOf(parsed, {});
        QCOMPARE(summary.attachmentNames,
                 QStringList({"report.pdf", "notes.txt", "raw.bin", "inner.eml"}));
        QList<qint64> saved;
        for (const mime::AttachmentPart &part : parsed.attachments())
            saved << parsed.decodedContent(part.node).size();
        QCOMPARE(saved, QList<qint64>({pdf.size(), truth(quotedNotes, Transfer::QuotedPrintable), 4,
                                       forwarded.size()}));
        QCOMPARE(summary.attachmentSizes, saved);
    }
};

QTEST_GUILESS_MAIN(TestDecodedSize)
#include "test_decoded_size.moc"
