// Read-ahead in the IMAP client: a walk through message numbers keeps several single-message
// fetches in flight, and every message still gets its own command, answer and log. Exact
// conversations with the in-memory server, which lets the client send ahead.
#include "mail/ImapClient.h"
#include "mail/ImapEventSink.h"
#include "mail/ImapInternalDate.h"
#include "mail/MailMessage.h"
#include "support/ScriptedImapServer.h"
#include "support/ServerErrors.h"

#include <QTest>

#include <functional>

namespace {

class StopSink : public ImapEventSink {
public:
    void abortCheck(bool& abort) override
    {
        ++abortChecks;
        abort = stop;
    }
    void percentDone(int percent, bool&) override { percents.append(percent); }
    bool stop = false;
    QList<int> percents;
    int abortChecks = 0;
};

QByteArray tagFor(int n)
{
    return "A" + QByteArray::number(n).rightJustified(3, '0');
}

QByteArray fetchCommand(int tag, int number)
{
    return tagFor(tag) + " FETCH " + QByteArray::number(number) + " (BODY.PEEK[] INTERNALDATE)";
}

QByteArray message(int number, qsizetype padding = 0)
{
    return "Subject: message " + QByteArray::number(number) + "\r\n\r\n" + QByteArray(padding, 'x') + "\r\n";
}

QByteArray fetchData(int number, qsizetype padding = 0)
{
    const QByteArray m = message(number, padding);
    return "* " + QByteArray::number(number) + " FETCH (BODY[] {" + QByteArray::number(m.size()) + "}\r\n" +
           m + " INTERNALDATE \"17-Jul-1996 02:44:25 -0700\")\r\n";
}

QByteArray okLine(int tag)
{
    return tagFor(tag) + " OK Fetch completed.";
}

// Commands the client wrote so far.
int fetchesWritten(const ScriptedImapServer& server)
{
    return int(server.written().count(" FETCH "));
}

// Structure first. Message n with an attachment, as the server stores it and cuts it into parts.
QByteArray attachedHeader(int number)
{
    return "Subject: report " + QByteArray::number(number) +
           "\r\nFrom: =?utf-8?q?J=C3=BCrgen?= <j@example.org>\r\nDate: Tue, 8 Dec 2026 10:00:00 +0100\r\n"
           "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"b1\"\r\n\r\n";
}
const QByteArray kTextMime = "Content-Type: text/plain; charset=iso-8859-1\r\nContent-Transfer-Encoding: "
                             "quoted-printable\r\n\r\n";
const QByteArray kText = "Gr=FC=DFe, the report is attached.";
const QByteArray kFileMime =
    "Content-Type: application/pdf; name=\"r.pdf\"\r\nContent-Disposition: attachment; "
    "filename=\"r.pdf\"\r\nContent-Transfer-Encoding: base64\r\n\r\n";
QByteArray fileBody()
{
    QByteArray body;
    for (int i = 0; i < 600; ++i)
        body += QByteArray(76, 'Q') + "\r\n";
    return body;
}

QByteArray attachedMessage(int number)
{
    return attachedHeader(number) + "--b1\r\n" + kTextMime + kText + "\r\n--b1\r\n" + kFileMime + fileBody() +
           "\r\n--b1--\r\n";
}

QByteArray literal(const QByteArray& bytes)
{
    return "{" + QByteArray::number(bytes.size()) + "}\r\n" + bytes;
}

QByteArray attachedStructure(int number)
{
    return "* " + QByteArray::number(number) + " FETCH (RFC822.SIZE " +
           QByteArray::number(attachedMessage(number).size()) +
           " BODYSTRUCTURE ((\"text\" \"plain\" (\"charset\" \"iso-8859-1\") NIL NIL \"quoted-printable\" " +
           QByteArray::number(kText.size()) +
           " 1 NIL NIL NIL NIL)(\"application\" \"pdf\" (\"name\" \"r.pdf\") NIL NIL \"base64\" " +
           QByteArray::number(fileBody().size()) +
           " NIL (\"attachment\" (\"filename\" \"r.pdf\")) NIL NIL) \"mixed\" (\"boundary\" \"b1\") NIL NIL "
           "NIL))\r\n";
}

QByteArray plainStructure(int number)
{
    return "* " + QByteArray::number(number) + " FETCH (RFC822.SIZE " +
           QByteArray::number(message(number).size()) +
           " BODYSTRUCTURE (\"text\" \"plain\" (\"charset\" \"us-ascii\") NIL NIL \"7bit\" 2 1 NIL NIL NIL "
           "NIL))\r\n";
}

QByteArray structureCommand(int tag, int first, int last)
{
    return tagFor(tag) + " FETCH " + QByteArray::number(first) + ':' + QByteArray::number(last) +
           " (RFC822.SIZE BODYSTRUCTURE)";
}

// The first 16,384 bytes of a message whose structure is not known yet, and the answer: all of a
// shorter message, the first 16,384 bytes of a longer one.
QByteArray partialCommand(int tag, int number)
{
    return tagFor(tag) + " FETCH " + QByteArray::number(number) + " (BODY.PEEK[]<0.16384> INTERNALDATE)";
}

QByteArray partialData(int number, const QByteArray& whole)
{
    return "* " + QByteArray::number(number) +
           " FETCH (INTERNALDATE \"17-Jul-1996 02:44:25 -0700\" BODY[]<0> " + literal(whole.left(16384)) +
           ")\r\n";
}

// Consecutive small messages, fetched whole with one command.
QByteArray rangeCommand(int tag, int first, int last)
{
    return tagFor(tag) + " FETCH " + QByteArray::number(first) + ':' + QByteArray::number(last) +
           " (BODY.PEEK[] INTERNALDATE)";
}

// The rest of a message after its first 16,384 bytes, asked for up to its whole size, and the answer.
QByteArray restCommand(int tag, int number, qsizetype size)
{
    return tagFor(tag) + " FETCH " + QByteArray::number(number) + " (BODY.PEEK[]<16384." +
           QByteArray::number(size) + ">)";
}

QByteArray restData(int number, const QByteArray& whole)
{
    return "* " + QByteArray::number(number) + " FETCH (BODY[]<16384> " + literal(whole.mid(16384)) + ")\r\n";
}

QByteArray partsCommand(int tag, int number)
{
    return tagFor(tag) + " FETCH " + QByteArray::number(number) +
           " (BODY.PEEK[HEADER] BODY.PEEK[1.MIME] BODY.PEEK[1] INTERNALDATE)";
}

QByteArray partsData(int number)
{
    return "* " + QByteArray::number(number) + " FETCH (BODY[HEADER] " + literal(attachedHeader(number)) +
           " BODY[1.MIME] " + literal(kTextMime) + " BODY[1] " + literal(kText) +
           " INTERNALDATE \"17-Jul-1996 02:44:25 -0700\")\r\n";
}

QByteArray wholeAttachedData(int number)
{
    return "* " + QByteArray::number(number) + " FETCH (BODY[] " + literal(attachedMessage(number)) +
           " INTERNALDATE \"17-Jul-1996 02:44:25 -0700\")\r\n";
}

const QDateTime kInternalDate = parseImapInternalDate("17-Jul-1996 02:44:25 -0700");

// What a message object holds, for comparing two of them.
QStringList fields(const MailMessage& m)
{
    return {m.From,          m.FromName, m.FromAddress, m.Subject, m.Date.toString(Qt::ISODate),
            m.PlainTextBody, m.HtmlBody};
}

} // namespace

