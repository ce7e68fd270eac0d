// The IMAP layer's pure parts: the response parser on pieces and on hostile input, mailbox
// names in modified UTF-7, body structures and envelopes, and the command builder.

#include "imap/BodyStructure.h"
#include "imap/Command.h"
#include "imap/ImapError.h"
#include "imap/ModifiedUtf7.h"
#include "imap/ResponseParser.h"

#include <QRandomGenerator>
#include <QTest>

using namespace imap;

namespace {

// A response as one line of text, every field shown, so two parses compare as strings.
QByteArray describe(const Value &value)
{
    switch (value.kind) {
    case Value::Kind::Nil:
        return "NIL";
    case Value::Kind::Atom:
        return value.text;
    case Value::Kind::String:
        return '"' + value.text + '"';
    case Value::Kind::List: {
        QByteArrayList items;
        for (const Value &item : value.list)
            items << describe(item);
        return '(' + items.join(' ') + ')';
    }
    }
    return {};
}

QByteArray describe(const Response &response)
{
    static const char *types[] = {"untagged", "tagged", "continuation"};
    QByteArray text = types[int(response.type)];
    text += '|' + response.tag + '|' + QByteArray::number(response.number) + '|' + response.name;
    for (const Value &value : response.values)
        text += ' ' + describe(value);
    text += '|' + response.code;
    for (const Value &value : response.codeArgs)
        text += ' ' + describe(value);
    return text + '|' + response.text;
}

QByteArrayList parseAll(const QList<QByteArray> &pieces)
{
    ResponseParser parser;
    QByteArrayList out;
    for (const QByteArray &piece : pieces) {
        parser.feed(piece);
        while (auto response = parser.next())
            out << describe(*response);
    }
    return out;
}

// Whether feeding these bytes, in one piece, fails with a ConnectionError.
QString protocolErrorOf(const QByteArray &bytes, ResponseParser::Limits limits = {})
{
    ResponseParser parser(limits);
    try {
        parser.feed(bytes);
        while (parser.next()) {
        }
    } catch (const ConnectionError &error) {
        return error.message();
    }
    return {};
}

Value fetchedValue(const QByteArray &fetchLine, QByteArrayView item)
{
    const Response response = ResponseParser::parse(fetchLine);
    const Value *value = fetchItem(response, item);
    if (!value)
        throw std::runtime_error("item not in the FETCH response");
    return *value;
}

BodyPart structureOf(const QByteArray &bodystructure)
{
    return parseBodyStructure(
        fetchedValue("* 1 FETCH (UID 5 BODYSTRUCTURE " + bodystructure + ")", "BODYSTRUCTURE"));
}

// "section type/subtype" for every part, depth first.
QStringList outline(const BodyPart &part)
{
    QStringList lines{QStringLiteral("%1 %2/%3")
                          .arg(QString::fromLatin1(part.section), QString::fromLatin1(part.type),
                               QString::fromLatin1(part.subtype))};
    for (const BodyPart &child : part.children)
        lines += outline(child);
    return lines;
}

} // namespace

class TestImapProtocol : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void fetchItems();
    void parserGrammar_data();
    void parserGrammar();
    void parserPieces();
    void parserHostileInput_data();
    void parserHostileInput();
    void parserLimits();
    void parserRandomBytes();
    void mailboxNames_data();
    void mailboxNames();
    void mailboxNamesInvalid_data();
    void mailboxNamesInvalid();
    void bodyStructureNestedMessage();
    void bodyStructureSinglePart();
    void bodyStructureWithoutExtensions();
    void bodyStructureDispositionParameters();
    void bodyStructureMalformed();
    void envelopeFields();
    void commandBuilder();
};

