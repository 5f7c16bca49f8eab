// The IMAP client against a scripted in-memory server: every test is an exact conversation, and
// time is the server's manual clock, so time-outs and abort checks fall on exact moments.
#include "mail/ImapClient.h"
#include "mail/ImapConnection.h"
#include "mail/ImapEventSink.h"
#include "support/ScriptedImapServer.h"
#include "support/ServerErrors.h"

#include <QTest>

#include <functional>

namespace {

class RecordingSink : public ImapEventSink {
public:
    void abortCheck(bool& abort) override
    {
        ++abortChecks;
        if (onAbortCheck)
            onAbortCheck(abort);
    }
    void percentDone(int percent, bool& abort) override
    {
        percents.append(percent);
        if (onPercent)
            onPercent(percent, abort);
    }

    int abortChecks = 0;
    QList<int> percents;
    std::function<void(bool&)> onAbortCheck;
    std::function<void(int, bool&)> onPercent;
};

const QByteArray kMessage = "From: Ann Example <ann@example.com>\r\n"
                            "Subject: Quarterly figures\r\n"
                            "\r\n"
                            "Line one (with a parenthesis\r\n"
                            "A001 OK this line is message text, not a response\r\n";

QByteArray fetchReply(int number, const QByteArray& message)
{
    return "* " + QByteArray::number(number) + " FETCH (BODY[] {" + QByteArray::number(message.size()) +
           "}\r\n" + message + " INTERNALDATE \"17-Jul-1996 02:44:25 -0700\")\r\n";
}

QByteArray fetchCommand(const char* tag, int number)
{
    return QByteArray(tag) + " FETCH " + QByteArray::number(number) + " (BODY.PEEK[] INTERNALDATE)";
}

} // namespace

class TestImapClient : public QObject {
    Q_OBJECT

private:
    // The client connected to `server`, whose script starts with the greeting line given.
    bool connectTo(ImapClient& client, ScriptedImapServer& server,
                   const QByteArray& greeting = "* PREAUTH ready")
    {
        server.attach(client);
        server.sendLine(greeting);
        return client.connect(QStringLiteral("127.0.0.1")) == 1;
    }

private Q_SLOTS:
    void greetingDecidesTheConnect_data();
    void greetingDecidesTheConnect();
    void connectClosesThePreviousConnection();
    void connectTakesTheConnectionOpenedAhead_data();
    void connectTakesTheConnectionOpenedAhead();

    void rawCommandGivesTheWholeResponse();
    void rawCommandWithoutAnswerGivesNothing();
    void rawCommandRefusesLineBreaks();

    void loginWithQuotedStrings();
    void loginEscapesQuotesAndBackslashes();
    void loginSendsNonAsciiAsLiterals();
    void loginRefusesLineBreaksWithoutSending();
    void loginRefusedByTheServer();
    void loginLiteralRefusedBeforeItIsSent();
    void lastErrorTextNeverShowsTheCredentials();

    void examineCountsMessages();
    void examineEncodesNonAsciiNames();
    void examineOfMissingFolderFails();
    void existsAndExpungeUpdatesAreFollowed();

    void fetchReturnsTheLiteral();
    void fetchByUid();
    void fetchOfMissingNumbersGivesNothing();
    void fetchWithoutDataGivesNothing();
    void dropInTheMiddleOfALiteral();
    void unreadableFetchDataKeepsTheConnection();
    void oversizedLiteralIsRefused();
    void endlessLineIsRefused();
    void silentServerTimesOut();
    void greetingThatNeverComesTimesOut();
    void serverClosingWhileIdle();

    void percentDoneRisesTo100();
    void abortDuringSlowLiteralThenNextCallWorks();
    void abortWhileALiteralIsAskedForClosesTheConnection();
    void disconnectFromInsideAbortCheck();
    void disconnectFromAnotherEventHandler();
    void reconnectFromInsideAbortCheck();
    void otherCallsDuringACallAreRefused();
    void destroyingTheClientDuringACall();

    void listDecodesNames();
    void listFailures();

    void disconnectSendsLogout();
    void disconnectWhenNotConnectedIsHarmless();
    void callsWhenNotConnectedFailAtOnce();
    void notificationsGoToTheLastBoundSink();

    void failureOfAFetch_data();
    void failureOfAFetch();
    void failureOfAConnect_data();
    void failureOfAConnect();
    void noSignInAfterPreauth();
    void alertsAreCollectedOnce();
};

// ---------------------------------------------------------------------------------------------
// Connecting

void TestImapClient::greetingDecidesTheConnect_data()
{
    QTest::addColumn<QByteArray>("greeting");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("state");
    QTest::newRow("OK") << QByteArray("* OK [CAPABILITY IMAP4rev1] Dovecot ready.") << 1
                        << int(ImapClient::State::Connected);
    QTest::newRow("PREAUTH") << QByteArray("* PREAUTH welcome back") << 1
                             << int(ImapClient::State::Authenticated);
    QTest::newRow("BYE") << QByteArray("* BYE too many connections") << 0
                         << int(ImapClient::State::NotConnected);
    QTest::newRow("not IMAP") << QByteArray("HTTP/1.1 400 Bad Request") << 0
                              << int(ImapClient::State::NotConnected);
    QTest::newRow("tagged") << QByteArray("A001 OK hello") << 0 << int(ImapClient::State::NotConnected);
}

void TestImapClient::greetingDecidesTheConnect()
{
    QFETCH(QByteArray, greeting);
    QFETCH(int, status);
    QFETCH(int, state);
    ScriptedImapServer server;
    ImapClient client;
    server.attach(client);
    server.sendLine(greeting);
    QCOMPARE(client.connect(QStringLiteral("127.0.0.1")), status);
    QCOMPARE(int(client.state()), state);
    QVERIFY2(client.lastErrorText().contains(QString::fromUtf8(greeting)),
             qPrintable(client.lastErrorText()));
    QVERIFY(server.errors().isEmpty());
}

void TestImapClient::connectClosesThePreviousConnection()
{
    ScriptedImapServer server;
    ImapClient client;
    QVERIFY(connectTo(client, server));
    server.expectClose().acceptNext().sendLine("* OK second").expect("A001 NOOP").sendLine("A001 OK done");
    QCOMPARE(client.connect(QStringLiteral("127.0.0.1")), 1);
    // The tag counter starts afresh on the new connection.
    QVERIFY(!client.sendRawCommand(QStringLiteral("NOOP")).isEmpty());
    QCOMPARE(server.connectionsAccepted(), 2);
    QVERIFY(server.scriptDone());
    VERIFY_NO_SERVER_ERRORS(server);
}

// A connection opened ahead (while the previous one still answers a command) is the next
// connect's when it fits: same host and settings, young, not refused. Otherwise it is closed and
// the connect opens its own; one refused at its greeting is replaced once.
void TestImapClient::connectTakesTheConnectionOpenedAhead_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<bool>("taken");
    QTest::addColumn<int>("accepted");
    QTest::newRow("fits") << QString() << true << 2;
    QTest::newRow("another port") << QStringLiteral("port") << false << 3;
    QTest::newRow("waited too long") << QStringLiteral("slow") << false << 3;
    QTest::newRow("refused at its greeting") << QStringLiteral("bye") << true << 3;
}

