// Read-ahead in the IMAP client: a walk through message numbers keeps several single-message
// fetches in flight, and every message still gets its own command, answer and log. Exact
// conversations with the in-memory server, which lets the client send ahead.
#include "mail/ImapClient.h"
#include "mail/ImapEventSink.h"
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
    void percentDone(int, bool&) override {}
    bool stop = false;
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

} // namespace

class TestImapReadAhead : public QObject {
    Q_OBJECT

private:
    void connectTo(ImapClient& client, ScriptedImapServer& server)
    {
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

QTEST_GUILESS_MAIN(TestImapReadAhead)
#include "tst_imapreadahead.moc"