class TestImapReadAhead : public QObject {
    Q_OBJECT

private:
    // Whole-message read-ahead unless asked: the structure-first walk has its own cases below.
    void connectTo(ImapClient& client, ScriptedImapServer& server, bool structureFirst = false)
    {
        client.setStructureFirst(structureFirst);
        server.allowPipelining(true);
        server.attach(client);
        server.sendLine("* PREAUTH ready");
        QCOMPARE(client.connect(QStringLiteral("127.0.0.1")), 1);
    }
    // The answer to message n (command tag n) as one piece of script.
    void answer(ScriptedImapServer& server, int n, qsizetype padding = 0)
    {
        server.expect(fetchCommand(n, n)).send(fetchData(n, padding)).sendLine(okLine(n));
    }

private Q_SLOTS:
    void commandsGoOutAheadOfTheWalk();
    void answersInAnyOrderAmongUntaggedData();
    void failedCommandInTheMiddleFailsOnlyItsNumber();
    void numbersBeyondTheEndFailOneByOne();
    void stopSendsNothingMoreAndTheConnectionStaysUsable();
    void anotherCommandSkipsTheAnswersStillToCome();
    void byteBudgetBoundsTheFetchesInFlight();
    void fetchOutOfOrderEndsTheReadAhead();
    void progressBelongsToTheMessageAskedFor();
    void endingTheReadAheadFromAHandler();
    void dropWhileAnswersAreInFlight();

    void structureFirstWalk();
    void refusedPartsFetchTheWholeMessage();
    void aRestThatDoesNotComeAsAskedFetchesWhole();
    void smallMessagesShareOneCommand();
    void refusedStructureFetchesWhole();
    void expungedBetweenStructureAndFetch();
    void stopWhileStructuresAreComing();
    void reconnectStartsWithStructuresAgain();
    void sizesKnownFillTheLinkWithinTheByteBudget();
    void structuresStopAtTheMailboxEnd();
    void structuresArrivingDuringAWaitSendTheirFetches();
    void numbersPastTheFirstRangeShareTheirPartialFetch();
    void aWalkSetBeforeTheSelectionLeavesWithItsExamine();
};

void TestImapReadAhead::commandsGoOutAheadOfTheWalk()
{
    ScriptedImapServer server;
    ImapClient client;
    connectTo(client, server);
    client.setReadAhead(1, 6);
    server.expect(fetchCommand(1, 1))
        .expect(fetchCommand(2, 2))
        .expect(fetchCommand(3, 3))
        .expect(fetchCommand(4, 4))
        .send(fetchData(1))
        .sendLine(okLine(1));
    QVERIFY(client.fetchSingle(1, false).has_value());
    // Four commands in one write before the first answer.
    QCOMPARE(server.written(), fetchCommand(1, 1) + "\r\n" + fetchCommand(2, 2) + "\r\n" +
                                   fetchCommand(3, 3) + "\r\n" + fetchCommand(4, 4) + "\r\n");
    QVERIFY(client.lastErrorText().contains(QStringLiteral("Sent: A001 FETCH 1")));

    // The window grew with the answer: the next call tops it up to the end of the range.
    for (int n = 2; n <= 4; ++n)
        server.send(fetchData(n)).sendLine(okLine(n));
    server.expect(fetchCommand(5, 5)).expect(fetchCommand(6, 6));
    for (int n = 5; n <= 6; ++n)
        server.send(fetchData(n)).sendLine(okLine(n));
    for (int n = 2; n <= 6; ++n) {
        const std::optional<MailMessage> m = client.fetchSingle(n, false);
        QVERIFY2(m.has_value(), qPrintable(client.lastErrorText()));
        QCOMPARE(m->Subject, QStringLiteral("message %1").arg(n));
        // Each message's log shows its own command and answer, nothing of the others.
        const QString log = client.lastErrorText();
        QVERIFY2(log.contains(QStringLiteral("Sent: %1 FETCH %2").arg(QString::fromLatin1(tagFor(n))).arg(n)),
                 qPrintable(log));
        QVERIFY2(log.contains(QString::fromLatin1(okLine(n))), qPrintable(log));
        QCOMPARE(log.count(QStringLiteral("Received:")), 2);
    }
    QCOMPARE(fetchesWritten(server), 6); // nothing past the range
    QVERIFY(server.scriptDone());
    VERIFY_NO_SERVER_ERRORS(server);
}

void TestImapReadAhead::answersInAnyOrderAmongUntaggedData()
{
    ScriptedImapServer server;
    ImapClient client;
    connectTo(client, server);
    server.expect("A001 EXAMINE \"Inbox\"").sendLine("* 4 EXISTS").sendLine("A001 OK done");
    QCOMPARE(client.selectMailbox(QStringLiteral("Inbox")), 1);
    client.setReadAhead(1, 3);
    server.expect(fetchCommand(2, 1))
        .expect(fetchCommand(3, 2))
        .expect(fetchCommand(4, 3))
        .sendLine("* 3 FETCH (FLAGS (\\Seen))") // another client changed a flag
        .send(fetchData(2))
        .sendLine("* 5 EXISTS")
        .sendLine(okLine(3)) // the second command finishes first
        .send(fetchData(3))
        .sendLine("* OK [ALERT] maintenance tonight")
        .send(fetchData(1))
        .sendLine(okLine(4))
        .sendLine(okLine(2));
    for (int n = 1; n <= 3; ++n) {
        const std::optional<MailMessage> m = client.fetchSingle(n, false);
        QVERIFY2(m.has_value(), qPrintable(client.lastErrorText()));
        QCOMPARE(m->Subject, QStringLiteral("message %1").arg(n));
    }
    QCOMPARE(client.numMessages(), 5);
    QVERIFY(server.scriptDone());
    VERIFY_NO_SERVER_ERRORS(server);
}

void TestImapReadAhead::failedCommandInTheMiddleFailsOnlyItsNumber()
{
    ScriptedImapServer server;
    ImapClient client;
    connectTo(client, server);
    client.setReadAhead(1, 4);
    answer(server, 1);
    server.expect(fetchCommand(2, 2)).sendLine("A002 BAD Error in IMAP command FETCH: Invalid messageset");
    server.expect(fetchCommand(3, 3)).sendLine("A003 NO Message is no longer available");
    answer(server, 4);
    QVERIFY(client.fetchSingle(1, false).has_value());
    QVERIFY(!client.fetchSingle(2, false).has_value());
    QVERIFY2(client.lastErrorText().contains(QStringLiteral("Invalid messageset")),
             qPrintable(client.lastErrorText()));
    QVERIFY(client.lastErrorText().contains(QStringLiteral("refused the fetch")));
    QVERIFY(!client.fetchSingle(3, false).has_value());
    QVERIFY(client.lastErrorText().contains(QStringLiteral("no longer available")));
    QVERIFY(!client.lastErrorText().contains(QStringLiteral("Invalid messageset")));
    const std::optional<MailMessage> last = client.fetchSingle(4, false);
    QVERIFY2(last.has_value(), qPrintable(client.lastErrorText()));
    QCOMPARE(last->Subject, QStringLiteral("message 4"));
    QCOMPARE(client.state(), ImapClient::State::Authenticated);
    VERIFY_NO_SERVER_ERRORS(server);
}

void TestImapReadAhead::numbersBeyondTheEndFailOneByOne()
{
    ScriptedImapServer server;
    ImapClient client;
    connectTo(client, server);
    server.expect("A001 EXAMINE \"Inbox\"").sendLine("* 2 EXISTS").sendLine("A001 OK done");
    QCOMPARE(client.selectMailbox(QStringLiteral("Inbox")), 1);
    client.setReadAhead(1, 5);
    for (int n = 1; n <= 2; ++n)
        server.expect(fetchCommand(n + 1, n)).send(fetchData(n)).sendLine(okLine(n + 1));
    for (int n = 3; n <= 5; ++n)
        server.expect(fetchCommand(n + 1, n))
            .sendLine(tagFor(n + 1) + " BAD Error in IMAP command FETCH: Invalid messageset");
    QList<bool> got;
    QStringList logs;
    for (int n = 1; n <= 5; ++n) {
        got.append(client.fetchSingle(n, false).has_value());
        logs.append(client.lastErrorText());
    }
    QCOMPARE(got, (QList<bool>{true, true, false, false, false}));
    for (int n = 3; n <= 5; ++n) {
        QVERIFY2(logs[n - 1].contains(QStringLiteral("%1 BAD").arg(QString::fromLatin1(tagFor(n + 1)))),
                 qPrintable(logs[n - 1]));
        QCOMPARE(logs[n - 1].count(QStringLiteral("BAD")), 1);
    }
    QCOMPARE(fetchesWritten(server), 5);
    VERIFY_NO_SERVER_ERRORS(server);
}