void TestImapClient::connectTakesTheConnectionOpenedAhead()
{
    QFETCH(QString, change);
    QFETCH(bool, taken);
    QFETCH(int, accepted);
    ScriptedImapServer server;
    ImapClient client;
    QVERIFY(connectTo(client, server));
    client.prepareConnect(QStringLiteral("127.0.0.1"));
    server.expect("A001 NOOP");
    if (change == QLatin1String("slow")) // longer than a connection opened ahead is kept for
        server.sendSlowly("A001 OK done\r\n", 7, int(ImapConnection::kAheadMs + 1));
    else
        server.sendLine("A001 OK done");
    QVERIFY(!client.sendRawCommand(QStringLiteral("NOOP")).isEmpty());
    if (change == QLatin1String("port"))
        client.setPort(1993);
    // The connection opened ahead is the next one the server accepts, taken or not.
    server.expectClose().acceptNext();
    if (change == QLatin1String("bye"))
        server.sendLine("* BYE Too many connections from your address");
    if (!change.isEmpty())
        server.expectClose().acceptNext();
    server.sendLine("* OK second").expect("A001 NOOP").sendLine("A001 OK done");
    QVERIFY2(client.connect(QStringLiteral("127.0.0.1")) == 1, qPrintable(client.lastErrorText()));
    const QString log = client.lastErrorText();
    QCOMPARE(log.contains(QStringLiteral("Taking the connection opened ahead for this connect.")), taken);
    QCOMPARE(log.contains(QStringLiteral("The connection opened ahead was refused; connecting again.")),
             change == QLatin1String("bye"));
    QVERIFY(!client.sendRawCommand(QStringLiteral("NOOP")).isEmpty());
    QCOMPARE(server.connectionsAccepted(), accepted);
    QVERIFY(server.scriptDone());
    VERIFY_NO_SERVER_ERRORS(server);
}

// ---------------------------------------------------------------------------------------------
// Raw commands

void TestImapClient::rawCommandGivesTheWholeResponse()
{
    ScriptedImapServer server;
    ImapClient client;
    QVERIFY(connectTo(client, server, "* OK ready"));
    server.expect("A001 ID (\"GUID\" \"1\")")
        .sendLine("* ID (\"name\" \"Dovecot\" \"note\" {4}")
        .send("a\r\nb")
        .sendLine(")")
        .sendLine("A001 OK ID completed.");
    QCOMPARE(client.sendRawCommand(QStringLiteral("ID (\"GUID\" \"1\")")),
             QStringLiteral("* ID (\"name\" \"Dovecot\" \"note\" {4}\r\na\r\nb)\r\nA001 OK ID completed."));
    // A refusal is an answer too.
    server.expect("A002 XYZZY").sendLine("A002 BAD Unknown command");
    QCOMPARE(client.sendRawCommand(QStringLiteral("XYZZY")), QStringLiteral("A002 BAD Unknown command"));
    QVERIFY(server.scriptDone());
    VERIFY_NO_SERVER_ERRORS(server);
}

void TestImapClient::rawCommandWithoutAnswerGivesNothing()
{
    {
        ScriptedImapServer server;
        ImapClient client;
        QVERIFY(connectTo(client, server, "* OK ready"));
        server.expect("A001 ID (\"GUID\" \"1\")").drop();
        QCOMPARE(client.sendRawCommand(QStringLiteral("ID (\"GUID\" \"1\")")), QString());
        QCOMPARE(client.state(), ImapClient::State::NotConnected);
    }
    {
        ScriptedImapServer server;
        ImapClient client;
        client.setTimeoutMs(300);
        QVERIFY(connectTo(client, server, "* OK ready"));
        server.expect("A001 ID (\"GUID\" \"1\")").sendLine("* ID NIL"); // then silence
        QCOMPARE(client.sendRawCommand(QStringLiteral("ID (\"GUID\" \"1\")")), QString());
        QVERIFY(client.lastErrorText().contains(QStringLiteral("Timed out")));
    }
}

void TestImapClient::rawCommandRefusesLineBreaks()
{
    ScriptedImapServer server;
    ImapClient client;
    QVERIFY(connectTo(client, server));
    QCOMPARE(client.sendRawCommand(QStringLiteral("NOOP\r\nA999 DELETE INBOX")), QString());
    QCOMPARE(client.sendRawCommand(QString()), QString());
    server.expect("A001 NOOP").sendLine("A001 OK");
    QCOMPARE(client.sendRawCommand(QStringLiteral("NOOP")), QStringLiteral("A001 OK"));
    VERIFY_NO_SERVER_ERRORS(server);
}

// ---------------------------------------------------------------------------------------------
// Login

void TestImapClient::loginWithQuotedStrings()
{
    ScriptedImapServer server;
    ImapClient client;
    QVERIFY(connectTo(client, server, "* OK ready"));
    server.expect("A001 LOGIN \"user@example.com\" \"secret\"")
        .sendLine("A001 OK [CAPABILITY IMAP4rev1] Logged in");
    QCOMPARE(client.login(QStringLiteral("user@example.com"), QStringLiteral("secret")), 1);
    QCOMPARE(client.state(), ImapClient::State::Authenticated);
    VERIFY_NO_SERVER_ERRORS(server);
}

void TestImapClient::loginEscapesQuotesAndBackslashes()
{
    ScriptedImapServer server;
    ImapClient client;
    QVERIFY(connectTo(client, server, "* OK ready"));
    server.expect(R"(A001 LOGIN "us\"er" "pa ss\\wo\"rd ")").sendLine("A001 OK Logged in");
    QCOMPARE(client.login(QStringLiteral("us\"er"), QStringLiteral("pa ss\\wo\"rd ")), 1);
    VERIFY_NO_SERVER_ERRORS(server);
}

void TestImapClient::loginSendsNonAsciiAsLiterals()
{
    ScriptedImapServer server;
    ImapClient client;
    QVERIFY(connectTo(client, server, "* OK ready"));
    const QByteArray password = QStringLiteral("pässwörd€").toUtf8();
    // Quoted user, literal password.
    server.expect("A001 LOGIN \"ann\" {" + QByteArray::number(password.size()) + "}")
        .sendLine("+ Ready for literal data")
        .expect(password)
        .sendLine("A001 OK Logged in");
    QCOMPARE(client.login(QStringLiteral("ann"), QString::fromUtf8(password)), 1);

    // Both literals: the second marker follows the first literal on the same line.
    const QByteArray user = QStringLiteral("jürgen").toUtf8();
    server.expect("A002 LOGIN {" + QByteArray::number(user.size()) + "}")
        .sendLine("+ go on")
        .expect(user + " {" + QByteArray::number(password.size()) + "}")
        .sendLine("+ go on")
        .expect(password)
        .sendLine("A002 OK Logged in");
    QCOMPARE(client.login(QString::fromUtf8(user), QString::fromUtf8(password)), 1);
    // Each literal goes out only after the server asked for it, and is followed by CRLF.
    QCOMPARE(server.written(), "A001 LOGIN \"ann\" {" + QByteArray::number(password.size()) + "}\r\n" +
                                   password + "\r\nA002 LOGIN {" + QByteArray::number(user.size()) + "}\r\n" +
                                   user + " {" + QByteArray::number(password.size()) + "}\r\n" + password +
                                   "\r\n");
    QVERIFY(server.scriptDone());
    VERIFY_NO_SERVER_ERRORS(server);
}

