// Reading what an IMAP server sends: framing into responses, tokens, INTERNALDATE.
#include "mail/ImapBodyStructure.h"
#include "mail/ImapInternalDate.h"
#include "mail/ImapResponseParser.h"
#include "mail/ImapResponseReader.h"

#include <QTest>

namespace {

QList<ImapResponse> takeAll(ImapResponseParser& parser)
{
    QList<ImapResponse> out;
    while (std::optional<ImapResponse> r = parser.take())
        out.append(*r);
    return out;
}

ImapResponse single(const QByteArray& bytes)
{
    ImapResponseParser parser;
    parser.feed(bytes);
    const QList<ImapResponse> all = takeAll(parser);
    return all.size() == 1 ? all.first() : ImapResponse();
}

// A part tree in one line: type/subtype, [charset], {disposition} ("?" when not sent), and the
// parts of a multipart in parentheses.
QByteArray describe(const ImapBodyStructure::Part& part)
{
    QByteArray out = part.section + ' ' + part.type + '/' + part.subtype;
    if (!part.charset.isEmpty())
        out += '[' + part.charset + ']';
    if (!part.dispositionKnown)
        out += "{?}";
    else if (!part.disposition.isEmpty())
        out += '{' + part.disposition + '}';
    if (part.isMultipart()) {
        QList<QByteArray> parts;
        for (const ImapBodyStructure::Part& child : part.parts)
            parts.append(describe(child));
        out += '(' + parts.join(", ") + ')';
    }
    return out;
}

}  // namespace

class TestImapResponseParser : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void framesLinesAndLiterals();
    void framingDoesNotDependOnHowBytesArrive();
    void literalsHoldAnything();
    void oversizedInputFailsForGood();
    void lineAtTheLimitWhoseEndArrivesSplit();
    void reportsLiteralProgress();
    void rawAndSummary();

    void readsValues();
    void readsLiteralsInsideLists();
    void refusesMalformedValues_data();
    void refusesMalformedValues();
    void skipsWhatItWouldRead_data();
    void skipsWhatItWouldRead();
    void boundsNesting();

    void internalDate_data();
    void internalDate();

    void bodyStructure_data();
    void bodyStructure();
};

void TestImapResponseParser::framesLinesAndLiterals()
{
    ImapResponseParser parser;
    parser.feed("* 3 EXISTS\r\n* OK [UIDVALIDITY 1] x\nA1 OK done\r\n* 1 FETCH (BODY[] {3}\r\nab");
    QList<ImapResponse> all = takeAll(parser);
    QCOMPARE(all.size(), 3);
    QCOMPARE(all[0].lines, QList<QByteArray>{"* 3 EXISTS"});
    QCOMPARE(all[1].lines, QList<QByteArray>{"* OK [UIDVALIDITY 1] x"});  // bare LF accepted
    QCOMPARE(all[2].tag(), QByteArray("A1"));
    QVERIFY(parser.midResponse());
    QVERIFY(parser.inLiteral());

    parser.feed("c {0}\r\n");
    QVERIFY(takeAll(parser).isEmpty());  // still waiting for the line after the empty literal
    parser.feed(" UID 7)\r\n");
    all = takeAll(parser);
    QCOMPARE(all.size(), 1);
    QCOMPARE(all[0].lines, (QList<QByteArray>{"* 1 FETCH (BODY[] {3}", " {0}", " UID 7)"}));
    QCOMPARE(all[0].literals, (QList<QByteArray>{"abc", ""}));
    QVERIFY(!parser.midResponse());
    QVERIFY(!parser.failed());
}

void TestImapResponseParser::framingDoesNotDependOnHowBytesArrive()
{
    const QByteArray stream =
        "* LIST () \"/\" {5}\r\nIN\r\nX\r\n+ go\r\n* 2 FETCH (BODY[] {4}\r\n{1}\r RFC822.SIZE 4)\r\n"
        "A7 OK fine\r\n";
    ImapResponseParser whole;
    whole.feed(stream);
    const QList<ImapResponse> expected = takeAll(whole);
    QCOMPARE(expected.size(), 4);
    for (int chunk : {1, 2, 3, 7, 64}) {
        ImapResponseParser parser;
        QList<ImapResponse> got;
        for (qsizetype i = 0; i < stream.size(); i += chunk) {
            parser.feed(stream.mid(i, chunk));
            got += takeAll(parser);
        }
        QCOMPARE(got.size(), expected.size());
        for (qsizetype i = 0; i < got.size(); ++i) {
            QCOMPARE(got[i].lines, expected[i].lines);
            QCOMPARE(got[i].literals, expected[i].literals);
        }
    }
}