void TestImapReadAhead::stopSendsNothingMoreAndTheConnectionStaysUsable()
{
    ScriptedImapServer server;
    ImapClient client;
    StopSink sink;
    client.bindEvents(&sink);
    connectTo(client, server);
    client.setReadAhead(1, 20);
    answer(server, 1);
    // Message 2 comes slowly (chunks at 0, 30 and 60 ms); 3 to 6 follow at once.
    server.expect(fetchCommand(2, 2))
        .expect(fetchCommand(3, 3))
        .expect(fetchCommand(4, 4))
        .expect(fetchCommand(5, 5))
        .expect(fetchCommand(6, 6))
        .send("* 2 FETCH (BODY[] {" + QByteArray::number(message(2, 2500).size()) + "}\r\n")
        .sendSlowly(message(2, 2500) + ")\r\n" + okLine(2) + "\r\n", 1000, 30);
    for (int n = 3; n <= 6; ++n)
        server.send(fetchData(n)).sendLine(okLine(n));
    QVERIFY(client.fetchSingle(1, false).has_value());
    QCOMPARE(fetchesWritten(server), 4);

    sink.stop = true;
    QVERIFY(!client.fetchSingle(2, false).has_value());
    QVERIFY2(client.lastErrorText().contains(QStringLiteral("Abandoned")),
             qPrintable(client.lastErrorText()));
    QCOMPARE(server.clock().now(), 50); // at the first abort check
    const int sent = fetchesWritten(server);
    QCOMPARE(sent, 6); // the top-up before the wait, then nothing more

    // The fetches already sent still serve the walk while the stop flag stays up: the next
    // one comes from them as soon as the abandoned answer has passed.
    const std::optional<MailMessage> next = client.fetchSingle(3, false);
    QVERIFY2(next.has_value(), qPrintable(client.lastErrorText()));
    QCOMPARE(next->Subject, QStringLiteral("message 3"));
    QCOMPARE(server.clock().now(), 60);
    QCOMPARE(fetchesWritten(server), sent);

    // Another command skips what is still to come, then works.
    sink.stop = false;
    server.expect("A007 NOOP").sendLine("A007 OK");
    QCOMPARE(client.sendRawCommand(QStringLiteral("NOOP")), QStringLiteral("A007 OK"));
    QVERIFY(client.lastErrorText().contains(QStringLiteral("Skipping")));
    QCOMPARE(client.state(), ImapClient::State::Authenticated);
    QVERIFY(server.scriptDone());
    VERIFY_NO_SERVER_ERRORS(server);
}

void TestImapReadAhead::anotherCommandSkipsTheAnswersStillToCome()
{
    ScriptedImapServer server;
    ImapClient client;
    StopSink sink;
    client.bindEvents(&sink);
    connectTo(client, server);
    client.setReadAhead(1, 10);
    answer(server, 1);
    server.expect(fetchCommand(2, 2)).expect(fetchCommand(3, 3)).expect(fetchCommand(4, 4));
    QVERIFY(client.fetchSingle(1, false).has_value());
    // The answers to 2..4 come only now, while the next command waits its turn.
    server.wait(200);
    for (int n = 2; n <= 4; ++n)
        server.send(fetchData(n, 5000)).sendLine(okLine(n));
    server.expect("A005 EXAMINE \"Inbox\"").sendLine("* 9 EXISTS").sendLine("A005 OK done");
    QCOMPARE(client.selectMailbox(QStringLiteral("Inbox")), 1);
    QCOMPARE(client.numMessages(), 9);
    // Nothing of the old answers is taken for the new mailbox, and nothing more was fetched.
    QCOMPARE(fetchesWritten(server), 4);
    QVERIFY2(client.lastErrorText().contains(QStringLiteral("A002 to A004")),
             qPrintable(client.lastErrorText()));

    // Stopped while skipping: the connection stays usable once the rest has passed.
    client.setReadAhead(1, 9);
    server.expect(fetchCommand(6, 1))
        .expect(fetchCommand(7, 2))
        .expect(fetchCommand(8, 3))
        .expect(fetchCommand(9, 4))
        .send(fetchData(1))
        .sendLine(okLine(6));
    QVERIFY(client.fetchSingle(1, false).has_value());
    server.expect(fetchCommand(10, 5)).expect(fetchCommand(11, 6)); // the top-up before waiting for 2
    sink.stop = true;
    QVERIFY(!client.fetchSingle(2, false).has_value());
    QVERIFY(client.sendRawCommand(QStringLiteral("NOOP")).isEmpty()); // still stopping: gives up skipping
    sink.stop = false;
    for (int n = 2; n <= 6; ++n)
        server.send(fetchData(n)).sendLine(okLine(n + 5));
    server.expect("A012 NOOP").sendLine("A012 OK");
    const QString noop = client.sendRawCommand(QStringLiteral("NOOP"));
    QVERIFY2(noop == QStringLiteral("A012 OK"),
             qPrintable(client.lastErrorText() + server.errors().join(QLatin1Char(10))));
    QCOMPARE(fetchesWritten(server), 10);
    QVERIFY(server.scriptDone());
    VERIFY_NO_SERVER_ERRORS(server);
}

void TestImapReadAhead::byteBudgetBoundsTheFetchesInFlight()
{
    ScriptedImapServer server;
    ImapClient client;
    connectTo(client, server);
    constexpr int kCount = 30;
    constexpr qsizetype kSize = 30000;
    client.setReadAheadLimits(256, 100000); // room for three answers of this size
    client.setReadAhead(1, kCount);
    for (int n = 1; n <= kCount; ++n)
        answer(server, n, kSize);
    int mostAhead = 0;
    for (int n = 1; n <= kCount; ++n) {
        const int before = fetchesWritten(server);
        const std::optional<MailMessage> m = client.fetchSingle(n, false);
        QVERIFY2(m.has_value(), qPrintable(client.lastErrorText()));
        // Commands in flight while this one was waited for, itself included.
        const int inFlight = fetchesWritten(server) - (n - 1);
        if (n > 1)
            QVERIFY2(inFlight <= 3, qPrintable(QStringLiteral("%1 in flight at %2").arg(inFlight).arg(n)));
        mostAhead = qMax(mostAhead, inFlight);
        Q_UNUSED(before);
    }
    QCOMPARE(mostAhead, 4); // the first window, before any size was known
    QCOMPARE(fetchesWritten(server), kCount);

    // Small messages let the window grow well past that.
    ScriptedImapServer small;
    ImapClient fast;
    connectTo(fast, small);
    fast.setReadAhead(1, 600);
    for (int n = 1; n <= 600; ++n)
        answer(small, n);
    int widest = 0;
    int refills = 0; // calls from 301 to 500 that sent commands
    for (int n = 1; n <= 600; ++n) {
        const int before = fetchesWritten(small);
        QVERIFY(fast.fetchSingle(n, false).has_value());
        widest = qMax(widest, fetchesWritten(small) - n);
        if (n > 300 && n <= 500 && fetchesWritten(small) > before)
            ++refills;
    }
    QVERIFY2(widest >= 240, qPrintable(QString::number(widest)));
    QCOMPARE(fetchesWritten(small), 600);
    // The full window (256) is refilled sixteen commands at a time, not after every answer.
    QVERIFY2(refills > 0 && refills <= 200 / 16 + 1, qPrintable(QString::number(refills)));
    VERIFY_NO_SERVER_ERRORS(small);
}

void TestImapReadAhead::fetchOutOfOrderEndsTheReadAhead()
{
    ScriptedImapServer server;
    ImapClient client;
    connectTo(client, server);
    client.setReadAhead(1, 10);
    answer(server, 1);
    server.expect(fetchCommand(2, 2)).expect(fetchCommand(3, 3)).expect(fetchCommand(4, 4));
    QVERIFY(client.fetchSingle(1, false).has_value());
    for (int n = 2; n <= 4; ++n)
        server.send(fetchData(n)).sendLine(okLine(n));
    // Number 7 was not next: the answers in flight are skipped, 7 is fetched on its own.
    server.expect(fetchCommand(5, 7)).send(fetchData(7)).sendLine(okLine(5));
    const std::optional<MailMessage> m = client.fetchSingle(7, false);
    QVERIFY2(m.has_value(), qPrintable(client.lastErrorText()));
    QCOMPARE(m->Subject, QStringLiteral("message 7"));
    // And so are the numbers after it, one at a time.
    server.expect(fetchCommand(6, 8)).send(fetchData(8)).sendLine(okLine(6));
    QVERIFY(client.fetchSingle(8, false).has_value());
    QCOMPARE(fetchesWritten(server), 6);
    QVERIFY(server.scriptDone());
    VERIFY_NO_SERVER_ERRORS(server);
}