void TestImapProtocol::fetchItems()
{
    const Response fetch = ResponseParser::parse(
        "* 4 FETCH (UID 17 RFC822.SIZE 2048 BODY[1.2]<0> \"abc\" FLAGS (\\Seen)"
        " BODY[HEADER.FIELDS (\"Subject\"  FROM)] {6}\r\nS: x\r\n)");
    QCOMPARE(fetch.number, 4);
    QCOMPARE(fetchItem(fetch, "uid")->number(), 17);
    QCOMPARE(fetchItem(fetch, "RFC822.SIZE")->number(), 2048);
    QCOMPARE(fetchItem(fetch, "BODY[1.2]<0>")->text, QByteArray("abc"));
    QVERIFY(!fetchItem(fetch, "BODY[1.2]"));
    QCOMPARE(fetchItem(fetch, "FLAGS")->list.at(0).text, QByteArray("\\Seen"));
    QCOMPARE(fetchItem(fetch, "BODY[HEADER.FIELDS (SUBJECT FROM)]")->text, QByteArray("S: x\r\n"));
    QVERIFY(!fetchItem(fetch, "BODY[HEADER.FIELDS (SUBJECT)]"));
    QVERIFY(!fetchItem(fetch, "ENVELOPE"));
    QVERIFY(!fetchItem(ResponseParser::parse("* 3 EXISTS"), "UID"));

    const Response modseq = ResponseParser::parse(
        "* OK [HIGHESTMODSEQ 9223372036854775807] (MODSEQ 9223372036854775808 X 12a -1)");
    bool ok = false;
    QCOMPARE(modseq.codeArgs.at(0).number(&ok), std::numeric_limits<qint64>::max());
    QVERIFY(ok);
    const Response outOfRange =
        ResponseParser::parse("* 1 FETCH (MODSEQ (9223372036854775808) X 12a Y -1 Z \"7\")");
    for (const char *item : {"X", "Y", "Z"}) {
        fetchItem(outOfRange, item)->number(&ok);
        QVERIFY2(!ok, item);
    }
    fetchItem(outOfRange, "MODSEQ")->list.at(0).number(&ok);
    QVERIFY(!ok);
}

void TestImapProtocol::parserGrammar_data()
{
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<QByteArray>("parsed");
    QTest::newRow("exists") << QByteArray("* 23 EXISTS") << QByteArray("untagged||23|EXISTS||");
    QTest::newRow("greeting with capabilities")
        << QByteArray("* OK [CAPABILITY IMAP4rev1 LITERAL+ AUTH=PLAIN] ready")
        << QByteArray("untagged||-1|OK|CAPABILITY IMAP4rev1 LITERAL+ AUTH=PLAIN|ready");
    QTest::newRow("tagged with code")
        << QByteArray("A0003 OK [APPENDUID 38505 3955] APPEND completed")
        << QByteArray("tagged|A0003|-1|OK|APPENDUID 38505 3955|APPEND completed");
    QTest::newRow("tagged no, lower case")
        << QByteArray("A0004 no [trycreate] no such mailbox")
        << QByteArray("tagged|A0004|-1|NO|TRYCREATE|no such mailbox");
    QTest::newRow("code with a list")
        << QByteArray("* OK [PERMANENTFLAGS (\\Deleted \\Seen \\*)] Limited")
        << QByteArray("untagged||-1|OK|PERMANENTFLAGS (\\Deleted \\Seen \\*)|Limited");
    QTest::newRow("code without text")
        << QByteArray("* OK [READ-WRITE]") << QByteArray("untagged||-1|OK|READ-WRITE|");
    QTest::newRow("code of a form not known")
        << QByteArray("* NO [BADURL \"imap://x] nope")
        << QByteArray("untagged||-1|NO|BADURL \"imap://x|nope");
    QTest::newRow("continuation") << QByteArray("+ Ready for literal data")
                                  << QByteArray("continuation||-1|||Ready for literal data");
    QTest::newRow("bare continuation") << QByteArray("+") << QByteArray("continuation||-1|||");
    QTest::newRow("list")
        << QByteArray("* LIST (\\HasNoChildren \\Sent) \"/\" \"Sent Items\"")
        << QByteArray("untagged||-1|LIST (\\HasNoChildren \\Sent) \"/\" \"Sent Items\"||");
    QTest::newRow("list with NIL delimiter and atom name")
        << QByteArray("* LIST () nil INBOX") << QByteArray("untagged||-1|LIST () NIL INBOX||");
    QTest::newRow("quoted escapes") << QByteArray("* LIST () \"/\" \"a \\\"b\\\" \\\\ c\"")
                                    << QByteArray("untagged||-1|LIST () \"/\" \"a \"b\" \\ c\"||");
    QTest::newRow("fetch with sections")
        << QByteArray("* 12 FETCH (UID 7 BODY[1.2]<0> \"x\" BODY[HEADER.FIELDS (FROM \"TO\")] NIL)")
        << QByteArray("untagged||12|FETCH (UID 7 BODY[1.2]<0> \"x\" BODY[HEADER.FIELDS (FROM "
                      "\"TO\")] NIL)||");
    QTest::newRow("literal") << QByteArray("* 1 FETCH (BODY[] {5}\r\na\r\nb) FLAGS ())")
                             << QByteArray("untagged||1|FETCH (BODY[] \"a\r\nb)\" FLAGS ())||");
    QTest::newRow("binary literal with NUL")
        << QByteArray("* 1 FETCH (BINARY[1] ~{3}\r\na\0b)", 31)
        << QByteArray("untagged||1|FETCH (BINARY[1] \"a\0b\")||", 37);
    QTest::newRow("empty literal and nested lists")
        << QByteArray("* 2 FETCH (X {0}\r\n Y ((a) (b (c))) Z ())")
        << QByteArray("untagged||2|FETCH (X \"\" Y ((a) (b (c))) Z ())||");
    QTest::newRow("search") << QByteArray("* SEARCH 2 3 6")
                            << QByteArray("untagged||-1|SEARCH 2 3 6||");
    QTest::newRow("bye") << QByteArray("* BYE Autologout; idle too long")
                         << QByteArray("untagged||-1|BYE||Autologout; idle too long");
}