void TestImapResponseParser::literalsHoldAnything()
{
    // Line ends, literal markers, NUL and 8-bit bytes inside a literal are data.
    const QByteArray data = QByteArray("A1 OK fake\r\n{99}\r\n\0\xff\n", 20);
    const ImapResponse r =
        single("* 1 FETCH (BODY[] {" + QByteArray::number(data.size()) + "}\r\n" + data + ")\r\n");
    QCOMPARE(r.literals, QList<QByteArray>{data});
    QCOMPARE(r.lines.last(), QByteArray(")"));

    // Braces that do not close the line, or hold no number, announce nothing.
    QCOMPARE(single("* OK {5} text\r\n").lines.size(), 1);
    QCOMPARE(single("* OK {abc}\r\n").literals.size(), 0);
    QCOMPARE(single("* OK {}\r\n").literals.size(), 0);
    QCOMPARE(single("* OK {2+}\r\nxy\r\n").literals, QList<QByteArray>{"xy"});
}

void TestImapResponseParser::oversizedInputFailsForGood()
{
    {
        ImapResponseParser parser;
        parser.setLimits(100, 1000, 5000);
        parser.feed("* OK " + QByteArray(95, 'a') + "\r\n");  // exactly 100: fine
        QCOMPARE(takeAll(parser).size(), 1);
        parser.feed(QByteArray(101, 'b'));  // no line end yet, already too long
        QVERIFY(takeAll(parser).isEmpty());
        QVERIFY(parser.failed());
        QVERIFY(parser.errorText().contains(QStringLiteral("100")));
        parser.feed("\r\nA1 OK\r\n");  // nothing is ever read again
        QVERIFY(takeAll(parser).isEmpty());
    }
    {
        ImapResponseParser parser;
        parser.setLimits(100, 1000, 5000);
        parser.feed("* 1 FETCH (BODY[] {1001}\r\n");
        QVERIFY(takeAll(parser).isEmpty());
        QVERIFY(parser.failed());
        QVERIFY(parser.errorText().contains(QStringLiteral("1001")));
    }
    {
        ImapResponseParser parser;  // default limits: 256 MB per literal
        parser.feed("* 1 FETCH (BODY[] {99999999999999999999}\r\n");
        QVERIFY(takeAll(parser).isEmpty());
        QVERIFY(parser.failed());
    }
    {
        ImapResponseParser parser;
        parser.setLimits(100, 1000, 2500);
        for (int i = 0; i < 2; ++i)
            parser.feed("* 1 FETCH (BODY[] {1000}\r\n" + QByteArray(1000, 'x'));
        parser.feed("* 1 FETCH (BODY[] {1000}\r\n");
        QVERIFY(takeAll(parser).isEmpty());
        QVERIFY(parser.failed());
        parser.reset();
        QVERIFY(!parser.failed());
        parser.feed("A1 OK\r\n");
        QCOMPARE(takeAll(parser).size(), 1);
    }
}