void TestImapClient::loginRefusesLineBreaksWithoutSending()
{
    ScriptedImapServer server;
    ImapClient client;
    QVERIFY(connectTo(client, server, "* OK ready"));
    QCOMPARE(client.login(QStringLiteral("ann"), QStringLiteral("pw\r\nA002 DELETE INBOX")), 0);
    QCOMPARE(client.login(QStringLiteral("ann\n"), QStringLiteral("pw")), 0);
    QCOMPARE(client.login(QStringLiteral("ann"), QStringLiteral("p") + QChar(0) + QStringLiteral("w")), 0);
    QVERIFY(!client.lastErrorText().isEmpty());
    // The next thing the server hears is the next command.
    server.expect("A001 NOOP").sendLine("A001 OK");
    QCOMPARE(client.sendRawCommand(QStringLiteral("NOOP")), QStringLiteral("A001 OK"));
    QCOMPARE(client.state(), ImapClient::State::Connected);
    VERIFY_NO_SERVER_ERRORS(server);
}

void TestImapClient::loginRefusedByTheServer()
{
    ScriptedImapServer server;
    ImapClient client;
    QVERIFY(connectTo(client, server, "* OK ready"));
    server.expect("A001 LOGIN \"ann\" \"wrong\"")
        .sendLine("A001 NO [AUTHENTICATIONFAILED] Authentication failed.");
    QCOMPARE(client.login(QStringLiteral("ann"), QStringLiteral("wrong")), 0);
    QCOMPARE(client.state(), ImapClient::State::Connected);
    QVERIFY(client.lastErrorText().contains(QStringLiteral("AUTHENTICATIONFAILED")));
    VERIFY_NO_SERVER_ERRORS(server);
}

void TestImapClient::loginLiteralRefusedBeforeItIsSent()
{
    ScriptedImapServer server;
    ImapClient client;
    QVERIFY(connectTo(client, server, "* OK ready"));
    server.expect("A001 LOGIN \"ann\" {2}").sendLine("A001 BAD literals not welcome");
    QCOMPARE(client.login(QStringLiteral("ann"), QStringLiteral("é")), 0);
    // The literal itself never went out: the next line is the next command.
    server.expect("A002 NOOP").sendLine("A002 OK");
    QCOMPARE(client.sendRawCommand(QStringLiteral("NOOP")), QStringLiteral("A002 OK"));
    VERIFY_NO_SERVER_ERRORS(server);
}

void TestImapClient::lastErrorTextNeverShowsTheCredentials()
{
    ScriptedImapServer server;
    ImapClient client;
    QVERIFY(connectTo(client, server, "* OK ready"));
    const QString password = QStringLiteral("Tr0ub4dor&3");
    // A careless server that repeats what it was sent.
    server.expect("A001 LOGIN \"ann@example.com\" \"Tr0ub4dor&3\"")
        .sendLine("* BAD you said LOGIN \"ann@example.com\" \"Tr0ub4dor&3\"")
        .sendLine("A001 NO wrong password Tr0ub4dor&3 for ann@example.com");
    QCOMPARE(client.login(QStringLiteral("ann@example.com"), password), 0);
    QString text = client.lastErrorText();
    QVERIFY2(text.contains(QStringLiteral("wrong password")), qPrintable(text));
    QVERIFY2(!text.contains(password), qPrintable(text));
    QVERIFY2(!text.contains(QStringLiteral("ann@example.com")), qPrintable(text));

    const QString literalPassword = QStringLiteral("Ünïcödé-secret");
    server.expect("A002 LOGIN \"ann\" {" + QByteArray::number(literalPassword.toUtf8().size()) + "}")
        .sendLine("+ OK")
        .expect(literalPassword.toUtf8())
        .sendLine("A002 OK Logged in as ann");
    QCOMPARE(client.login(QStringLiteral("ann"), literalPassword), 1);
    text = client.lastErrorText();
    QVERIFY2(text.contains(QStringLiteral("Logged in")), qPrintable(text));
    QVERIFY2(!text.contains(literalPassword) && !text.contains(QStringLiteral("Ünïcödé")), qPrintable(text));
    VERIFY_NO_SERVER_ERRORS(server);
}

// ---------------------------------------------------------------------------------------------
// Selecting

void TestImapClient::examineCountsMessages()
{
    ScriptedImapServer server;
    ImapClient client;
    QVERIFY(connectTo(client, server));
    server.expect("A001 EXAMINE \"Inbox\"")
        .sendLine("* FLAGS (\\Answered \\Flagged \\Deleted \\Seen \\Draft)")
        .sendLine("* OK [PERMANENTFLAGS ()] Read-only mailbox.")
        .sendLine("* 172 EXISTS")
        .sendLine("* 1 RECENT")
        .sendLine("* OK [UIDVALIDITY 3857529045] UIDs valid")
        .sendLine("A001 OK [READ-ONLY] Examine completed (0.001 + 0.000 secs).");
    QCOMPARE(client.selectMailbox(QStringLiteral("Inbox")), 1);
    QCOMPARE(client.numMessages(), 172);
    QCOMPARE(client.state(), ImapClient::State::Selected);

    server.expect("A002 EXAMINE \"Drafts\"").sendLine("* 0 EXISTS").sendLine("A002 OK [READ-ONLY] done");
    QCOMPARE(client.selectMailbox(QStringLiteral("Drafts")), 1);
    QCOMPARE(client.numMessages(), 0);
    VERIFY_NO_SERVER_ERRORS(server);
}

void TestImapClient::examineEncodesNonAsciiNames()
{
    ScriptedImapServer server;
    ImapClient client;
    QVERIFY(connectTo(client, server));
    server.expect("A001 EXAMINE \"Entw&APw-rfe/&- \\\"x\\\"\"")
        .sendLine("* 3 EXISTS")
        .sendLine("A001 OK done");
    QCOMPARE(client.selectMailbox(QStringLiteral("Entwürfe/& \"x\"")), 1);
    QCOMPARE(client.numMessages(), 3);
    VERIFY_NO_SERVER_ERRORS(server);
}

void TestImapClient::examineOfMissingFolderFails()
{
    ScriptedImapServer server;
    ImapClient client;
    QVERIFY(connectTo(client, server));
    server.expect("A001 EXAMINE \"Inbox\"").sendLine("* 5 EXISTS").sendLine("A001 OK done");
    QCOMPARE(client.selectMailbox(QStringLiteral("Inbox")), 1);
    server.expect("A002 EXAMINE \"Junk\"").sendLine("A002 NO Mailbox doesn't exist: Junk");
    QCOMPARE(client.selectMailbox(QStringLiteral("Junk")), 0);
    QCOMPARE(client.numMessages(), 0);
    QCOMPARE(client.state(), ImapClient::State::Authenticated);
    QVERIFY(client.lastErrorText().contains(QStringLiteral("Mailbox doesn't exist")));
    VERIFY_NO_SERVER_ERRORS(server);
}