void TestImapReadAhead::progressBelongsToTheMessageAskedFor()
{
    ScriptedImapServer server;
    ImapClient client;
    QList<int> percents;
    struct Recorder : StopSink {
        QList<int>* seen = nullptr;
        void percentDone(int percent, bool&) override { seen->append(percent); }
    } recorder;
    recorder.seen = &percents;
    client.bindEvents(&recorder);
    connectTo(client, server);
    client.setReadAhead(1, 2);
    // The server answers 2 first, its literal slowly, then 1 at once.
    const QByteArray big = message(2, 20000);
    server.expect(fetchCommand(1, 1))
        .expect(fetchCommand(2, 2))
        .send("* 2 FETCH (BODY[] {" + QByteArray::number(big.size()) + "}\r\n")
        .sendSlowly(big + ")\r\n" + okLine(2) + "\r\n", 2000, 20)
        .send(fetchData(1))
        .sendLine(okLine(1));
    QVERIFY(client.fetchSingle(1, false).has_value());
    QCOMPARE(percents, QList<int>{100}); // nothing of message 2's literal
    percents.clear();
    QVERIFY(client.fetchSingle(2, false).has_value());
    QCOMPARE(percents, QList<int>{100}); // it had arrived whole meanwhile
    VERIFY_NO_SERVER_ERRORS(server);

    // Waiting for a message whose literal is arriving: its share rises to 100.
    client.setReadAhead(3, 3);
    const QByteArray third = message(3, 20000);
    server.expect(fetchCommand(3, 3))
        .send("* 3 FETCH (BODY[] {" + QByteArray::number(third.size()) + "}\r\n")
        .sendSlowly(third + ")\r\n" + okLine(3) + "\r\n", 2000, 20);
    percents.clear();
    QVERIFY(client.fetchSingle(3, false).has_value());
    QVERIFY2(percents.size() >= 3, qPrintable(QString::number(percents.size())));
    QCOMPARE(percents.last(), 100);
    for (qsizetype i = 1; i < percents.size(); ++i)
        QVERIFY(percents[i] > percents[i - 1]);
}

void TestImapReadAhead::endingTheReadAheadFromAHandler()
{
    ScriptedImapServer server;
    ImapClient client;
    struct Clearing : ImapEventSink {
        ImapClient* client = nullptr;
        void abortCheck(bool&) override { client->clearReadAhead(); }
        void percentDone(int, bool&) override {}
    } sink;
    sink.client = &client;
    client.bindEvents(&sink);
    connectTo(client, server);
    client.setReadAhead(1, 4);
    server.expect(fetchCommand(1, 1))
        .expect(fetchCommand(2, 2))
        .expect(fetchCommand(3, 3))
        .expect(fetchCommand(4, 4))
        .wait(100); // the first abort check comes before any answer
    for (int n = 1; n <= 4; ++n)
        server.send(fetchData(n)).sendLine(okLine(n));
    QVERIFY(!client.fetchSingle(1, false).has_value());
    QVERIFY2(client.lastErrorText().contains(QStringLiteral("ended during the call")),
             qPrintable(client.lastErrorText()));
    client.bindEvents(nullptr);
    server.expect("A005 NOOP").sendLine("A005 OK");
    QCOMPARE(client.sendRawCommand(QStringLiteral("NOOP")), QStringLiteral("A005 OK"));
    VERIFY_NO_SERVER_ERRORS(server);
}

void TestImapReadAhead::dropWhileAnswersAreInFlight()
{
    ScriptedImapServer server;
    ImapClient client;
    connectTo(client, server);
    client.setReadAhead(1, 10);
    answer(server, 1);
    server.expect(fetchCommand(2, 2)).expect(fetchCommand(3, 3)).expect(fetchCommand(4, 4));
    QVERIFY(client.fetchSingle(1, false).has_value());
    server.send(fetchData(2)).sendLine(okLine(2)).send("* 3 FETCH (BODY[] {1000}\r\nabc").drop();
    QVERIFY(client.fetchSingle(2, false).has_value());
    QVERIFY(!client.fetchSingle(3, false).has_value());
    QVERIFY2(client.lastErrorText().contains(QStringLiteral("3 of 1000 bytes")),
             qPrintable(client.lastErrorText()));
    QCOMPARE(client.state(), ImapClient::State::NotConnected);
    QVERIFY(!client.fetchSingle(4, false).has_value());
    QVERIFY(client.lastErrorText().contains(QStringLiteral("Not connected")));
}

// Sizes and structures first, then each message as it needs: whole when it is all text, its
// header and text part when it has an attachment, whole when its structure cannot be read. The
// first range's messages are asked for in their first 16,384 bytes with its structures: a shorter
// answer is the message, a full one is fetched again as its structure says.
void TestImapReadAhead::structureFirstWalk()
{
    ScriptedImapServer server;
    ImapClient client;
    StopSink sink;
    client.bindEvents(&sink);
    connectTo(client, server, true);
    client.setReadAhead(1, 4);
    const QByteArray large3 = message(3, 20000);
    const QByteArray large4 = message(4, 20000);
    server.expect(structureCommand(1, 1, 4));
    for (int n = 1; n <= 4; ++n)
        server.expect(partialCommand(n + 1, n));
    server.send(plainStructure(1) + attachedStructure(2))
        .sendLine("* 3 FETCH (RFC822.SIZE " + QByteArray::number(large3.size()) + " BODYSTRUCTURE NIL)")
        .sendLine("* 4 FETCH (RFC822.SIZE " + QByteArray::number(large4.size()) +
                  " BODYSTRUCTURE (\"text\"))")
        .sendLine(okLine(1))
        // Larger than the first bytes: at once, the parts of one to be fetched in parts, and the
        // rest of the bytes of those to be fetched whole.
        .expect(partsCommand(6, 2))
        .expect(restCommand(7, 3, large3.size()))
        .expect(restCommand(8, 4, large4.size()))
        .send(partialData(1, message(1)))
        .sendLine(okLine(2))
        // Message 2's first bytes come slowly, while it is awaited, and are skipped.
        .sendSlowly(partialData(2, attachedMessage(2)) + okLine(3) + "\r\n", 4000, 10)
        .send(partialData(3, large3))
        .sendLine(okLine(4))
        .send(partialData(4, large4))
        .sendLine(okLine(5))
        .send(partsData(2))
        .sendLine(okLine(6))
        .send(restData(3, large3))
        .sendLine(okLine(7))
        .send(restData(4, large4))
        .sendLine(okLine(8));
    const std::optional<MailMessage> first = client.fetchSingle(1, false);
    QVERIFY2(first.has_value(), qPrintable(client.lastErrorText()));
    QCOMPARE(first->Subject, QStringLiteral("message 1"));
    // The structure command and the partial fetches of its range together, before any answer;
    // the first message's partial answer is the message.
    QByteArray firstWrite = structureCommand(1, 1, 4) + "\r\n";
    for (int n = 1; n <= 4; ++n)
        firstWrite += partialCommand(n + 1, n) + "\r\n";
    QVERIFY(server.written().startsWith(firstWrite));
    QString log = client.lastErrorText();
    QVERIFY2(log.contains(QString::fromLatin1(partialCommand(2, 1))), qPrintable(log));
    QVERIFY2(!log.contains(QStringLiteral("fetched as planned")), qPrintable(log));

    // A larger message: its header and text part as its structure says. Its first bytes report
    // no progress (they tell nothing of how far the message has come); the parts, which come at
    // once, report its end.
    sink.percents.clear();
    const std::optional<MailMessage> second = client.fetchSingle(2, false);
    QVERIFY2(second.has_value(), qPrintable(client.lastErrorText()));
    QCOMPARE(sink.percents, QList<int>{100});
    // The same message object as from the whole message, the attachment never fetched.
    QCOMPARE(fields(*second), fields(MailMessage::fromBytes(attachedMessage(2))));
    QCOMPARE(second->PlainTextBody, QStringLiteral("Grüße, the report is attached."));
    QCOMPARE(second->FromName, QStringLiteral("Jürgen"));
    log = client.lastErrorText();
    QVERIFY2(
        log.contains(QStringLiteral("The first 16384 bytes are not the whole message; fetched as planned.")),
        qPrintable(log));
    QVERIFY2(log.contains(QStringLiteral("Rebuilt from its header and the parts 1.")), qPrintable(log));
    QVERIFY2(log.contains(QString::fromLatin1(okLine(6))), qPrintable(log));
    QVERIFY2(!log.contains(QStringLiteral("BODYSTRUCTURE")), qPrintable(log)); // no structure in its log
    QVERIFY2(!log.contains(QStringLiteral("BODY[]<0>")), qPrintable(log));     // nor the skipped answer

    // Structures that cannot be read: whole, from the first bytes and the rest.
    for (int n = 3; n <= 4; ++n) {
        const std::optional<MailMessage> m = client.fetchSingle(n, false);
        QVERIFY2(m.has_value(), qPrintable(client.lastErrorText()));
        // The date the first bytes came with: the rest is asked for without it.
        QCOMPARE(fields(*m), fields(MailMessage::fromBytes(message(n, 20000), kInternalDate)));
        QVERIFY2(client.lastErrorText().contains(
                     QStringLiteral("Put together from its first 16384 bytes and the rest.")),
                 qPrintable(client.lastErrorText()));
    }
    QVERIFY(!server.written().contains("BODY.PEEK[2]"));
    QCOMPARE(fetchesWritten(server), 8);
    QVERIFY(server.scriptDone());
    VERIFY_NO_SERVER_ERRORS(server);
}