void TestImapResponseParser::lineAtTheLimitWhoseEndArrivesSplit()
{
    // A line of exactly the longest length, its CR in one chunk and its LF in the next.
    {
        ImapResponseParser parser;
        parser.setLimits(40, 100, 300);
        parser.feed("* OK " + QByteArray(35, 'a') + "\r");
        QVERIFY(takeAll(parser).isEmpty());
        QVERIFY(!parser.failed());
        parser.feed("\n");
        QCOMPARE(takeAll(parser).size(), 1);
        QVERIFY(!parser.failed());
        parser.feed("* OK " + QByteArray(36, 'a') + "\r");  // one byte longer: too long already
        QVERIFY(takeAll(parser).isEmpty());
        QVERIFY(parser.failed());
    }
    // Found by fuzzing: the 40-byte line after "{5+}" failed only when the bytes came one by one.
    const QByteArray stream = "* LIST () \"/d\r\nA007 BAD Error in IMAP commald GET\" {5+}\r\nDraft\r\n"
                              "+ go ahead\r\nA007 BAD Error in IMAP commald GETC* 1 nvalid messageset (0.001 + "
                              "0.000 secs).\r\n";
    ImapResponseParser whole;
    whole.setLimits(40, 100, 300);
    whole.feed(stream);
    const QList<ImapResponse> expected = takeAll(whole);
    QCOMPARE(expected.size(), 3);
    QVERIFY(whole.failed());  // the last line is too long whichever way it comes
    ImapResponseParser bytewise;
    bytewise.setLimits(40, 100, 300);
    QList<ImapResponse> got;
    for (char c : stream) {
        bytewise.feed(QByteArray(1, c));
        got += takeAll(bytewise);
    }
    QCOMPARE(got.size(), expected.size());
    for (qsizetype i = 0; i < got.size(); ++i) {
        QCOMPARE(got[i].lines, expected[i].lines);
        QCOMPARE(got[i].literals, expected[i].literals);
    }
    QVERIFY(bytewise.failed());
}

void TestImapResponseParser::reportsLiteralProgress()
{
    ImapResponseParser parser;
    parser.feed("* 1 FETCH (BODY[] {10}\r\n");
    QVERIFY(!parser.take());
    QVERIFY(parser.inLiteral());
    QCOMPARE(parser.literalSize(), 10);
    QCOMPARE(parser.literalReceived(), 0);
    parser.feed("1234");
    QVERIFY(!parser.take());
    QCOMPARE(parser.literalReceived(), 4);
    parser.feed("567890)");
    QVERIFY(!parser.take());
    QVERIFY(!parser.inLiteral());
    parser.feed("\r\n");
    QVERIFY(parser.take().has_value());
}

void TestImapResponseParser::rawAndSummary()
{
    const QByteArray bytes = "* 1 FETCH (BODY[] {5}\r\nab\r\nc INTERNALDATE \"x\")";
    const ImapResponse r = single(bytes + "\r\n");
    QCOMPARE(r.raw(), bytes);
    QCOMPARE(r.size(), qsizetype(bytes.size() - 2));
    QCOMPARE(r.summary(300), QByteArray("* 1 FETCH (BODY[] {5} <5 bytes>  INTERNALDATE \"x\")"));
    QCOMPARE(r.summary(10), QByteArray("* 1 FETCH ..."));
    QCOMPARE(single("* OK \x01\x7f\r\n").summary(300), QByteArray("* OK .."));
}

void TestImapResponseParser::readsValues()
{
    const ImapResponse r = single(
        R"(* 12 FETCH (FLAGS (\Seen $Label1) BODY[HEADER.FIELDS (SUBJECT FROM)]<0> "a \"q\" \\ b" X nil))"
        "\r\n");
    ImapResponseReader reader(r);
    QCOMPARE(reader.readAtom(), QByteArray("*"));
    QVERIFY(reader.skipSpaces());
    const QByteArray number = reader.readAtom();
    QCOMPARE(number, QByteArray("12"));
    reader.skipSpaces();
    QCOMPARE(reader.readAtom(), QByteArray("FETCH"));
    reader.skipSpaces();
    const std::optional<ImapValue> list = reader.readValue();
    QVERIFY(list && list->isList());
    QCOMPARE(list->items.size(), 6);
    QCOMPARE(list->items[0].text, QByteArray("FLAGS"));
    QCOMPARE(list->items[1].items.size(), 2);
    QCOMPARE(list->items[1].items[0].text, QByteArray("\\Seen"));
    QCOMPARE(list->items[2].text, QByteArray("BODY[HEADER.FIELDS (SUBJECT FROM)]<0>"));
    QVERIFY(list->items[3].isString());
    QCOMPARE(list->items[3].text, QByteArray("a \"q\" \\ b"));
    QVERIFY(list->items[5].isNil());
    QVERIFY(reader.atEnd());

    ImapValue value;
    value.kind = ImapValue::Kind::Atom;
    value.text = "4711";
    QCOMPARE(value.number(), 4711);
    value.text = "47x";
    QCOMPARE(value.number(), -1);
    value.kind = ImapValue::Kind::String;
    value.text = "12";
    QCOMPARE(value.number(), -1);  // a string is not a number

    ImapResponse status = single("A3 NO [TRYCREATE] No such mailbox\r\n");
    ImapResponseReader statusReader(status);
    statusReader.readAtom();
    statusReader.skipSpaces();
    QCOMPARE(statusReader.readAtom(), QByteArray("NO"));
    statusReader.skipSpaces();
    QCOMPARE(statusReader.readRestOfLine(), QByteArray("[TRYCREATE] No such mailbox"));
    QVERIFY(statusReader.atEnd());
}