void TestImapProtocol::parserGrammar()
{
    QFETCH(QByteArray, wire);
    QFETCH(QByteArray, parsed);
    QCOMPARE(parseAll({wire + "\r\n"}), QByteArrayList{parsed});
}

void TestImapProtocol::parserPieces()
{
    const QByteArray stream =
        "* 3 FETCH (UID 7 BODY[1.2]<0> {12}\r\nhi\r\n{3}\r\n\"q\" FLAGS (\\Seen))\r\n"
        "* 4 FETCH (BINARY[] ~{4}\r\n\r\n\r\n RFC822.SIZE 99)\r\n"
        "A0001 OK [READ-ONLY] done\r\n";
    const QByteArrayList whole = parseAll({stream});
    QCOMPARE(whole.size(), 3);
    QCOMPARE(whole[0], QByteArray("untagged||3|FETCH (UID 7 BODY[1.2]<0> \"hi\r\n{3}\r\n\"q\"\" "
                                  "FLAGS (\\Seen))||"));
    QCOMPARE(whole[1], QByteArray("untagged||4|FETCH (BINARY[] \"\r\n\r\n\" RFC822.SIZE 99)||"));
    for (qsizetype split = 0; split <= stream.size(); ++split)
        QCOMPARE(parseAll({stream.left(split), stream.mid(split)}), whole);
    QList<QByteArray> bytes;
    for (const char c : stream)
        bytes << QByteArray(1, c);
    QCOMPARE(parseAll(bytes), whole);
}

void TestImapProtocol::parserHostileInput_data()
{
    QTest::addColumn<QByteArray>("wire");
    QTest::newRow("not a response") << QByteArray("hello world\r\n");
    QTest::newRow("unknown tagged status") << QByteArray("A1 MAYBE fine\r\n");
    QTest::newRow("stray parenthesis") << QByteArray("* 1 FETCH )\r\n");
    QTest::newRow("unclosed list") << QByteArray("* 1 FETCH (UID 1\r\n");
    QTest::newRow("unterminated quote") << QByteArray("* LIST () \"/\" \"abc\r\n");
    QTest::newRow("unclosed section") << QByteArray("* 1 FETCH (BODY[1 NIL)\r\n");
    QTest::newRow("huge literal") << QByteArray("* 1 FETCH (BODY[] {99999999999999}\r\n");
    QTest::newRow("literal size of 20 digits")
        << QByteArray("* 1 FETCH (X {12345678901234567890}\r\n");
    QTest::newRow("empty line") << QByteArray("\r\n");
    QTest::newRow("star alone") << QByteArray("*\r\n");
    QTest::newRow("control byte") << QByteArray("* 1 FETCH (\x01)\r\n");
}