// A server that will not give the parts gives the whole message, within the same call; the
// partial fetch, known too short once the structure is in, is no matter.
void TestImapReadAhead::refusedPartsFetchTheWholeMessage()
{
    ScriptedImapServer server;
    ImapClient client;
    connectTo(client, server, true);
    client.setReadAhead(2, 2);
    server.expect(tagFor(1) + " FETCH 2 (RFC822.SIZE BODYSTRUCTURE)")
        .expect(partialCommand(2, 2))
        .send(attachedStructure(2))
        .sendLine(okLine(1))
        .expect(partsCommand(3, 2))
        .sendLine(tagFor(2) + " NO [SERVERBUG] Partial fetch not available") // no matter now
        .sendLine(tagFor(3) + " NO [SERVERBUG] Section not available")
        .expect(fetchCommand(4, 2))
        .send(wholeAttachedData(2))
        .sendLine(okLine(4));
    const std::optional<MailMessage> m = client.fetchSingle(2, false);
    QVERIFY2(m.has_value(), qPrintable(client.lastErrorText()));
    QCOMPARE(fields(*m), fields(MailMessage::fromBytes(attachedMessage(2))));
    const QString log = client.lastErrorText();
    QVERIFY2(
        log.contains(QStringLiteral("The first 16384 bytes are not the whole message; fetched as planned.")),
        qPrintable(log));
    QVERIFY2(log.contains(QStringLiteral("the whole message is fetched")), qPrintable(log));
    QVERIFY2(log.contains(QString::fromLatin1(partsCommand(3, 2))), qPrintable(log));
    QVERIFY2(log.contains(QString::fromLatin1(fetchCommand(4, 2))), qPrintable(log));
    QCOMPARE(client.lastFailure().kind, ImapFailure::Kind::None);
    QVERIFY(server.scriptDone());
    VERIFY_NO_SERVER_ERRORS(server);
}

// The rest of a message after its first bytes: refused, asked for after a refused partial fetch,
// or longer than the message's size said. Each time the whole message is fetched within the call.
void TestImapReadAhead::aRestThatDoesNotComeAsAskedFetchesWhole()
{
    ScriptedImapServer server;
    ImapClient client;
    connectTo(client, server, true);
    client.setReadAhead(1, 3);
    const QByteArray large = message(0, 20000); // the same size for all three
    server.expect(structureCommand(1, 1, 3));
    for (int n = 1; n <= 3; ++n)
        server.expect(partialCommand(n + 1, n));
    for (int n = 1; n <= 3; ++n)
        server.sendLine("* " + QByteArray::number(n) + " FETCH (RFC822.SIZE " +
                        QByteArray::number(large.size()) + " BODYSTRUCTURE NIL)");
    server.sendLine(okLine(1));
    for (int n = 1; n <= 3; ++n)
        server.expect(restCommand(n + 4, n, large.size()));
    server.send(partialData(1, message(1, 20000)))
        .sendLine(okLine(2))
        .sendLine(tagFor(3) + " NO [SERVERBUG] Partial fetch not available")
        .send(partialData(3, message(3, 20000)))
        .sendLine(okLine(4))
        .sendLine(tagFor(5) + " NO [SERVERBUG] Section not available")
        .send(restData(2, message(2, 20000))) // skipped: its first bytes never came
        .sendLine(okLine(6))
        .sendLine("* 3 FETCH (BODY[]<16384> " + literal(QByteArray(large.size(), 'y')) + ")")
        .sendLine(okLine(7))
        .expect(fetchCommand(8, 1))
        .send(fetchData(1, 20000))
        .sendLine(okLine(8))
        .expect(fetchCommand(9, 2))
        .send(fetchData(2, 20000))
        .sendLine(okLine(9))
        .expect(fetchCommand(10, 3))
        .send(fetchData(3, 20000))
        .sendLine(okLine(10));
    const QStringList notes{
        QStringLiteral("The rest of the message did not come as asked"),
        QStringLiteral("The fetch of the first 16384 bytes was refused; fetched as planned."),
        QStringLiteral("The rest of the message did not come as asked")};
    for (int n = 1; n <= 3; ++n) {
        const std::optional<MailMessage> m = client.fetchSingle(n, false);
        const QString log = client.lastErrorText();
        QVERIFY2(m.has_value(), qPrintable(log));
        QCOMPARE(fields(*m), fields(MailMessage::fromBytes(message(n, 20000), kInternalDate)));
        QVERIFY2(log.contains(notes[n - 1]), qPrintable(log));
        QVERIFY2(!log.contains(QStringLiteral("Put together")), qPrintable(log));
    }
    QCOMPARE(client.lastFailure().kind, ImapFailure::Kind::None);
    QCOMPARE(fetchesWritten(server), 10);
    QVERIFY(server.scriptDone());
    VERIFY_NO_SERVER_ERRORS(server);
}