void TestImapResponseParser::readsLiteralsInsideLists()
{
    const ImapResponse r = single("* LIST (\\Noselect) {1}\r\n/ {5}\r\nA (b)\r\n");
    ImapResponseReader reader(r);
    reader.readAtom();
    reader.skipSpaces();
    reader.readAtom();
    reader.skipSpaces();
    QVERIFY(reader.readValue()->isList());
    reader.skipSpaces();
    const std::optional<ImapValue> delimiter = reader.readValue();
    QVERIFY(delimiter && delimiter->isString());
    QCOMPARE(delimiter->text, QByteArray("/"));
    reader.skipSpaces();
    const std::optional<ImapValue> name = reader.readValue();
    QVERIFY(name && name->isString());
    QCOMPARE(name->text, QByteArray("A (b)"));
    QVERIFY(reader.atEnd());

    // Several literals in one list, the data on separate lines of the response.
    const ImapResponse two = single("* X ({2}\r\nab {3}\r\ncde)\r\n");
    ImapResponseReader twoReader(two);
    twoReader.readAtom();
    twoReader.skipSpaces();
    twoReader.readAtom();
    twoReader.skipSpaces();
    const std::optional<ImapValue> list = twoReader.readValue();
    QVERIFY(list && list->items.size() == 2);
    QCOMPARE(list->items[0].text, QByteArray("ab"));
    QCOMPARE(list->items[1].text, QByteArray("cde"));
}

void TestImapResponseParser::refusesMalformedValues_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("unterminated quote") << QByteArray("\"abc");
    QTest::newRow("backslash at the end") << QByteArray("\"abc\\");
    QTest::newRow("unclosed list") << QByteArray("(a (b c)");
    QTest::newRow("stray close") << QByteArray(")");
    QTest::newRow("unclosed section") << QByteArray("BODY[HEADER (x)");
    QTest::newRow("marker not at line end") << QByteArray("{3} abc");
    QTest::newRow("nothing") << QByteArray("");
}

void TestImapResponseParser::refusesMalformedValues()
{
    QFETCH(QByteArray, text);
    const ImapResponse r = single("* X " + text + "\r\n");
    ImapResponseReader reader(r);
    reader.readAtom();
    reader.skipSpaces();
    reader.readAtom();
    reader.skipSpaces();
    QVERIFY(!reader.readValue().has_value());
}

void TestImapResponseParser::skipsWhatItWouldRead_data()
{
    refusesMalformedValues_data();
    QTest::newRow("atom") << QByteArray("abc rest");
    QTest::newRow("NIL") << QByteArray("NIL rest");
    QTest::newRow("quoted with escapes") << QByteArray("\"a \\\"b\\\\\" rest");
    QTest::newRow("section with a list") << QByteArray("BODY[HEADER.FIELDS (SUBJECT FROM)] rest");
    QTest::newRow("nested lists") << QByteArray("(a (b \"c d\" NIL) ((e))) rest");
    QTest::newRow("literal in a list") << QByteArray("(a {3}\r\nx)y \"z\") rest");
    QTest::newRow("structure") << QByteArray("((\"text\" \"plain\" (\"charset\" \"us-ascii\") NIL NIL \"7bit\" 10 1 NIL NIL NIL "
                                             "NIL)(\"text\" \"html\" NIL NIL NIL \"7bit\" 20 1 NIL NIL NIL NIL) "
                                             "\"alternative\" (\"boundary\" \"b\") NIL NIL NIL) rest");
}