void TestImapClient::existsAndExpungeUpdatesAreFollowed()
{
    ScriptedImapServer server;
    ImapClient client;
    QVERIFY(connectTo(client, server));
    server.expect("A001 EXAMINE \"Inbox\"").sendLine("* 3 EXISTS").sendLine("A001 OK done");
    QCOMPARE(client.selectMailbox(QStringLiteral("Inbox")), 1);
    server.expect(fetchCommand("A002", 1))
        .sendLine("* 4 EXISTS")
        .send(fetchReply(1, kMessage))
        .sendLine("* 2 EXPUNGE")
        .sendLine("* 2 EXPUNGE")
        .sendLine("A002 OK Fetch completed.");
    QVERIFY(client.fetchSingle(1, false).has_value());
    QCOMPARE(client.numMessages(), 2);
    VERIFY_NO_SERVER_ERRORS(server);
}

// ---------------------------------------------------------------------------------------------
// Fetching

void TestImapClient::fetchReturnsTheLiteral()
{
    ScriptedImapServer server;
    ImapClient client;
    QVERIFY(connectTo(client, server));
    server.expect(fetchCommand("A001", 1))
        .sendLine("* 1 FETCH (FLAGS (\\Seen))")
        .send(fetchReply(1, kMessage))
        .sendLine("A001 OK Fetch completed.");
    const std::optional<ImapClient::RawMessage> raw = client.fetchRaw(1);
    QVERIFY(raw.has_value());
    QCOMPARE(raw->bytes, kMessage);
    QCOMPARE(raw->internalDate, QDateTime(QDate(1996, 7, 17), QTime(9, 44, 25), Qt::UTC));
    QCOMPARE(raw->internalDate.offsetFromUtc(), -7 * 3600);

    // Items in another order, the body as a quoted string.
    server.expect(fetchCommand("A002", 2))
        .sendLine(
            R"(* 2 FETCH (INTERNALDATE " 2-Jan-2024 08:00:00 +0100" BODY[] "Subject: Hi \"there\" \\o/"))")
        .sendLine("A002 OK Fetch completed.");
    const std::optional<MailMessage> message = client.fetchSingle(2, false);
    QVERIFY(message.has_value());
    QCOMPARE(message->Subject, QStringLiteral("Hi \"there\" \\o/"));
    QCOMPARE(server.written(), fetchCommand("A001", 1) + "\r\n" + fetchCommand("A002", 2) + "\r\n");
    VERIFY_NO_SERVER_ERRORS(server);
}

void TestImapClient::fetchByUid()
{
    ScriptedImapServer server;
    ImapClient client;
    QVERIFY(connectTo(client, server));
    server.expect("A001 UID FETCH 4711 (BODY.PEEK[] INTERNALDATE)")
        .sendLine("* 3 FETCH (UID 12 FLAGS ())") // another message: not this one
        .send("* 9 FETCH (UID 4711 BODY[] {" + QByteArray::number(kMessage.size()) + "}\r\n" + kMessage +
              ")\r\n")
        .sendLine("A001 OK Fetch completed.");
    const std::optional<MailMessage> message = client.fetchSingle(4711, true);
    QVERIFY(message.has_value());
    QCOMPARE(message->Subject, QStringLiteral("Quarterly figures"));
    VERIFY_NO_SERVER_ERRORS(server);
}

void TestImapClient::fetchOfMissingNumbersGivesNothing()
{
    ScriptedImapServer server;
    ImapClient client;
    QVERIFY(connectTo(client, server));
    server.expect(fetchCommand("A001", 0))
        .sendLine("A001 BAD Error in IMAP command FETCH: Invalid messageset")
        .expect(fetchCommand("A002", 173))
        .sendLine("A002 BAD Error in IMAP command FETCH: Invalid messageset")
        .expect(fetchCommand("A003", 1))
        .sendLine("A003 NO Message is no longer available");
    QVERIFY(!client.fetchSingle(0, false).has_value());
    QVERIFY(!client.fetchSingle(173, false).has_value());
    QVERIFY(client.lastErrorText().contains(QStringLiteral("Invalid messageset")));
    QVERIFY(!client.fetchSingle(1, false).has_value());
    QVERIFY(!client.fetchSingle(-1, false).has_value()); // refused locally
    QCOMPARE(client.state(), ImapClient::State::Authenticated);
    QVERIFY(server.scriptDone());
    VERIFY_NO_SERVER_ERRORS(server);
}

void TestImapClient::fetchWithoutDataGivesNothing()
{
    ScriptedImapServer server;
    ImapClient client;
    QVERIFY(connectTo(client, server));
    server.expect(fetchCommand("A001", 5))
        .sendLine("A001 OK Fetch completed.")
        .expect(fetchCommand("A002", 6))
        .sendLine("* 6 FETCH (BODY[] NIL)")
        .sendLine("A002 OK Fetch completed.")
        .expect(fetchCommand("A003", 7))
        .send(fetchReply(8, kMessage)) // the wrong message
        .sendLine("A003 OK Fetch completed.");
    QVERIFY(!client.fetchSingle(5, false).has_value());
    QVERIFY(client.lastErrorText().contains(QStringLiteral("no message data")));
    QVERIFY(!client.fetchSingle(6, false).has_value());
    QVERIFY(!client.fetchSingle(7, false).has_value());
    VERIFY_NO_SERVER_ERRORS(server);
}

void TestImapClient::dropInTheMiddleOfALiteral()
{
    ScriptedImapServer server;
    ImapClient client;
    QVERIFY(connectTo(client, server));
    server.expect(fetchCommand("A001", 1)).send("* 1 FETCH (BODY[] {1000}\r\n" + QByteArray(400, 'x')).drop();
    const qint64 before = server.clock().now();
    QVERIFY(!client.fetchSingle(1, false).has_value());
    QCOMPARE(server.clock().now(), before); // no waiting for a time-out
    const QString text = client.lastErrorText();
    QVERIFY2(text.contains(QStringLiteral("400 of 1000 bytes")), qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("closed")), qPrintable(text));
    QCOMPARE(client.state(), ImapClient::State::NotConnected);
    QVERIFY(!client.fetchSingle(2, false).has_value());
    QVERIFY(client.lastErrorText().contains(QStringLiteral("Not connected")));
}

void TestImapClient::unreadableFetchDataKeepsTheConnection()
{
    ScriptedImapServer server;
    ImapClient client;
    QVERIFY(connectTo(client, server));
    server.expect(fetchCommand("A001", 1))
        .sendLine("* 1 FETCH (BODY[] \"unterminated")
        .sendLine("\x01\x02 garbage that is no response at all")
        .sendLine("* 1 FETCH (((((((((")
        .sendLine("A001 OK Fetch completed.")
        .expect("A002 NOOP")
        .sendLine("A002 OK");
    QVERIFY(!client.fetchSingle(1, false).has_value());
    QVERIFY2(client.lastErrorText().contains(QStringLiteral("could not be read")),
             qPrintable(client.lastErrorText()));
    QCOMPARE(client.sendRawCommand(QStringLiteral("NOOP")), QStringLiteral("A002 OK"));
    VERIFY_NO_SERVER_ERRORS(server);
}

