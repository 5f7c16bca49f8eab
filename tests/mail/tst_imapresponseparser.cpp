// Reading what an IMAP server sends: framing into responses, tokens, INTERNALDATE.
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
    void boundsNesting();

    void internalDate_data();
    void internalDate();
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

void TestImapResponseParser::boundsNesting()
{
    const int allowed = ImapResponseReader::kMaxDepth;
    const ImapResponse ok = single(QByteArray(allowed, '(') + QByteArray(allowed, ')') + "\r\n");
    QVERIFY(ImapResponseReader(ok).readValue().has_value());
    const ImapResponse deep = single(QByteArray(100000, '(') + QByteArray(100000, ')') + "\r\n");
    QVERIFY(!ImapResponseReader(deep).readValue().has_value());
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

QTEST_GUILESS_MAIN(TestImapResponseParser)
#include "tst_imapresponseparser.moc"