void TestImapProtocol::parserHostileInput()
{
    QFETCH(QByteArray, wire);
    QVERIFY(protocolErrorOf(wire).startsWith(QStringLiteral("IMAP protocol error: ")));
}

void TestImapProtocol::parserLimits()
{
    ResponseParser::Limits limits;
    limits.maxLine = 100;
    limits.maxLiteral = 1000;
    limits.maxResponse = 1500;
    limits.maxDepth = 8;

    // A literal announced but not all sent: no response yet, and no failure.
    ResponseParser waiting(limits);
    waiting.feed("* 1 FETCH (BODY[] {10}\r\nabc");
    QVERIFY(!waiting.next());
    QVERIFY(waiting.hasPartialData());

    QVERIFY(protocolErrorOf(QByteArray(101, 'a'), limits).contains(QLatin1String("line longer")));
    QVERIFY(protocolErrorOf("* 1 FETCH (X {1001}\r\n", limits).contains(QLatin1String("literal")));
    QVERIFY(
        protocolErrorOf("* 1 FETCH (X {1000}\r\n" + QByteArray(1000, 'x') + " Y {600}\r\n", limits)
            .contains(QLatin1String("response of more than")));
    QVERIFY(protocolErrorOf("* 1 FETCH (X {1000}\r\n" + QByteArray(1000, 'x') + ")\r\n", limits)
                .isEmpty());

    const auto nested = [](int depth, const QByteArray &name = "1 FETCH") {
        return "* " + name + ' ' + QByteArray(depth, '(') + QByteArray(depth, ')') + "\r\n";
    };
    QVERIFY(protocolErrorOf(nested(8), limits).isEmpty());
    QVERIFY(protocolErrorOf(nested(9, "LIST"), limits).contains(QLatin1String("nested deeper")));
    // The default bound holds against a line of nothing but parentheses.
    QVERIFY(protocolErrorOf(nested(100000, "LIST")).contains(QLatin1String("nested deeper")));

    // One email's FETCH that is too deep or too long is passed over, named by its number,
    // and the stream goes on: in one piece or byte by byte, with literals inside.
    limits.maxFetchLine = 300;
    const QByteArray longFetch = "* 4 FETCH (UID 9 X {3}\r\nabc BODYSTRUCTURE (" +
                                 QByteArray(400, 'x') + " {2+}\r\n\r\n " + QByteArray(400, 'y') +
                                 "))\r\n";
    const QByteArray stream = nested(9, "3 FETCH") + "* 5 FETCH (UID 2 X " + QByteArray(200, 'z') +
                              ")\r\n" + longFetch + "A1 OK done\r\n";
    for (const qsizetype piece : {stream.size(), qsizetype(1)}) {
        ResponseParser parser(limits);
        QStringList seen;
        for (qsizetype at = 0; at < stream.size(); at += piece) {
            parser.feed(QByteArrayView(stream).sliced(at, qMin(piece, stream.size() - at)));
            while (const auto response = parser.next()) {
                seen << QStringLiteral("%1 %2 %3")
                            .arg(response->number)
                            .arg(QString::fromLatin1(response->name))
                            .arg(response->unreadable.isEmpty() ? QStringLiteral("read")
                                                                : QStringLiteral("unread"));
            }
        }
        QCOMPARE(seen,
                 (QStringList{QStringLiteral("3 FETCH unread"), QStringLiteral("5 FETCH read"),
                              QStringLiteral("4 FETCH unread"), QStringLiteral("-1 OK read")}));
        QVERIFY(!parser.hasBufferedData());
    }
    // Longer lines are for FETCH alone.
    QVERIFY(protocolErrorOf("* LIST () \"/\" " + QByteArray(200, 'a') + "\r\n", limits)
                .contains(QLatin1String("line longer")));

    // Once broken, the stream stays broken.
    ResponseParser broken;
    QVERIFY_THROWS_EXCEPTION(ConnectionError, broken.feed(QByteArray(2 << 20, 'a')));
    QVERIFY_THROWS_EXCEPTION(ConnectionError, broken.feed("* OK fine\r\n"));
}