// Stepping over a value leaves the reader where reading it would, and fails where reading fails.
void TestImapResponseParser::skipsWhatItWouldRead()
{
    QFETCH(QByteArray, text);
    const ImapResponse r = single("* X " + text + "\r\n");
    ImapResponseReader reading(r);
    ImapResponseReader skipping(r);
    for (ImapResponseReader* reader : {&reading, &skipping}) {
        reader->readAtom();
        reader->skipSpaces();
        reader->readAtom();
        reader->skipSpaces();
    }
    ImapResponseReader itemByItem = skipping;
    const std::optional<ImapValue> value = reading.readValue();
    QCOMPARE(skipping.skipValue(), value.has_value());
    if (value)
        QCOMPARE(skipping.readRestOfLine(), reading.readRestOfLine());
    // A list read item by item gives the items read whole.
    if (!itemByItem.enterList())
        return;
    QList<ImapValue> items;
    while (!itemByItem.leaveList()) {
        std::optional<ImapValue> item = itemByItem.readValue();
        if (!item)
            break;
        items.append(*item);
    }
    QCOMPARE(value.has_value(), items.size() == (value ? value->items.size() : -1));
    for (qsizetype i = 0; value && i < items.size(); ++i) {
        QCOMPARE(items[i].kind, value->items[i].kind);
        QCOMPARE(items[i].text, value->items[i].text);
        QCOMPARE(items[i].items.size(), value->items[i].items.size());
    }
}

void TestImapResponseParser::boundsNesting()
{
    const int allowed = ImapResponseReader::kMaxDepth;
    const ImapResponse ok = single(QByteArray(allowed, '(') + QByteArray(allowed, ')') + "\r\n");
    QVERIFY(ImapResponseReader(ok).readValue().has_value());
    const ImapResponse deep = single(QByteArray(100000, '(') + QByteArray(100000, ')') + "\r\n");
    QVERIFY(!ImapResponseReader(deep).readValue().has_value());
    QVERIFY(ImapResponseReader(ok).skipValue());
    QVERIFY(!ImapResponseReader(deep).skipValue());
}

void TestImapResponseParser::internalDate_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QDateTime>("expected");
    QTest::newRow("RFC example") << QByteArray("17-Jul-1996 02:44:25 -0700")
                                 << QDateTime(QDate(1996, 7, 17), QTime(9, 44, 25), Qt::UTC);
    QTest::newRow("padded day") << QByteArray(" 2-Jan-2024 08:00:00 +0130")
                                << QDateTime(QDate(2024, 1, 2), QTime(6, 30, 0), Qt::UTC);
    QTest::newRow("month case") << QByteArray("29-FEB-2024 23:59:59 +0000")
                                << QDateTime(QDate(2024, 2, 29), QTime(23, 59, 59), Qt::UTC);
    QTest::newRow("spaces doubled, zone west with minutes")
        << QByteArray("  5-Mar-2024  10:00:00   -0330 ") << QDateTime(QDate(2024, 3, 5), QTime(13, 30, 0), Qt::UTC);
    QTest::newRow("a fourth word") << QByteArray("05-Mar-2024 10:00:00 +0000 x") << QDateTime();
    QTest::newRow("empty date field") << QByteArray("05--Mar-2024 10:00:00 +0000") << QDateTime();
    QTest::newRow("no such day") << QByteArray("30-Feb-2024 10:00:00 +0000") << QDateTime();
    QTest::newRow("bad month") << QByteArray("01-Foo-2024 10:00:00 +0000") << QDateTime();
    QTest::newRow("no zone") << QByteArray("01-Jan-2024 10:00:00") << QDateTime();
    QTest::newRow("bad zone") << QByteArray("01-Jan-2024 10:00:00 0100") << QDateTime();
    QTest::newRow("bad time") << QByteArray("01-Jan-2024 25:00:00 +0000") << QDateTime();
    QTest::newRow("empty") << QByteArray() << QDateTime();
}

void TestImapResponseParser::internalDate()
{
    QFETCH(QByteArray, text);
    QFETCH(QDateTime, expected);
    const QDateTime parsed = parseImapInternalDate(text);
    QCOMPARE(parsed.isValid(), expected.isValid());
    if (expected.isValid())
        QCOMPARE(parsed, expected);
}