// Small messages of known size share one fetch command. Each is served as soon as its own data
// is in; those a refused command left without data are fetched on their own; an answer still due
// when the walk ends is skipped before the next command; a Stop abandons only the number awaited.
void TestImapReadAhead::smallMessagesShareOneCommand()
{
    ScriptedImapServer server;
    ImapClient client;
    connectTo(client, server, true);
    client.setReadAheadLimits(1000, 100); // the first message in part, then three of 24 bytes
    client.setReadAhead(1, 4);
    QByteArray structures;
    for (int n = 1; n <= 4; ++n)
        structures += plainStructure(n);
    server.expect(structureCommand(1, 1, 4))
        .expect(partialCommand(2, 1))
        .send(structures)
        .sendLine(okLine(1))
        .expect(rangeCommand(3, 2, 4))
        .send(partialData(1, message(1)))
        .sendLine(okLine(2))
        .send(fetchData(2))
        .sendLine(tagFor(3) + " NO [SERVERBUG] Some messages could not be fetched")
        .expect(fetchCommand(4, 3))
        .send(fetchData(3))
        .sendLine(okLine(4))
        .expect(fetchCommand(5, 4))
        .send(fetchData(4))
        .sendLine(okLine(5));
    for (int n = 1; n <= 4; ++n) {
        const std::optional<MailMessage> m = client.fetchSingle(n, false);
        const QString log = client.lastErrorText();
        QVERIFY2(m.has_value(), qPrintable(log));
        QCOMPARE(m->Subject, QStringLiteral("message %1").arg(n));
        QCOMPARE(
            log.contains(QStringLiteral("The shared fetch was refused; the message is fetched on its own.")),
            n >= 3);
    }
    QCOMPARE(fetchesWritten(server), 5);

    // Both messages served before the shared answer; it comes while the next command waits.
    client.setReadAhead(1, 3);
    server.expect(structureCommand(6, 1, 3)).expect(partialCommand(7, 1));
    structures.clear();
    for (int n = 1; n <= 3; ++n)
        structures += plainStructure(n);
    server.send(structures)
        .sendLine(okLine(6))
        .expect(rangeCommand(8, 2, 3))
        .send(partialData(1, message(1)))
        .sendLine(okLine(7))
        .send(fetchData(2))
        .send(fetchData(3));
    for (int n = 1; n <= 3; ++n) {
        const std::optional<MailMessage> m = client.fetchSingle(n, false);
        QVERIFY2(m.has_value(), qPrintable(client.lastErrorText()));
        QCOMPARE(m->Subject, QStringLiteral("message %1").arg(n));
    }
    server.sendLine(okLine(8));
    server.expect("A009 NOOP").sendLine("A009 OK");
    const QString noop = client.sendRawCommand(QStringLiteral("NOOP"));
    QVERIFY2(noop == QStringLiteral("A009 OK"),
             qPrintable(client.lastErrorText() + server.errors().join(QLatin1Char(10))));

    // Stopped while waiting for one number of a shared command: the others still serve the
    // numbers after it, and the connection stays usable.
    StopSink sink;
    client.bindEvents(&sink);
    client.setReadAhead(1, 4);
    structures.clear();
    for (int n = 1; n <= 4; ++n)
        structures += plainStructure(n);
    server.expect(structureCommand(10, 1, 4))
        .expect(partialCommand(11, 1))
        .send(structures)
        .sendLine(okLine(10))
        .expect(rangeCommand(12, 2, 4))
        .send(partialData(1, message(1)))
        .sendLine(okLine(11));
    QVERIFY(client.fetchSingle(1, false).has_value());
    sink.stop = true;
    QVERIFY(!client.fetchSingle(2, false).has_value());
    sink.stop = false;
    for (int n = 2; n <= 4; ++n)
        server.send(fetchData(n));
    server.sendLine(okLine(12));
    for (int n = 3; n <= 4; ++n) {
        const std::optional<MailMessage> m = client.fetchSingle(n, false);
        QVERIFY2(m.has_value(), qPrintable(client.lastErrorText()));
        QCOMPARE(m->Subject, QStringLiteral("message %1").arg(n));
    }
    server.expect("A013 NOOP").sendLine("A013 OK");
    QCOMPARE(client.sendRawCommand(QStringLiteral("NOOP")), QStringLiteral("A013 OK"));
    QCOMPARE(fetchesWritten(server), 11); // nothing fetched again
    QVERIFY(server.scriptDone());
    VERIFY_NO_SERVER_ERRORS(server);
}

// A server that does not answer the structure command fetches the walk whole: a refused partial
// fetch, a full one and one that cannot be read are fetched again whole, a short one is the
// message.
void TestImapReadAhead::refusedStructureFetchesWhole()
{
    ScriptedImapServer server;
    ImapClient client;
    connectTo(client, server, true);
    client.setReadAhead(1, 4);
    server.expect(structureCommand(1, 1, 4));
    for (int n = 1; n <= 4; ++n)
        server.expect(partialCommand(n + 1, n));
    server.sendLine(tagFor(1) + " BAD Error in IMAP command FETCH: Unknown item")
        .sendLine(tagFor(2) + " NO [SERVERBUG] Partial fetch not available")
        .send(partialData(2, message(2, 20000)))
        .sendLine(okLine(3))
        .send(partialData(3, message(3)))
        .sendLine(okLine(4))
        .sendLine("* 4 FETCH (BODY[]<0>)") // cannot be read
        .sendLine(okLine(5))
        .expect(fetchCommand(6, 1))
        .send(fetchData(1))
        .sendLine(okLine(6))
        .expect(fetchCommand(7, 2))
        .send(fetchData(2, 20000))
        .sendLine(okLine(7))
        .expect(fetchCommand(8, 4))
        .send(fetchData(4))
        .sendLine(okLine(8));
    const QStringList notes{
        QStringLiteral("The fetch of the first 16384 bytes was refused; fetched as planned."),
        QStringLiteral("The first 16384 bytes were not the whole message; fetched as planned."), QString(),
        QStringLiteral("The first 16384 bytes could not be read; fetched as planned.")};
    for (int n = 1; n <= 4; ++n) {
        const std::optional<MailMessage> m = client.fetchSingle(n, false);
        const QString log = client.lastErrorText();
        QVERIFY2(m.has_value(), qPrintable(log));
        QCOMPARE(m->Subject, QStringLiteral("message %1").arg(n));
        QVERIFY2(notes[n - 1].isEmpty() ? !log.contains(QStringLiteral("fetched as planned"))
                                        : log.contains(notes[n - 1]),
                 qPrintable(log));
        if (n == 1) {
            QVERIFY2(log.contains(QStringLiteral("messages are fetched whole")), qPrintable(log));
            QVERIFY2(log.contains(QStringLiteral("Partial fetch not available")), qPrintable(log));
        }
        if (n == 2)
            QCOMPARE(m->PlainTextBody, MailMessage::fromBytes(message(n, 20000)).PlainTextBody);
    }
    QCOMPARE(fetchesWritten(server), 8);
    QVERIFY(server.scriptDone());
    VERIFY_NO_SERVER_ERRORS(server);
}

// Gone between its structure and its fetch: the first bytes and the parts come back empty, the
// whole message is refused, and the message fails as a whole fetch of it would; the walk goes on.
void TestImapReadAhead::expungedBetweenStructureAndFetch()
{
    ScriptedImapServer server;
    ImapClient client;
    connectTo(client, server, true);
    client.setReadAhead(1, 2);
    server.expect(structureCommand(1, 1, 2))
        .expect(partialCommand(2, 1))
        .expect(partialCommand(3, 2))
        .send(attachedStructure(1) + attachedStructure(2))
        .sendLine(okLine(1))
        .expect(partsCommand(4, 1))
        .expect(partsCommand(5, 2))
        .sendLine(okLine(2)) // no data: Dovecot's answer for a message expunged meanwhile
        .send(partialData(2, attachedMessage(2)))
        .sendLine(okLine(3))
        .sendLine(okLine(4))
        .send(partsData(2))
        .sendLine(okLine(5))
        .expect(fetchCommand(6, 1))
        .sendLine(tagFor(6) + " NO [EXPUNGEISSUED] Some of the requested messages no longer exist");
    QVERIFY(!client.fetchSingle(1, false).has_value());
    QCOMPARE(client.lastFailure().kind, ImapFailure::Kind::Refused);
    QCOMPARE(client.lastFailure().code, QByteArray("EXPUNGEISSUED"));
    const std::optional<MailMessage> m = client.fetchSingle(2, false);
    QVERIFY2(m.has_value(), qPrintable(client.lastErrorText()));
    QCOMPARE(fields(*m), fields(MailMessage::fromBytes(attachedMessage(2))));
    QVERIFY(server.scriptDone());
    VERIFY_NO_SERVER_ERRORS(server);
}