void TestImapClient::oversizedLiteralIsRefused()
{
    ScriptedImapServer server;
    ImapClient client;
    QVERIFY(connectTo(client, server));
    server.expect(fetchCommand("A001", 1)).sendLine("* 1 FETCH (BODY[] {4294967296}").send("xxxx");
    const qint64 before = server.clock().now();
    QVERIFY(!client.fetchSingle(1, false).has_value());
    QCOMPARE(server.clock().now(), before); // no waiting for a time-out
    QVERIFY2(client.lastErrorText().contains(QStringLiteral("4294967296")),
             qPrintable(client.lastErrorText()));
    QCOMPARE(client.state(), ImapClient::State::NotConnected);
}

void TestImapClient::endlessLineIsRefused()
{
    ScriptedImapServer server;
    ImapClient client;
    QVERIFY(connectTo(client, server));
    server.expect("A001 NOOP").send("* OK " + QByteArray(9 * 1024 * 1024, 'a'));
    QCOMPARE(client.sendRawCommand(QStringLiteral("NOOP")), QString());
    QVERIFY2(client.lastErrorText().contains(QStringLiteral("longer than")),
             qPrintable(client.lastErrorText()));
    QCOMPARE(client.state(), ImapClient::State::NotConnected);
}

void TestImapClient::silentServerTimesOut()
{
    ScriptedImapServer server;
    ImapClient client;
    client.setTimeoutMs(300);
    QVERIFY(connectTo(client, server));
    server.expect(fetchCommand("A001", 1)).send("* 1 FETCH (BODY[] {100}\r\nabc"); // and then nothing
    const qint64 before = server.clock().now();
    QVERIFY(!client.fetchSingle(1, false).has_value());
    QCOMPARE(server.clock().now() - before, 300);
    QVERIFY(client.lastErrorText().contains(QStringLiteral("Timed out")));
    QCOMPARE(client.state(), ImapClient::State::NotConnected);
}

void TestImapClient::greetingThatNeverComesTimesOut()
{
    ScriptedImapServer server; // accepts and says nothing
    ImapClient client;
    client.setTimeoutMs(300);
    server.attach(client);
    QCOMPARE(client.connect(QStringLiteral("127.0.0.1")), 0);
    QCOMPARE(server.clock().now(), 300);
    QVERIFY(client.lastErrorText().contains(QStringLiteral("Timed out")));
    QCOMPARE(client.state(), ImapClient::State::NotConnected);
}

void TestImapClient::serverClosingWhileIdle()
{
    ScriptedImapServer server;
    ImapClient client;
    QVERIFY(connectTo(client, server));
    server.sendLine("* BYE Autologout; idle for too long").drop();
    QVERIFY(server.scriptDone());
    const qint64 before = server.clock().now();
    QVERIFY(!client.fetchSingle(1, false).has_value());
    QCOMPARE(server.clock().now(), before);
    QCOMPARE(client.state(), ImapClient::State::NotConnected);
    QVERIFY2(client.lastErrorText().contains(QStringLiteral("Autologout")),
             qPrintable(client.lastErrorText()));
}

// ---------------------------------------------------------------------------------------------
// Progress, abort and re-entrancy

void TestImapClient::percentDoneRisesTo100()
{
    ScriptedImapServer server;
    ImapClient client;
    RecordingSink sink;
    client.bindEvents(&sink);
    QVERIFY(connectTo(client, server));
    const QByteArray message = "Subject: big\r\n\r\n" + QByteArray(20000, 'x');
    server.expect(fetchCommand("A001", 1))
        .send("* 1 FETCH (BODY[] {" + QByteArray::number(message.size()) + "}\r\n")
        .sendSlowly(message + ")\r\n", 2000, 20)
        .sendLine("A001 OK Fetch completed.");
    const std::optional<ImapClient::RawMessage> raw = client.fetchRaw(1);
    QVERIFY(raw.has_value());
    QCOMPARE(raw->bytes, message);
    QVERIFY2(sink.percents.size() >= 3, qPrintable(QString::number(sink.percents.size())));
    QCOMPARE(sink.percents.last(), 100);
    for (qsizetype i = 1; i < sink.percents.size(); ++i)
        QVERIFY(sink.percents[i] > sink.percents[i - 1]);
    QVERIFY(sink.abortChecks > 0); // the transfer took several check intervals
}

void TestImapClient::abortDuringSlowLiteralThenNextCallWorks()
{
    ScriptedImapServer server;
    ImapClient client;
    RecordingSink sink;
    client.bindEvents(&sink);
    QVERIFY(connectTo(client, server));
    const QByteArray big = "Subject: big\r\n\r\n" + QByteArray(30000, 'x');
    server.expect(fetchCommand("A001", 1))
        .send("* 1 FETCH (BODY[] {" + QByteArray::number(big.size()) + "}\r\n")
        .sendSlowly(big + ")\r\n", 1000, 50) // about 1.5 s in all
        .sendLine("A001 OK Fetch completed.")
        .expect(fetchCommand("A002", 2))
        .send(fetchReply(2, kMessage))
        .sendLine("A002 OK Fetch completed.");

    bool stop = false;
    qint64 stoppedAt = -1;
    sink.onPercent = [&](int percent, bool&) {
        if (percent >= 10 && !stop) {
            stop = true;
            stoppedAt = server.clock().now();
        }
    };
    sink.onAbortCheck = [&](bool& abort) { abort = stop; };
    QVERIFY(!client.fetchSingle(1, false).has_value());
    QVERIFY(stop);
    // Given up at the first abort check after the stop, long before the answer is in.
    QVERIFY2(server.clock().now() - stoppedAt <= 50,
             qPrintable(QString::number(server.clock().now() - stoppedAt)));
    QVERIFY(!server.scriptDone());
    QVERIFY(client.lastErrorText().contains(QStringLiteral("Abandoned")));
    QCOMPARE(client.state(), ImapClient::State::Authenticated);

    // Still stopping: the next call gives up while skipping the abandoned answer, sending nothing.
    const qint64 before = server.clock().now();
    const QByteArray writtenBefore = server.written();
    QVERIFY(!client.fetchSingle(2, false).has_value());
    QVERIFY(server.clock().now() - before <= 50);
    QCOMPARE(server.written(), writtenBefore);

    // Once the stop is over, the rest of the old answer is skipped and the next fetch works.
    stop = false;
    sink.onPercent = nullptr;
    sink.percents.clear();
    const std::optional<MailMessage> next = client.fetchSingle(2, false);
    QVERIFY2(next.has_value(), qPrintable(client.lastErrorText()));
    QCOMPARE(next->Subject, QStringLiteral("Quarterly figures"));
    // The skipped rest of the old answer is not reported as progress of this fetch.
    QCOMPARE(sink.percents, QList<int>{100});
    QVERIFY(server.scriptDone());
    VERIFY_NO_SERVER_ERRORS(server);
}