// BODYSTRUCTURE as real servers send it: the tree read, the bodies a message object takes from
// it, and what is fetched instead of the whole message (sections, or "whole").
void TestImapResponseParser::bodyStructure_data()
{
    QTest::addColumn<QByteArray>("structure");
    QTest::addColumn<qint64>("messageSize");
    QTest::addColumn<QByteArray>("tree");   // empty: refused
    QTest::addColumn<QByteArray>("bodies"); // plain and html sections, "-" for none; "?" unknown
    QTest::addColumn<QByteArray>("fetch");  // sections, "header" (the header alone) or "whole"

    // Dovecot: lower case, full extension data.
    QTest::newRow("dovecot newsletter")
        << QByteArray("((\"text\" \"plain\" (\"charset\" \"utf-8\") NIL NIL \"quoted-printable\" 4100 80 NIL "
                      "NIL NIL "
                      "NIL)(\"text\" \"html\" (\"charset\" \"utf-8\") NIL NIL \"quoted-printable\" 61000 900 "
                      "NIL NIL "
                      "NIL NIL) \"alternative\" (\"boundary\" \"=_b1\") NIL NIL NIL)")
        << qint64(66000) << QByteArray(" multipart/alternative(1 text/plain[utf-8], 2 text/html[utf-8])")
        << QByteArray("1 2") << QByteArray("whole");
    QTest::newRow("dovecot attachment after alternative")
        << QByteArray(
               "(((\"text\" \"plain\" (\"charset\" \"utf-8\") NIL NIL \"quoted-printable\" 1200 30 NIL NIL "
               "NIL "
               "NIL)(\"text\" \"html\" (\"charset\" \"utf-8\") NIL NIL \"quoted-printable\" 5000 100 NIL NIL "
               "NIL "
               "NIL) \"alternative\" (\"boundary\" \"b2\") NIL NIL NIL)(\"application\" \"pdf\" (\"name\" "
               "\"r.pdf\") NIL NIL \"base64\" 300000 NIL (\"attachment\" (\"filename\" \"r.pdf\")) NIL NIL) "
               "\"mixed\" (\"boundary\" \"b1\") NIL NIL NIL)")
        << qint64(307000)
        << QByteArray(
               " multipart/mixed(1 multipart/alternative(1.1 text/plain[utf-8], 1.2 text/html[utf-8]), "
               "2 application/pdf{attachment})")
        << QByteArray("1.1 1.2") << QByteArray("1.1 1.2");
    QTest::newRow("dovecot html before plain")
        << QByteArray(
               "((\"text\" \"html\" NIL NIL NIL \"7bit\" 300 5 NIL NIL NIL NIL)(\"text\" \"plain\" "
               "(\"charset\" \"koi8-r\") NIL NIL \"8bit\" 200 5 NIL (\"inline\" NIL) NIL NIL)(\"image\" "
               "\"jpeg\" NIL NIL NIL \"base64\" 90000 NIL NIL NIL NIL) \"mixed\" (\"boundary\" \"x\") NIL "
               "NIL NIL)")
        << qint64(91000)
        << QByteArray(" multipart/mixed(1 text/html, 2 text/plain[koi8-r]{inline}, 3 image/jpeg)")
        << QByteArray("2 1") << QByteArray("1 2");
    // Cyrus: upper case, full extension data (MD5 included).
    QTest::newRow("cyrus upper case")
        << QByteArray(
               "((\"TEXT\" \"PLAIN\" (\"CHARSET\" \"us-ascii\") NIL NIL \"7BIT\" 1152 23 NIL NIL NIL NIL)"
               "(\"APPLICATION\" \"OCTET-STREAM\" (\"NAME\" \"cc.diff\") "
               "\"<960723163407.20117h@cac.washington.edu>\" "
               "\"Compiler diff\" \"BASE64\" 4554000 \"d41d8cd98f00b204e9800998ecf8427e\" (\"ATTACHMENT\" "
               "(\"FILENAME\" \"cc.diff\")) NIL NIL) \"MIXED\" (\"BOUNDARY\" \"----=_Part\") NIL NIL NIL)")
        << qint64(4556000)
        << QByteArray(" multipart/mixed(1 text/plain[us-ascii], 2 application/octet-stream{attachment})")
        << QByteArray("1 -") << QByteArray("1");
    // Courier: lower case, no charset, no extension data: attachments cannot be told apart.
    QTest::newRow("courier without extension data")
        << QByteArray(
               "((\"text\" \"plain\" NIL NIL NIL \"7bit\" 120 4)(\"image\" \"png\" (\"name\" \"a.png\") NIL "
               "NIL \"base64\" 90000) \"mixed\")")
        << qint64(91000) << QByteArray(" multipart/mixed{?}(1 text/plain{?}, 2 image/png{?})")
        << QByteArray("?") << QByteArray("whole");
    QTest::newRow("courier text after its bodies") // what comes after both bodies does not matter
        << QByteArray("((\"text\" \"plain\" NIL NIL NIL \"7bit\" 120 4 NIL NIL)(\"text\" \"html\" NIL NIL "
                      "NIL \"7bit\" "
                      "120 4 NIL NIL)(\"text\" \"plain\" NIL NIL NIL \"7bit\" 90000 4) \"mixed\")")
        << qint64(91000) << QByteArray(" multipart/mixed{?}(1 text/plain, 2 text/html, 3 text/plain{?})")
        << QByteArray("1 2") << QByteArray("1 2");
    // Attached text is no body; a forwarded message's text is never looked into.
    QTest::newRow("attached text, then inline html")
        << QByteArray("((\"text\" \"plain\" (\"charset\" \"utf-8\") NIL NIL \"base64\" 200000 3000 NIL "
                      "(\"attachment\" "
                      "(\"filename\" \"log.txt\")) NIL NIL)(\"text\" \"html\" NIL NIL NIL \"7bit\" 900 20 "
                      "NIL NIL NIL "
                      "NIL) \"mixed\" (\"boundary\" \"q\") NIL NIL NIL)")
        << qint64(202000) << QByteArray(" multipart/mixed(1 text/plain[utf-8]{attachment}, 2 text/html)")
        << QByteArray("- 2") << QByteArray("2");
    QTest::newRow("forwarded message")
        << QByteArray("((\"text\" \"html\" NIL NIL NIL \"7bit\" 300 5 NIL NIL NIL NIL)(\"message\" "
                      "\"rfc822\" NIL NIL "
                      "NIL \"7bit\" 80000 (NIL \"inner\" NIL NIL NIL NIL NIL NIL NIL NIL) (\"text\" "
                      "\"plain\" NIL NIL "
                      "NIL \"7bit\" 80 2 NIL NIL NIL NIL) 1200 NIL NIL NIL NIL) \"mixed\" (\"boundary\" "
                      "\"f\") NIL NIL NIL)")
        << qint64(81000) << QByteArray(" multipart/mixed(1 text/html, 2 message/rfc822)") << QByteArray("- 1")
        << QByteArray("1");
    QTest::newRow("related inside mixed")
        << QByteArray("((((\"text\" \"plain\" (\"charset\" \"iso-8859-1\") NIL NIL \"quoted-printable\" 500 "
                      "10 NIL NIL NIL "
                      "NIL)(\"text\" \"html\" NIL NIL NIL \"7bit\" 900 20 NIL NIL NIL NIL) \"alternative\" "
                      "NIL NIL NIL NIL)"
                      "(\"image\" \"gif\" NIL \"<i1>\" NIL \"base64\" 40000 NIL (\"inline\" NIL) NIL NIL) "
                      "\"related\")"
                      "(\"application\" \"zip\" NIL NIL NIL \"base64\" 500000 NIL (\"attachment\" NIL) NIL "
                      "NIL) \"mixed\")")
        << qint64(542000)
        << QByteArray(" multipart/mixed{?}(1 multipart/related{?}(1.1 multipart/alternative(1.1.1 "
                      "text/plain[iso-8859-1], 1.1.2 text/html), 1.2 image/gif{inline}), 2 "
                      "application/zip{attachment})")
        << QByteArray("1.1.1 1.1.2") << QByteArray("1.1.1 1.1.2");
    QTest::newRow("no body at all")
        << QByteArray(
               "((\"application\" \"pdf\" NIL NIL NIL \"base64\" 90000 NIL (\"attachment\" NIL) NIL NIL) "
               "\"mixed\" (\"boundary\" \"n\") NIL NIL NIL)")
        << qint64(91000) << QByteArray(" multipart/mixed(1 application/pdf{attachment})") << QByteArray("- -")
        << QByteArray("header");
    QTest::newRow("single part")
        << QByteArray(
               "(\"TEXT\" \"PLAIN\" (\"CHARSET\" \"UTF-8\") NIL NIL \"8BIT\" 5000 100 NIL NIL NIL NIL)")
        << qint64(6000) << QByteArray("1 text/plain[UTF-8]") << QByteArray("1 -") << QByteArray("whole");
    QTest::newRow("literal strings") << QByteArray("((\"text\" \"plain\" NIL NIL {4}\r\nnote \"7bit\" 10 1 "
                                                   "NIL NIL NIL NIL)(\"audio\" \"ogg\" NIL "
                                                   "NIL NIL \"base64\" 70000 NIL (\"attachment\" "
                                                   "(\"filename\" {5}\r\na b c)) NIL NIL) \"mixed\")")
                                     << qint64(71000)
                                     << QByteArray(
                                            " multipart/mixed{?}(1 text/plain, 2 audio/ogg{attachment})")
                                     << QByteArray("1 -") << QByteArray("1");
    // What cannot be read.
    QTest::newRow("NIL") << QByteArray("NIL") << qint64(100) << QByteArray() << QByteArray() << QByteArray();
    QTest::newRow("empty list") << QByteArray("()") << qint64(100) << QByteArray() << QByteArray()
                                << QByteArray();
    QTest::newRow("no subtype") << QByteArray("(\"text\" NIL NIL NIL NIL \"7bit\" 10 1)") << qint64(100)
                                << QByteArray() << QByteArray() << QByteArray();
    QTest::newRow("size not a number") << QByteArray("(\"text\" \"plain\" NIL NIL NIL \"7bit\" \"ten\" 1)")
                                       << qint64(100) << QByteArray() << QByteArray() << QByteArray();
    QTest::newRow("text without line count")
        << QByteArray("((\"text\" \"plain\" NIL NIL NIL \"7bit\" 10)(\"image\" \"png\" NIL NIL NIL "
                      "\"base64\" 9) \"mixed\")")
        << qint64(100) << QByteArray() << QByteArray() << QByteArray();
    QTest::newRow("odd parameter list")
        << QByteArray("(\"text\" \"plain\" (\"charset\") NIL NIL \"7bit\" 10 1)") << qint64(100)
        << QByteArray() << QByteArray() << QByteArray();
    QTest::newRow("multipart without subtype")
        << QByteArray("((\"text\" \"plain\" NIL NIL NIL \"7bit\" 10 1))") << qint64(100) << QByteArray()
        << QByteArray() << QByteArray();
    QTest::newRow("disposition not a pair")
        << QByteArray("(\"text\" \"plain\" NIL NIL NIL \"7bit\" 10 1 NIL (\"attachment\"))") << qint64(100)
        << QByteArray() << QByteArray() << QByteArray();
}