void TestImapProtocol::parserRandomBytes()
{
    // Random bytes in random pieces, and mutations of a valid stream, give responses or a
    // protocol error: nothing else escapes.
    QRandomGenerator random(20261207);
    const QByteArray valid = "* 3 FETCH (UID 7 BODY[1]<0> {4}\r\nab()\r\n X ~{2}\r\n{}"
                             " Y \"q\\\"\" (Z (W)))\r\nA0001 OK [APPENDUID 1 2] done\r\n";
    const QByteArray alphabet = "()[]{}~<>\"\\ *+ANIL0123456789\r\n\x01\xff";
    for (int round = 0; round < 3000; ++round) {
        QByteArray bytes = valid;
        if (round % 2 == 0) {
            for (int i = 0; i < 4; ++i)
                bytes[random.bounded(int(bytes.size()))] =
                    alphabet.at(random.bounded(int(alphabet.size())));
        } else {
            bytes.resize(random.bounded(1, 200));
            for (char &c : bytes)
                c = alphabet.at(random.bounded(int(alphabet.size())));
        }
        ResponseParser parser;
        try {
            qsizetype at = 0;
            while (at < bytes.size()) {
                const int piece = random.bounded(1, 16);
                parser.feed(
                    QByteArrayView(bytes).sliced(at, qMin<qsizetype>(piece, bytes.size() - at)));
                at += piece;
                while (parser.next()) {
                }
            }
        } catch (const ConnectionError &) {
        }
    }
}

void TestImapProtocol::mailboxNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("wire");
    QTest::newRow("ascii") << QStringLiteral("INBOX/Sent Items") << QByteArray("INBOX/Sent Items");
    QTest::newRow("ampersand") << QStringLiteral("A&B") << QByteArray("A&-B");
    QTest::newRow("ampersands only") << QStringLiteral("&&") << QByteArray("&-&-");
    QTest::newRow("umlaut") << QStringLiteral("Entwürfe") << QByteArray("Entw&APw-rfe");
    QTest::newRow("tilde and CJK") << QStringLiteral("~peter/mail/台北/日本語")
                                   << QByteArray("~peter/mail/&U,BTFw-/&ZeVnLIqe-");
    QTest::newRow("slash in base64") << QStringLiteral("\u00ff\u00fe") << QByteArray("&AP8A,g-");
    QTest::newRow("outside the BMP") << QStringLiteral("a\U0001F600b") << QByteArray("a&2D3eAA-b");
    QTest::newRow("control and tab") << QStringLiteral("a\tb") << QByteArray("a&AAk-b");
    QTest::newRow("empty") << QString() << QByteArray();
}

void TestImapProtocol::mailboxNames()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, wire);
    QCOMPARE(encodeMailboxName(name), wire);
    QCOMPARE(decodeMailboxName(wire), name);
}

void TestImapProtocol::mailboxNamesInvalid_data()
{
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<QString>("name");
    QTest::newRow("unterminated") << QByteArray("a&ZeVnLIqe") << QStringLiteral("a&ZeVnLIqe");
    QTest::newRow("bad base64 character") << QByteArray("&Z.V-x") << QStringLiteral("&Z.V-x");
    QTest::newRow("lone high surrogate") << QByteArray("&2D0-") << QStringLiteral("&2D0-");
    QTest::newRow("lone low surrogate") << QByteArray("&3gA-") << QStringLiteral("&3gA-");
    QTest::newRow("half a code unit") << QByteArray("&AP-") << QStringLiteral("&AP-");
    QTest::newRow("raw UTF-8 from the server")
        << QByteArray("Entw\xc3\xbcrfe") << QStringLiteral("Entwürfe");
    QTest::newRow("good after bad") << QByteArray("&!-&APw-") << QStringLiteral("&!-ü");
}

void TestImapProtocol::mailboxNamesInvalid()
{
    QFETCH(QByteArray, wire);
    QFETCH(QString, name);
    QCOMPARE(decodeMailboxName(wire), name);
}