void TestImapClient::abortWhileALiteralIsAskedForClosesTheConnection()
{
    // Half a command cannot be taken back: whatever came next would be read as its literal.
    ScriptedImapServer server;
    ImapClient client;
    RecordingSink sink;
    client.bindEvents(&sink);
    QVERIFY(connectTo(client, server, "* OK ready"));
    server.expect("A001 LOGIN \"ann\" {2}").expectClose(); // no continuation comes
    sink.onAbortCheck = [](bool& abort) { abort = true; };
    QCOMPARE(client.login(QStringLiteral("ann"), QStringLiteral("é")), 0);
    QCOMPARE(server.clock().now(), 50); // the first abort check
    QCOMPARE(client.state(), ImapClient::State::NotConnected);
    QVERIFY(server.scriptDone());
    VERIFY_NO_SERVER_ERRORS(server);
}

void TestImapClient::disconnectFromInsideAbortCheck()
{
    ScriptedImapServer server;
    ImapClient client;
    RecordingSink sink;
    client.bindEvents(&sink);
    QVERIFY(connectTo(client, server));
    server.expect(fetchCommand("A001", 1))
        .send("* 1 FETCH (BODY[] {5000}\r\n" + QByteArray(100, 'x')) // and then nothing more
        .expectClose()
        .acceptNext()
        .sendLine("* PREAUTH again")
        .expect("A001 NOOP")
        .sendLine("A001 OK");
    int disconnects = 0;
    sink.onAbortCheck = [&](bool&) {
        if (disconnects++ == 0)
            QCOMPARE(client.disconnect(), 1);
    };
    QVERIFY(!client.fetchSingle(1, false).has_value());
    QCOMPARE(server.clock().now(), 50); // the first abort check
    QCOMPARE(client.state(), ImapClient::State::NotConnected);
    QVERIFY2(client.lastErrorText().contains(QStringLiteral("closed during the call")),
             qPrintable(client.lastErrorText()));

    sink.onAbortCheck = nullptr;
    QCOMPARE(client.connect(QStringLiteral("127.0.0.1")), 1);
    QCOMPARE(client.sendRawCommand(QStringLiteral("NOOP")), QStringLiteral("A001 OK"));
    VERIFY_NO_SERVER_ERRORS(server);
}

void TestImapClient::disconnectFromAnotherEventHandler()
{
    // Here the disconnect runs in a socket handler while the fetch sits in its event loop.
    ScriptedImapServer server;
    ImapClient client;
    QVERIFY(connectTo(client, server));
    server.expect(fetchCommand("A001", 1))
        .send("* 1 FETCH (BODY[] {5000}\r\n" + QByteArray(100, 'x'))
        .run([&client] { client.disconnect(); })
        .expectClose();
    QVERIFY(!client.fetchSingle(1, false).has_value());
    QCOMPARE(server.clock().now(), 0); // the handler ran during the first wait
    QCOMPARE(client.state(), ImapClient::State::NotConnected);
    QVERIFY2(client.lastErrorText().contains(QStringLiteral("closed during the call")),
             qPrintable(client.lastErrorText()));
    QVERIFY(server.scriptDone());
    VERIFY_NO_SERVER_ERRORS(server);
}

void TestImapClient::reconnectFromInsideAbortCheck()
{
    ScriptedImapServer server;
    ImapClient client;
    RecordingSink sink;
    client.bindEvents(&sink);
    QVERIFY(connectTo(client, server));
    server.expect(fetchCommand("A001", 1))
        .send("* 1 FETCH (BODY[] {5000}\r\n") // and then nothing more
        .expectClose()
        .acceptNext()
        .sendLine("* PREAUTH again")
        .expect(fetchCommand("A001", 3))
        .send(fetchReply(3, kMessage))
        .sendLine("A001 OK Fetch completed.");
    int nestedConnect = -1;
    sink.onAbortCheck = [&](bool&) {
        if (nestedConnect < 0)
            nestedConnect = client.connect(QStringLiteral("127.0.0.1"));
    };
    QVERIFY(!client.fetchSingle(1, false).has_value());
    QCOMPARE(nestedConnect, 1);
    // The new connection made inside the old call is untouched by that call's failure.
    QCOMPARE(client.state(), ImapClient::State::Authenticated);
    QVERIFY(client.fetchSingle(3, false).has_value());
    QVERIFY(server.scriptDone());
    VERIFY_NO_SERVER_ERRORS(server);
}

void TestImapClient::otherCallsDuringACallAreRefused()
{
    ScriptedImapServer server;
    ImapClient client;
    RecordingSink sink;
    client.bindEvents(&sink);
    QVERIFY(connectTo(client, server));
    server.expect(fetchCommand("A001", 1))
        .send("* 1 FETCH (BODY[] {" + QByteArray::number(kMessage.size()) + "}\r\n")
        .sendSlowly(kMessage + ")\r\nA001 OK Fetch completed.\r\n", 10, 15);
    QString nestedRaw = QStringLiteral("not called");
    int nestedSelect = -1;
    bool nestedFetch = true;
    sink.onAbortCheck = [&](bool&) {
        if (nestedSelect >= 0)
            return;
        nestedRaw = client.sendRawCommand(QStringLiteral("NOOP"));
        nestedSelect = client.selectMailbox(QStringLiteral("Inbox"));
        nestedFetch = client.fetchSingle(2, false).has_value();
    };
    const std::optional<ImapClient::RawMessage> raw = client.fetchRaw(1);
    QVERIFY2(raw.has_value(), qPrintable(client.lastErrorText()));
    QCOMPARE(raw->bytes, kMessage);
    QCOMPARE(nestedRaw, QString());
    QCOMPARE(nestedSelect, 0);
    QVERIFY(!nestedFetch);
    QVERIFY(server.scriptDone());
    VERIFY_NO_SERVER_ERRORS(server);
}

void TestImapClient::destroyingTheClientDuringACall()
{
    ScriptedImapServer server;
    auto* client = new ImapClient;
    RecordingSink sink;
    client->bindEvents(&sink);
    QVERIFY(connectTo(*client, server));
    server.expect(fetchCommand("A001", 1)).send("* 1 FETCH (BODY[] {5000}\r\n");
    sink.onAbortCheck = [&](bool&) {
        delete client;
        client = nullptr;
    };
    ImapClient* running = client;
    QVERIFY(!running->fetchSingle(1, false).has_value());
    QCOMPARE(client, nullptr);
    QCOMPARE(sink.abortChecks, 1); // no notification after the destruction
    QVERIFY(server.clientClosed());
}

// ---------------------------------------------------------------------------------------------
// Listing