// Stop while the first range is coming: the call ends at the next abort check, nothing more is
// sent, the partial fetches already sent still serve the numbers after it, and the next command
// skips what is left of their answers.
void TestImapReadAhead::stopWhileStructuresAreComing()
{
    ScriptedImapServer server;
    ImapClient client;
    StopSink sink;
    client.bindEvents(&sink);
    connectTo(client, server, true);
    client.setReadAhead(1, 3);
    server.expect(structureCommand(1, 1, 3));
    for (int n = 1; n <= 3; ++n)
        server.expect(partialCommand(n + 1, n));
    server.wait(200).send(plainStructure(1) + plainStructure(2) + plainStructure(3)).sendLine(okLine(1));
    for (int n = 1; n <= 3; ++n)
        server.send(partialData(n, message(n))).sendLine(okLine(n + 1));
    sink.stop = true;
    QVERIFY(!client.fetchSingle(1, false).has_value());
    QCOMPARE(client.lastFailure().kind, ImapFailure::Kind::Aborted);
    QCOMPARE(server.clock().now(), 50); // at the first abort check
    QCOMPARE(client.state(), ImapClient::State::Authenticated);

    sink.stop = false;
    const std::optional<MailMessage> m = client.fetchSingle(2, false);
    QVERIFY2(m.has_value(), qPrintable(client.lastErrorText()));
    QCOMPARE(m->Subject, QStringLiteral("message 2"));
    QCOMPARE(fetchesWritten(server), 4);

    server.expect("A005 NOOP").sendLine("A005 OK");
    QCOMPARE(client.sendRawCommand(QStringLiteral("NOOP")), QStringLiteral("A005 OK"));
    QVERIFY2(client.lastErrorText().contains(QStringLiteral("Skipping")), qPrintable(client.lastErrorText()));
    QCOMPARE(client.state(), ImapClient::State::Authenticated);
    QVERIFY(server.scriptDone());
    VERIFY_NO_SERVER_ERRORS(server);
}

// A lost connection forgets what was learnt; the walk that resumes on a new one asks again, its
// first range in part again.
void TestImapReadAhead::reconnectStartsWithStructuresAgain()
{
    ScriptedImapServer server;
    ImapClient client;
    connectTo(client, server, true);
    client.setReadAhead(1, 3);
    server.expect(structureCommand(1, 1, 3));
    for (int n = 1; n <= 3; ++n)
        server.expect(partialCommand(n + 1, n));
    server.send(plainStructure(1) + attachedStructure(2) + attachedStructure(3))
        .sendLine(okLine(1))
        .expect(partsCommand(5, 2))
        .expect(partsCommand(6, 3))
        .send(partialData(1, message(1)))
        .sendLine(okLine(2))
        .send("* 2 FETCH (BODY[]<0> {16384}\r\nSubject")
        .drop();
    QVERIFY(client.fetchSingle(1, false).has_value());
    QVERIFY(!client.fetchSingle(2, false).has_value());
    QCOMPARE(client.lastFailure().kind, ImapFailure::Kind::ConnectionLost);
    QCOMPARE(client.state(), ImapClient::State::NotConnected);

    server.acceptNext()
        .sendLine("* PREAUTH again")
        .expect(structureCommand(1, 2, 3))
        .expect(partialCommand(2, 2))
        .expect(partialCommand(3, 3))
        .send(attachedStructure(2) + attachedStructure(3))
        .sendLine(okLine(1))
        .expect(partsCommand(4, 2))
        .expect(partsCommand(5, 3))
        .send(partialData(2, attachedMessage(2)))
        .sendLine(okLine(2))
        .send(partsData(2))
        .sendLine(okLine(4));
    QCOMPARE(client.connect(QStringLiteral("127.0.0.1")), 1);
    client.setReadAhead(2, 3);
    const std::optional<MailMessage> m = client.fetchSingle(2, false);
    QVERIFY2(m.has_value(), qPrintable(client.lastErrorText()));
    QCOMPARE(fields(*m), fields(MailMessage::fromBytes(attachedMessage(2))));
    QVERIFY(server.scriptDone());
    VERIFY_NO_SERVER_ERRORS(server);
}

// The first range leaves at once, each message asked for in part; a structure that arrives after
// its message was served is no matter. With the sizes known, everything the byte budget holds
// leaves at once, a partial fetch counted at its message's size.
void TestImapReadAhead::sizesKnownFillTheLinkWithinTheByteBudget()
{
    {
        ScriptedImapServer server;
        ImapClient client;
        connectTo(client, server, true);
        client.setReadAhead(1, 30);
        server.expect(structureCommand(1, 1, 30));
        QByteArray firstWrite = structureCommand(1, 1, 30) + "\r\n";
        for (int n = 1; n <= 30; ++n) {
            server.expect(partialCommand(n + 1, n));
            firstWrite += partialCommand(n + 1, n) + "\r\n";
        }
        QByteArray structures;
        for (int n = 1; n <= 30; ++n)
            structures += plainStructure(n);
        server.send(partialData(1, message(1))).sendLine(okLine(2)); // before the structures
        server.send(structures).sendLine(okLine(1));
        for (int n = 2; n <= 30; ++n)
            server.send(partialData(n, message(n))).sendLine(okLine(n + 1));
        for (int n = 1; n <= 30; ++n) {
            const std::optional<MailMessage> m = client.fetchSingle(n, false);
            QVERIFY2(m.has_value(), qPrintable(client.lastErrorText()));
            QCOMPARE(m->Subject, QStringLiteral("message %1").arg(n));
            QVERIFY2(client.lastErrorText().contains(QString::fromLatin1(partialCommand(n + 1, n).mid(5))),
                     qPrintable(client.lastErrorText()));
            if (n == 1)
                QCOMPARE(server.written(), firstWrite);
        }
        QCOMPARE(fetchesWritten(server), 31); // no second fetch for any of them
        QVERIFY(server.scriptDone());
        VERIFY_NO_SERVER_ERRORS(server);
    }
    {
        // 100 bytes: the first message asked for in part (one at least), then, its size known,
        // three more of 24 bytes, not a fourth, in one command.
        ScriptedImapServer server;
        ImapClient client;
        connectTo(client, server, true);
        client.setReadAheadLimits(1000, 100);
        client.setReadAhead(1, 9);
        server.expect(structureCommand(1, 1, 9)).expect(partialCommand(2, 1));
        QByteArray structures;
        for (int n = 1; n <= 9; ++n)
            structures += plainStructure(n);
        server.send(structures).sendLine(okLine(1));
        server.expect(rangeCommand(3, 2, 4));
        server.send(partialData(1, message(1))).sendLine(okLine(2));
        QVERIFY(client.fetchSingle(1, false).has_value());
        QCOMPARE(fetchesWritten(server), 3);
        QCOMPARE(message(1).size(), 24);
        QVERIFY(server.scriptDone());
        VERIFY_NO_SERVER_ERRORS(server);
    }
}

// Servers refuse a whole range that passes the mailbox's end: structures and partial fetches are
// asked up to it, and a number past it is fetched whole and fails on its own.
void TestImapReadAhead::structuresStopAtTheMailboxEnd()
{
    ScriptedImapServer server;
    ImapClient client;
    connectTo(client, server, true);
    server.expect("A001 EXAMINE \"Inbox\"").sendLine("* 2 EXISTS").sendLine("A001 OK done");
    QCOMPARE(client.selectMailbox(QStringLiteral("Inbox")), 1);
    client.setReadAhead(1, 3);
    server.expect(structureCommand(2, 1, 2))
        .expect(partialCommand(3, 1))
        .expect(partialCommand(4, 2))
        .expect(fetchCommand(5, 3))
        .send(plainStructure(1) + plainStructure(2))
        .sendLine(okLine(2))
        .send(partialData(1, message(1)))
        .sendLine(okLine(3))
        .send(partialData(2, message(2)))
        .sendLine(okLine(4))
        .sendLine(tagFor(5) + " BAD Error in IMAP command FETCH: Invalid messageset");
    for (int n = 1; n <= 2; ++n) {
        const std::optional<MailMessage> m = client.fetchSingle(n, false);
        QVERIFY2(m.has_value(), qPrintable(client.lastErrorText()));
        QCOMPARE(m->Subject, QStringLiteral("message %1").arg(n));
    }
    QVERIFY(!client.fetchSingle(3, false).has_value());
    QCOMPARE(client.lastFailure().kind, ImapFailure::Kind::Refused);
    QVERIFY(server.scriptDone());
    VERIFY_NO_SERVER_ERRORS(server);
}