void TestImapProtocol::bodyStructureNestedMessage()
{
    // multipart/mixed: text, a forwarded message with its own alternative, and a PDF.
    const BodyPart root = structureOf(
        "((\"TEXT\" \"PLAIN\" (\"CHARSET\" \"utf-8\") NIL NIL \"7BIT\" 12 1 NIL NIL NIL NIL)"
        "(\"MESSAGE\" \"RFC822\" NIL NIL \"forwarded\" \"7BIT\" 900"
        " (\"Mon, 7 Dec 2026 10:00:00 +0000\" \"Inner\" ((\"Ann\" NIL \"ann\" \"example.org\")) "
        "NIL NIL"
        " NIL NIL NIL NIL \"<inner@example.org>\")"
        " ((\"TEXT\" \"PLAIN\" (\"CHARSET\" \"us-ascii\") NIL NIL \"QUOTED-PRINTABLE\" 20 2 NIL "
        "NIL NIL NIL)"
        "  (\"TEXT\" \"HTML\" (\"CHARSET\" \"us-ascii\") NIL NIL \"BASE64\" 40 1 NIL NIL NIL NIL)"
        "  \"ALTERNATIVE\" (\"BOUNDARY\" \"inner\") NIL NIL NIL)"
        " 30 NIL (\"inline\" NIL) NIL NIL)"
        "(\"APPLICATION\" \"PDF\" (\"NAME\" \"r.pdf\") \"<id1>\" NIL \"BASE64\" 4096 NIL"
        " (\"ATTACHMENT\" (\"FILENAME\" \"r.pdf\")) NIL NIL)"
        " \"MIXED\" (\"BOUNDARY\" \"outer\") NIL NIL NIL)");
    QCOMPARE(outline(root), (QStringList{
                                QStringLiteral(" multipart/mixed"),
                                QStringLiteral("1 text/plain"),
                                QStringLiteral("2 message/rfc822"),
                                QStringLiteral("2 multipart/alternative"),
                                QStringLiteral("2.1 text/plain"),
                                QStringLiteral("2.2 text/html"),
                                QStringLiteral("3 application/pdf"),
                            }));
    QCOMPARE(root.kind, BodyPart::Kind::Multipart);
    QCOMPARE(root.parameter("boundary"), QByteArray("outer"));
    const BodyPart &message = root.children[1];
    QCOMPARE(message.kind, BodyPart::Kind::Message);
    QCOMPARE(message.envelope.subject, QByteArray("Inner"));
    QCOMPARE(message.envelope.from.at(0).mailbox, QByteArray("ann"));
    QCOMPARE(message.disposition, QByteArray("inline"));
    QCOMPARE(message.size, 900);
    QCOMPARE(message.description, QByteArray("forwarded"));
    QCOMPARE(message.children.at(0).children.at(0).encoding, QByteArray("quoted-printable"));
    const BodyPart &pdf = root.children[2];
    QCOMPARE(pdf.disposition, QByteArray("attachment"));
    QCOMPARE(pdf.dispositionParameter("Filename"), QByteArray("r.pdf"));
    QCOMPARE(pdf.id, QByteArray("<id1>"));
    QCOMPARE(pdf.size, 4096);
    QCOMPARE(pdf.encoding, QByteArray("base64"));
    QVERIFY(pdf.dispositionParameter("size").isNull());
}

void TestImapProtocol::bodyStructureSinglePart()
{
    const BodyPart text = structureOf("(\"TEXT\" \"PLAIN\" (\"CHARSET\" \"iso-8859-1\" \"FORMAT\" "
                                      "\"flowed\") NIL NIL \"8BIT\" 2279 48"
                                      " NIL NIL NIL NIL)");
    QCOMPARE(outline(text), QStringList{QStringLiteral("1 text/plain")});
    QCOMPARE(text.parameters.size(), size_t(2));
    QCOMPARE(text.parameters[1], (std::pair<QByteArray, QByteArray>("format", "flowed")));
    QCOMPARE(text.size, 2279);

    // A message that is nothing but a forwarded single-part message: RFC 3501's "1" and "1.1".
    const BodyPart wrapped =
        structureOf("(\"MESSAGE\" \"RFC822\" NIL NIL NIL \"7BIT\" 50 (NIL \"S\" NIL NIL NIL NIL "
                    "NIL NIL NIL NIL)"
                    " (\"APPLICATION\" \"OCTET-STREAM\" NIL NIL NIL \"BASE64\" 8) 3)");
    QCOMPARE(outline(wrapped), (QStringList{QStringLiteral("1 message/rfc822"),
                                            QStringLiteral("1.1 application/octet-stream")}));
}