void TestImapClient::listDecodesNames()
{
    ScriptedImapServer server;
    ImapClient client;
    QVERIFY(connectTo(client, server));
    server.expect("A001 LIST \"\" \"*\"")
        .sendLine("* LIST (\\HasNoChildren) \"/\" INBOX")
        .sendLine("* LIST (\\HasNoChildren \\Drafts) \"/\" \"Entw&APw-rfe\"")
        .sendLine("* LIST (\\HasChildren) \"/\" {10}")
        .send("Sent Items")
        .sendLine("")
        .sendLine("* LIST () NIL \"&U,BTFw-/&ZeVnLIqe-\"")
        .sendLine("* LIST (\\HasNoChildren) \"/\" \"Say \\\"hi\\\" &- go\"")
        .sendLine("* LIST (\\HasNoChildren) \"/\" \"Caf\xC3\xA9\"") // raw UTF-8 from a careless server
        .sendLine("A001 OK List completed (0.001 + 0.000 secs).");
    const std::optional<QStringList> names = client.listMailboxes(QString(), QStringLiteral("*"));
    QVERIFY2(names.has_value(), qPrintable(client.lastErrorText()));
    QCOMPARE(*names, QStringList({QStringLiteral("INBOX"), QStringLiteral("Entwürfe"),
                                  QStringLiteral("Sent Items"), QStringLiteral("台北/日本語"),
                                  QStringLiteral("Say \"hi\" & go"), QStringLiteral("Café")}));

    server.expect("A002 LIST \"\" \"*\"").sendLine("A002 OK List completed.");
    const std::optional<QStringList> none = client.listMailboxes(QString(), QStringLiteral("*"));
    QVERIFY(none.has_value());
    QVERIFY(none->isEmpty());

    // With delimiters and attributes, as the folders are found by their special use.
    server.expect("A003 LIST \"\" \"*\"")
        .sendLine("* LIST (\\HasNoChildren \\Sent) \"/\" \"Sent Items\"")
        .sendLine("* LIST (\\Noselect \\HasChildren) \".\" \"[Gmail]\"")
        .sendLine("* LIST () NIL \"Gel&APY-scht\"")
        .sendLine("A003 OK List completed.");
    const std::optional<std::vector<MailboxEntry>> entries =
        client.listMailboxEntries(QString(), QStringLiteral("*"));
    QVERIFY2(entries.has_value(), qPrintable(client.lastErrorText()));
    QCOMPARE(entries->size(), size_t(3));
    QCOMPARE(entries->at(0).name, QStringLiteral("Sent Items"));
    QCOMPARE(entries->at(0).delimiter, QStringLiteral("/"));
    QCOMPARE(entries->at(0).attributes, QStringList({"\\HasNoChildren", "\\Sent"}));
    QVERIFY(entries->at(0).hasAttribute(QStringLiteral("\\sent")));
    QVERIFY(entries->at(0).isSelectable());
    QCOMPARE(entries->at(1).delimiter, QStringLiteral("."));
    QVERIFY(!entries->at(1).isSelectable());
    QCOMPARE(entries->at(2).name, QStringLiteral("Gelöscht"));
    QVERIFY(entries->at(2).delimiter.isEmpty());
    QVERIFY(entries->at(2).attributes.isEmpty());
    VERIFY_NO_SERVER_ERRORS(server);
}

void TestImapClient::listFailures()
{
    ScriptedImapServer server;
    ImapClient client;
    QVERIFY(connectTo(client, server));
    server.expect("A001 LIST \"\" \"*\"")
        .sendLine("A001 NO not now")
        .expect("A002 LIST \"\" \"*\"")
        .sendLine("* LIST (\\HasNoChildren) \"/\" INBOX")
        .sendLine("* LIST (\\HasNoChildren \"/\" broken")
        .sendLine("A002 OK List completed.");
    QVERIFY(!client.listMailboxes(QString(), QStringLiteral("*")).has_value());
    QVERIFY(!client.listMailboxes(QString(), QStringLiteral("*")).has_value());
    QVERIFY(client.lastErrorText().contains(QStringLiteral("could not be read")));
    VERIFY_NO_SERVER_ERRORS(server);
}

// ---------------------------------------------------------------------------------------------
// Disconnecting and the rest

void TestImapClient::disconnectSendsLogout()
{
    ScriptedImapServer server;
    ImapClient client;
    QVERIFY(connectTo(client, server));
    server.expect("A001 LOGOUT")
        .sendLine("* BYE Logging out")
        .sendLine("A001 OK Logout completed.")
        .expectClose();
    QCOMPARE(client.disconnect(), 1);
    QCOMPARE(client.state(), ImapClient::State::NotConnected);
    QVERIFY(server.scriptDone());
    VERIFY_NO_SERVER_ERRORS(server);

    // A server that ignores LOGOUT does not hold the caller for long.
    ScriptedImapServer silent;
    client.setTimeoutMs(300);
    QVERIFY(connectTo(client, silent));
    silent.expect("A001 LOGOUT");
    QCOMPARE(client.disconnect(), 1);
    QCOMPARE(silent.clock().now(), 300); // the time-out, shorter than the wait for LOGOUT
    QCOMPARE(client.state(), ImapClient::State::NotConnected);
}

void TestImapClient::disconnectWhenNotConnectedIsHarmless()
{
    ImapClient client;
    QCOMPARE(client.disconnect(), 1);
    QCOMPARE(client.disconnect(), 1);
    QCOMPARE(client.state(), ImapClient::State::NotConnected);
}

void TestImapClient::callsWhenNotConnectedFailAtOnce()
{
    ImapClient client;
    QCOMPARE(client.sendRawCommand(QStringLiteral("ID (\"GUID\" \"1\")")), QString());
    QCOMPARE(client.login(QStringLiteral("a"), QStringLiteral("b")), 0);
    QCOMPARE(client.selectMailbox(QStringLiteral("Inbox")), 0);
    QCOMPARE(client.numMessages(), 0);
    QVERIFY(!client.fetchSingle(1, false).has_value());
    QVERIFY(!client.listMailboxes(QString(), QStringLiteral("*")).has_value());
    QVERIFY(client.lastErrorText().contains(QStringLiteral("Not connected")));
    QCOMPARE(client.connect(QString()), 0);
}

void TestImapClient::notificationsGoToTheLastBoundSink()
{
    ScriptedImapServer server;
    ImapClient client;
    RecordingSink first;
    RecordingSink second;
    client.bindEvents(&first);
    client.bindEvents(&second);
    client.unbindEvents(&first); // not the bound one: no effect
    QVERIFY(connectTo(client, server));
    server.expect(fetchCommand("A001", 1))
        .send("* 1 FETCH (BODY[] {" + QByteArray::number(kMessage.size()) + "}\r\n")
        .sendSlowly(kMessage + ")\r\nA001 OK Fetch completed.\r\n", 40, 30);
    QVERIFY(client.fetchSingle(1, false).has_value());
    QCOMPARE(first.abortChecks + int(first.percents.size()), 0);
    QVERIFY(second.abortChecks > 0);
    QCOMPARE(second.percents.last(), 100);

    client.unbindEvents(&second);
    const int before = second.abortChecks;
    server.expect(fetchCommand("A002", 1))
        .send("* 1 FETCH (BODY[] {" + QByteArray::number(kMessage.size()) + "}\r\n")
        .sendSlowly(kMessage + ")\r\nA002 OK Fetch completed.\r\n", 40, 30);
    QVERIFY(client.fetchSingle(1, false).has_value());
    QCOMPARE(second.abortChecks, before);
    VERIFY_NO_SERVER_ERRORS(server);
}

// ---------------------------------------------------------------------------------------------
// Why a call failed