// The second range's structures come while the first message is awaited: its fetches leave at
// once, not after that message.
void TestImapReadAhead::structuresArrivingDuringAWaitSendTheirFetches()
{
    ScriptedImapServer server;
    ImapClient client;
    connectTo(client, server, true);
    client.setReadAheadLimits(256, 50 * 16384 * 2); // the first range alone is asked for in part
    client.setReadAhead(1, 60);
    QByteArray first;
    for (int n = 1; n <= 50; ++n)
        first += plainStructure(n);
    QByteArray second;
    for (int n = 51; n <= 60; ++n)
        second += plainStructure(n);
    // The first range's partial fetches behind its structure command and the next range's: the
    // second range's structures come before the first messages, and its fetches leave before they
    // are read.
    server.expect(structureCommand(1, 1, 50)).expect(structureCommand(2, 51, 60));
    for (int n = 1; n <= 50; ++n)
        server.expect(partialCommand(n + 2, n));
    server.send(first).sendLine(okLine(1)).send(second).sendLine(okLine(2));
    server.expect(rangeCommand(53, 51, 60));
    for (int n = 1; n <= 50; ++n)
        server.send(partialData(n, message(n))).sendLine(okLine(n + 2));
    for (int n = 51; n <= 60; ++n)
        server.send(fetchData(n));
    server.sendLine(okLine(53));
    for (int n = 1; n <= 60; ++n) {
        const std::optional<MailMessage> m = client.fetchSingle(n, false);
        QVERIFY2(m.has_value(), qPrintable(client.lastErrorText()));
        QCOMPARE(m->Subject, QStringLiteral("message %1").arg(n));
    }
    QVERIFY(server.scriptDone());
    VERIFY_NO_SERVER_ERRORS(server);
}

// Past the first range, the numbers whose first bytes fit in half the byte budget are asked for in
// part with one shared command behind their structure command. A small message is served by its
// data at once; a larger one fetched whole has its rest asked for and put together; one fetched
// in parts has its partial answer skipped; one the refused command left without data is fetched
// as planned.
void TestImapReadAhead::numbersPastTheFirstRangeShareTheirPartialFetch()
{
    ScriptedImapServer server;
    ImapClient client;
    connectTo(client, server, true);
    client.setReadAheadLimits(256, 60 * 16384 * 2);
    client.setReadAhead(1, 60);
    const QByteArray large = message(55, 20000);
    server.expect(structureCommand(1, 1, 50)).expect(structureCommand(2, 51, 60));
    for (int n = 1; n <= 50; ++n)
        server.expect(partialCommand(n + 2, n));
    server.expect(tagFor(53) + " FETCH 51:60 (BODY.PEEK[]<0.16384> INTERNALDATE)");
    QByteArray structures;
    for (int n = 1; n <= 50; ++n)
        structures += plainStructure(n);
    server.send(structures).sendLine(okLine(1));
    structures.clear();
    for (int n = 51; n <= 60; ++n) {
        structures += n == 55 ? "* 55 FETCH (RFC822.SIZE " + QByteArray::number(large.size()) +
                                    " BODYSTRUCTURE NIL)\r\n"
                      : n == 57 ? attachedStructure(57)
                                : plainStructure(n);
    }
    server.send(structures).sendLine(okLine(2));
    server.expect(restCommand(54, 55, large.size())).expect(partsCommand(55, 57));
    for (int n = 1; n <= 50; ++n)
        server.send(partialData(n, message(n))).sendLine(okLine(n + 2));
    for (int n = 51; n <= 60; ++n) {
        if (n != 59)
            server.send(partialData(n, n == 55 ? large : n == 57 ? attachedMessage(57) : message(n)));
    }
    server.sendLine(tagFor(53) + " NO Some messages could not be FETCHed (failed)")
        .send(restData(55, large))
        .sendLine(okLine(54))
        .send(partsData(57))
        .sendLine(okLine(55))
        .expect(fetchCommand(56, 59))
        .send(fetchData(59))
        .sendLine(okLine(56));
    for (int n = 1; n <= 60; ++n) {
        const std::optional<MailMessage> m = client.fetchSingle(n, false);
        const QString log = client.lastErrorText();
        QVERIFY2(m.has_value(), qPrintable(log));
        if (n == 55) {
            QCOMPARE(fields(*m), fields(MailMessage::fromBytes(large, kInternalDate)));
            QVERIFY2(log.contains(QStringLiteral("Put together from its first 16384 bytes and the rest.")),
                     qPrintable(log));
        } else if (n == 57) {
            QCOMPARE(fields(*m), fields(MailMessage::fromBytes(attachedMessage(57), kInternalDate)));
            QVERIFY2(log.contains(QStringLiteral("Rebuilt from its header and the parts 1.")),
                     qPrintable(log));
        } else {
            QCOMPARE(m->Subject, QStringLiteral("message %1").arg(n));
        }
        QCOMPARE(log.contains(
                     QStringLiteral("The fetch of the first 16384 bytes was refused; fetched as planned.")),
                 n == 59);
    }
    QCOMPARE(client.lastFailure().kind, ImapFailure::Kind::None);
    QCOMPARE(fetchesWritten(server), 56);
    QVERIFY(server.scriptDone());
    VERIFY_NO_SERVER_ERRORS(server);
}

// A walk set up before its mailbox is selected goes out right behind the EXAMINE, before the
// answer: the script below answers nothing until it has read all of it. A refused EXAMINE ends
// the walk, and the answers to what went out with it are skipped before the next command.
void TestImapReadAhead::aWalkSetBeforeTheSelectionLeavesWithItsExamine()
{
    ScriptedImapServer server;
    ImapClient client;
    connectTo(client, server, true);
    client.setReadAhead(1, 2);
    const QByteArray examine = tagFor(1) + " EXAMINE \"Inbox\"";
    server.expect(examine)
        .expect(structureCommand(2, 1, 2))
        .expect(partialCommand(3, 1))
        .expect(partialCommand(4, 2))
        .sendLine("* 2 EXISTS")
        .sendLine(tagFor(1) + " OK [READ-ONLY] Examine completed.")
        .send(plainStructure(1) + plainStructure(2))
        .sendLine(okLine(2))
        .send(partialData(1, message(1)))
        .sendLine(okLine(3))
        .send(partialData(2, message(2)))
        .sendLine(okLine(4));
    QCOMPARE(client.selectMailbox(QStringLiteral("Inbox")), 1);
    QCOMPARE(client.numMessages(), 2);
    for (int n = 1; n <= 2; ++n) {
        const std::optional<MailMessage> m = client.fetchSingle(n, false);
        QVERIFY2(m.has_value(), qPrintable(client.lastErrorText()));
        QCOMPARE(m->Subject, QStringLiteral("message %1").arg(n));
    }
    QCOMPARE(fetchesWritten(server), 3);
    QVERIFY(server.scriptDone());
    VERIFY_NO_SERVER_ERRORS(server);

    // Refused: nothing is fetched, and the next command waits for the answers still to come.
    client.setReadAhead(1, 2);
    server.expect(tagFor(5) + " EXAMINE \"Gone\"")
        .expect(structureCommand(6, 1, 2))
        .expect(partialCommand(7, 1))
        .expect(partialCommand(8, 2))
        .sendLine(tagFor(5) + " NO Mailbox doesn't exist: Gone")
        .sendLine(tagFor(6) + " BAD No mailbox selected.")
        .sendLine(tagFor(7) + " BAD No mailbox selected.")
        .sendLine(tagFor(8) + " BAD No mailbox selected.")
        .expect(tagFor(9) + " EXAMINE \"Inbox\"")
        .sendLine("* 2 EXISTS")
        .sendLine(tagFor(9) + " OK [READ-ONLY] Examine completed.");
    QCOMPARE(client.selectMailbox(QStringLiteral("Gone")), 0);
    QCOMPARE(client.selectMailbox(QStringLiteral("Inbox")), 1);
    QVERIFY2(client.lastErrorText().contains(QStringLiteral("Skipping the rest of the answers")),
             qPrintable(client.lastErrorText()));
    QVERIFY(server.scriptDone());
    VERIFY_NO_SERVER_ERRORS(server);
}

QTEST_GUILESS_MAIN(TestImapReadAhead)
#include "tst_imapreadahead.moc"