void TestImapProtocol::bodyStructureWithoutExtensions()
{
    // The non-extensible BODY, and a server that stops after any field of the extension data.
    const BodyPart plain =
        structureOf("((\"TEXT\" \"PLAIN\" NIL NIL NIL \"7BIT\" 3 1)(\"IMAGE\" \"PNG\" (\"NAME\" "
                    "\"a.png\") NIL NIL"
                    " \"BASE64\" 100)(\"APPLICATION\" \"ZIP\" NIL NIL NIL \"BASE64\" 10 NIL)"
                    "(\"APPLICATION\" \"PDF\" NIL NIL NIL \"BASE64\" 10 NIL (\"attachment\" "
                    "(\"filename\" \"x.pdf\")))"
                    "(\"MESSAGE\" \"RFC822\" NIL NIL NIL \"7BIT\" 5) \"MIXED\")");
    QCOMPARE(outline(plain), (QStringList{
                                 QStringLiteral(" multipart/mixed"),
                                 QStringLiteral("1 text/plain"),
                                 QStringLiteral("2 image/png"),
                                 QStringLiteral("3 application/zip"),
                                 QStringLiteral("4 application/pdf"),
                                 QStringLiteral("5 message/rfc822"),
                             }));
    QVERIFY(plain.parameters.empty());
    QCOMPARE(plain.children[1].parameter("name"), QByteArray("a.png"));
    QVERIFY(plain.children[1].disposition.isEmpty());
    QCOMPARE(plain.children[3].dispositionParameter("filename"), QByteArray("x.pdf"));
    // A message/rfc822 without its envelope and body is kept as a plain part.
    QCOMPARE(plain.children[4].kind, BodyPart::Kind::Leaf);
}

void TestImapProtocol::bodyStructureDispositionParameters()
{
    // RFC 2231 names as servers pass them on: continuations and charsets left for the caller.
    const BodyPart part = structureOf(
        "((\"TEXT\" \"PLAIN\" NIL NIL NIL \"7BIT\" 1 1 NIL NIL NIL NIL)"
        "(\"APPLICATION\" \"PDF\" (\"NAME*\" \"utf-8''%E2%82%AC.pdf\") NIL NIL \"BASE64\" 10 NIL"
        " (\"ATTACHMENT\" (\"FILENAME*0*\" \"utf-8''%E2%82%AC%20rate\" \"filename*1\" \".pdf\""
        " \"SIZE\" \"10\")) \"en\" NIL) \"MIXED\" (\"BOUNDARY\" \"b\") (\"INLINE\" NIL) NIL)");
    const BodyPart &pdf = part.children.at(1);
    QCOMPARE(pdf.disposition, QByteArray("attachment"));
    const std::vector<std::pair<QByteArray, QByteArray>> expected{
        {"filename*0*", "utf-8''%E2%82%AC%20rate"}, {"filename*1", ".pdf"}, {"size", "10"}};
    QCOMPARE(pdf.dispositionParameters, expected);
    QCOMPARE(pdf.parameter("NAME*"), QByteArray("utf-8''%E2%82%AC.pdf"));
    QCOMPARE(part.disposition, QByteArray("inline"));
}

void TestImapProtocol::bodyStructureMalformed()
{
    QVERIFY_THROWS_EXCEPTION(qb::MailStoreError, structureOf("NIL"));
    QVERIFY_THROWS_EXCEPTION(qb::MailStoreError, structureOf("(\"TEXT\" \"PLAIN\" NIL)"));
    QVERIFY_THROWS_EXCEPTION(qb::MailStoreError,
                             structureOf("((\"TEXT\" \"PLAIN\" NIL NIL NIL \"7BIT\" 1 1))"));
    QVERIFY_THROWS_EXCEPTION(qb::MailStoreError,
                             structureOf("(\"TEXT\" \"PLAIN\" NIL NIL NIL \"7BIT\" many 1)"));
    // A message/rfc822 whose envelope is not one.
    QVERIFY_THROWS_EXCEPTION(
        qb::MailStoreError,
        structureOf("(\"MESSAGE\" \"RFC822\" NIL NIL NIL \"7BIT\" 5 (NIL) (\"TEXT\""
                    " \"PLAIN\" NIL NIL NIL \"7BIT\" 1 1) 1)"));
}