void TestImapClient::failureOfAFetch_data()
{
    // What the server does after "A001 FETCH 1 ...", and the failure the caller is given.
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<bool>("drop");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QByteArray>("status");
    QTest::addColumn<QByteArray>("code");
    QTest::addColumn<QString>("text");
    using K = ImapFailure::Kind;
    QTest::newRow("drop mid-literal") << QByteArray("* 1 FETCH (BODY[] {1000}\r\nabc") << true
                                      << int(K::ConnectionLost) << QByteArray() << QByteArray() << QString();
    QTest::newRow("BYE") << QByteArray("* BYE Server shutting down.\r\n") << true << int(K::ConnectionLost)
                         << QByteArray("BYE") << QByteArray() << QStringLiteral("Server shutting down.");
    QTest::newRow("silence") << QByteArray("* 1 FETCH (BODY[] {100}\r\nabc") << false << int(K::TimedOut)
                             << QByteArray() << QByteArray() << QString();
    QTest::newRow("Exchange throttling")
        << QByteArray("A001 NO Request is throttled. Suggested Backoff Time: 2000 milliseconds\r\n") << false
        << int(K::Refused) << QByteArray("NO") << QByteArray()
        << QStringLiteral("Request is throttled. Suggested Backoff Time: 2000 milliseconds");
    QTest::newRow("response code") << QByteArray("A001 NO [UNAVAILABLE (busy)] Try later\r\n") << false
                                   << int(K::Refused) << QByteArray("NO") << QByteArray("UNAVAILABLE")
                                   << QStringLiteral("Try later");
    QTest::newRow("BAD") << QByteArray("A001 BAD Error in IMAP command FETCH: Invalid messageset\r\n")
                         << false << int(K::Refused) << QByteArray("BAD") << QByteArray()
                         << QStringLiteral("Error in IMAP command FETCH: Invalid messageset");
    QTest::newRow("BODY[] NIL") << QByteArray("* 1 FETCH (BODY[] NIL)\r\nA001 OK done\r\n") << false
                                << int(K::NoData) << QByteArray() << QByteArray() << QString();
    QTest::newRow("unreadable stream") << QByteArray("* 1 FETCH (BODY[] {4294967296}\r\nxxxx") << false
                                       << int(K::Unreadable) << QByteArray() << QByteArray() << QString();
    QTest::newRow("fetched") << fetchReply(1, kMessage) + "A001 OK done\r\n"
                             << false << int(K::None) << QByteArray() << QByteArray() << QString();
}

void TestImapClient::failureOfAFetch()
{
    QFETCH(QByteArray, answer);
    QFETCH(bool, drop);
    QFETCH(int, kind);
    QFETCH(QByteArray, status);
    QFETCH(QByteArray, code);
    QFETCH(QString, text);
    ScriptedImapServer server;
    ImapClient client;
    client.setTimeoutMs(300);
    QVERIFY(connectTo(client, server));
    server.expect(fetchCommand("A001", 1)).send(answer);
    if (drop)
        server.drop();
    client.fetchSingle(1, false);
    const ImapFailure failure = client.lastFailure();
    QCOMPARE(int(failure.kind), kind);
    QCOMPARE(failure.status, status);
    QCOMPARE(failure.code, code);
    QCOMPARE(failure.text, text);
    QCOMPARE(failure.host, QStringLiteral("127.0.0.1"));
    QCOMPARE(failure.connectionGone(), kind == int(ImapFailure::Kind::ConnectionLost) ||
                                           kind == int(ImapFailure::Kind::TimedOut) ||
                                           kind == int(ImapFailure::Kind::Unreadable));
    // The next call on a connection that is gone says so.
    if (failure.connectionGone()) {
        client.fetchSingle(2, false);
        QCOMPARE(client.lastFailure().kind, ImapFailure::Kind::NotConnected);
    }
}

void TestImapClient::failureOfAConnect_data()
{
    QTest::addColumn<QByteArray>("greeting"); // empty: the server closes without a word
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("text");
    QTest::newRow("BYE greeting") << QByteArray("* BYE Too many connections")
                                  << int(ImapFailure::Kind::NoGreeting)
                                  << QStringLiteral("Too many connections");
    QTest::newRow("no greeting") << QByteArray() << int(ImapFailure::Kind::NoGreeting) << QString();
    QTest::newRow("not IMAP") << QByteArray("SSH-2.0-OpenSSH") << int(ImapFailure::Kind::NoGreeting)
                              << QString();
    QTest::newRow("OK") << QByteArray("* OK ready") << int(ImapFailure::Kind::None) << QString();
}

void TestImapClient::failureOfAConnect()
{
    QFETCH(QByteArray, greeting);
    QFETCH(int, kind);
    QFETCH(QString, text);
    ScriptedImapServer server;
    ImapClient client;
    server.attach(client);
    if (greeting.isEmpty())
        server.drop();
    else
        server.sendLine(greeting);
    client.connect(QStringLiteral("127.0.0.1"));
    QCOMPARE(int(client.lastFailure().kind), kind);
    QCOMPARE(client.lastFailure().text, text);
    QCOMPARE(client.lastFailure().host, QStringLiteral("127.0.0.1"));
}

void TestImapClient::noSignInAfterPreauth()
{
    ScriptedImapServer server;
    ImapClient client;
    QVERIFY(connectTo(client, server, "* PREAUTH [CAPABILITY IMAP4rev1 AUTH=XOAUTH2] signed in already"));
    // Neither command goes out: the script expects nothing, so any line would be an error.
    QCOMPARE(client.login(QStringLiteral("ann"), QStringLiteral("secret")), 1);
    QCOMPARE(client.loginXOAuth2(QStringLiteral("ann"), QStringLiteral("token")), 1);
    QVERIFY(client.lastErrorText().contains(QStringLiteral("PREAUTH")));
    QCOMPARE(client.state(), ImapClient::State::Authenticated);
    server.expect("A001 EXAMINE \"Inbox\"").sendLine("* 2 EXISTS").sendLine("A001 OK done");
    QCOMPARE(client.selectMailbox(QStringLiteral("Inbox")), 1);
    QVERIFY(server.scriptDone());
    VERIFY_NO_SERVER_ERRORS(server);
}

void TestImapClient::alertsAreCollectedOnce()
{
    ScriptedImapServer server;
    ImapClient client;
    QVERIFY(connectTo(client, server, "* OK [ALERT] Maintenance tonight at 22:00"));
    server.expect("A001 LOGIN \"ann\" \"pw\"")
        .sendLine("* OK [ALERT] Your mailbox is almost full")
        .sendLine("* OK [ALERT] Maintenance tonight at 22:00")
        .sendLine("A001 OK [ALERT] Your mailbox is almost full");
    QCOMPARE(client.login(QStringLiteral("ann"), QStringLiteral("pw")), 1);
    QCOMPARE(client.takeAlerts(), (QStringList{QStringLiteral("Maintenance tonight at 22:00"),
                                               QStringLiteral("Your mailbox is almost full")}));
    QCOMPARE(client.takeAlerts(), QStringList());
}

QTEST_GUILESS_MAIN(TestImapClient)
#include "tst_imapclient.moc"