void TestImapResponseParser::bodyStructure()
{
    QFETCH(QByteArray, structure);
    QFETCH(qint64, messageSize);
    QFETCH(QByteArray, tree);
    QFETCH(QByteArray, bodies);
    QFETCH(QByteArray, fetch);

    const ImapResponse response = single("* 1 FETCH (BODYSTRUCTURE " + structure + ")\r\n");
    ImapResponseReader reader(response);
    reader.readAtom();
    reader.skipSpaces();
    reader.readAtom();
    reader.skipSpaces();
    reader.readAtom();
    reader.skipSpaces();
    const std::optional<ImapValue> items = reader.readValue();
    QVERIFY(items && items->isList() && items->items.size() == 2);
    const std::optional<ImapBodyStructure> read = ImapBodyStructure::read(items->items[1]);
    QCOMPARE(read.has_value(), !tree.isEmpty());
    if (!read)
        return;
    QCOMPARE(describe(read->root()), tree);
    const std::optional<ImapBodyStructure::Bodies> found = read->bodies();
    if (bodies == "?") {
        QVERIFY(!found);
    } else {
        QVERIFY(found);
        const QByteArray plain = found->plain ? found->plain->section : QByteArray("-");
        const QByteArray html = found->html ? found->html->section : QByteArray("-");
        QCOMPARE(plain + ' ' + html, bodies);
    }
    const std::optional<QList<QByteArray>> sections = read->sectionsToFetch(messageSize, 16 * 1024);
    QCOMPARE(sections ? (sections->isEmpty() ? QByteArray("header") : sections->join(' '))
                      : QByteArray("whole"),
             fetch);
}

QTEST_GUILESS_MAIN(TestImapResponseParser)
#include "tst_imapresponseparser.moc"