void TestImapProtocol::envelopeFields()
{
    const Envelope envelope = parseEnvelope(fetchedValue(
        "* 9 FETCH (ENVELOPE (\"Tue, 1 Dec 2026 08:00:00 +0100\" \"=?utf-8?q?Gr=C3=BC=C3=9Fe?=\""
        " ((\"Ann Example\" NIL \"ann\" \"example.org\")) ((NIL NIL \"sender\" \"example.org\"))"
        " NIL ((NIL NIL \"team\" NIL)(\"Bo\" NIL \"bo\" \"example.net\")(NIL NIL NIL NIL))"
        " NIL NIL \"<parent@x>\" {10}\r\n<id@x.org>))",
        "envelope"));
    QCOMPARE(envelope.subject, QByteArray("=?utf-8?q?Gr=C3=BC=C3=9Fe?="));
    QCOMPARE(envelope.from.size(), size_t(1));
    QCOMPARE(envelope.from[0].name, QByteArray("Ann Example"));
    QCOMPARE(envelope.from[0].host, QByteArray("example.org"));
    QCOMPARE(envelope.sender[0].mailbox, QByteArray("sender"));
    QVERIFY(envelope.replyTo.empty());
    QCOMPARE(envelope.to.size(), size_t(3)); // a group: its start and end are kept
    QVERIFY(envelope.to[0].host.isNull());
    QCOMPARE(envelope.to[1].mailbox, QByteArray("bo"));
    QCOMPARE(envelope.inReplyTo, QByteArray("<parent@x>"));
    QCOMPARE(envelope.messageId, QByteArray("<id@x.org>"));
    QVERIFY_THROWS_EXCEPTION(
        qb::MailStoreError,
        parseEnvelope(fetchedValue("* 9 FETCH (ENVELOPE (NIL NIL))", "ENVELOPE")));
}

void TestImapProtocol::commandBuilder()
{
    const auto textOf = [](const Command &command) {
        QByteArray text;
        for (const Command::Piece &piece : command.pieces()) {
            text += piece.text;
            if (piece.hasLiteral)
                text += '{' + QByteArray::number(piece.literal.size()) + '}' + piece.literal;
        }
        return text;
    };
    QCOMPARE(textOf(Command("LOGIN").string("ann").string("p\"a\\ss")),
             QByteArray("LOGIN \"ann\" \"p\\\"a\\\\ss\""));
    // Text that cannot be quoted goes as a literal, and the command goes on after it.
    const Command login = Command("LOGIN").string("ann").string("p\xc3\xa4ss\r\n").atom("X");
    QCOMPARE(textOf(login), QByteArray("LOGIN \"ann\" {7}p\xc3\xa4ss\r\n X"));
    QCOMPARE(login.pieces().size(), size_t(2));
    QCOMPARE(login.verb(), QByteArray("LOGIN"));
    QCOMPARE(textOf(Command("SELECT").mailbox(QStringLiteral("Entwürfe & Co"))),
             QByteArray("SELECT \"Entw&APw-rfe &- Co\""));
    QCOMPARE(textOf(Command("STATUS").string("")), QByteArray("STATUS \"\""));
    QCOMPARE(textOf(Command("X").string(QByteArray(1025, 'a'))).left(8), QByteArray("X {1025}"));
    QCOMPARE(Command("uid fetch 1:* (UID)").verb(), QByteArray("UID FETCH"));
    // Nothing from outside can end the command line early.
    QVERIFY_THROWS_EXCEPTION(qb::MailStoreError, Command("NOOP\r\nA2 DELETE INBOX"));
    QVERIFY_THROWS_EXCEPTION(qb::MailStoreError, Command("STORE 1 +FLAGS").atom("\\Seen\r\nX"));
    QVERIFY_THROWS_EXCEPTION(qb::MailStoreError,
                             Command("STORE 1 +FLAGS").raw(QByteArray("(\0)", 3)));
}

QTEST_GUILESS_MAIN(TestImapProtocol)
#include "test_imap_protocol.moc"
