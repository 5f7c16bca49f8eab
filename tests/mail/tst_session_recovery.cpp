// The extraction against a scripted server that drops, says BYE, falls silent, is busy or greets
// with PREAUTH: exact conversations, the rows that end up listed, the boxes, the error log. The
// waits between attempts pass on a test clock: nothing here waits for seconds.
#include "frame/AppTitle.h"
#include "frame/ErrorLog.h"
#include "mail/ClsChilkatImap.h"
#include "mail/ImapClient.h"
#include "support/ScriptedImapServer.h"
#include "support/ScriptedMessageBoxes.h"
#include "support/ServerErrors.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

namespace {

const QString kInvalidLogin =
    QStringLiteral("Invalid login. Please double-check your username and password.\r\n\r\n");

QByteArray tag(int n)
{
    return "A" + QByteArray::number(n).rightJustified(3, '0');
}

QByteArray message(int n)
{
    return "From: Sender " + QByteArray::number(n) + " <s" + QByteArray::number(n) +
           "@example.org>\r\nSubject: Message " + QByteArray::number(n) + "\r\n\r\nBody " +
           QByteArray::number(n) + "\r\n";
}

QByteArray fetchLine(int t, int n)
{
    return tag(t) + " FETCH " + QByteArray::number(n) + " (BODY.PEEK[] INTERNALDATE)";
}

QByteArray fetchAnswer(int t, int n)
{
    const QByteArray m = message(n);
    return "* " + QByteArray::number(n) + " FETCH (BODY[] {" + QByteArray::number(m.size()) + "}\r\n" + m +
           " INTERNALDATE \"07-Dec-2026 09:30:00 +0000\")\r\n" + tag(t) + " OK Fetch completed.\r\n";
}

int errorLogEntries()
{
    QFile file(ErrorLog::path());
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    return int(file.readAll().count(QByteArray(52, '*') + "\r\n"));
}

} // namespace

class TestSessionRecovery : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();

    void dropInTheMiddleOfAMessage();
    void byeInsteadOfAMessage();
    void silenceInsteadOfAMessage();
    void busyServerIsAskedAgain_data();
    void busyServerIsAskedAgain();
    void busyTooOftenLeavesAGap();
    void missingMessageIsNotAskedAgain();
    void secondDropDuringTheReconnect();
    void reconnectsUsedUpGiveUpTheRest();
    void countChangedAcrossTheReconnect();
    void stopDuringABusyWait();
    void stopDuringAReconnect();
    void preauthSendsNoLogin();
    void alertsAreShownOnce();
    void causeOfFailureInTheLoginBox();

private:
    // The client's side: connect, ID and LOGIN, then EXAMINE of Inbox with `count` messages.
    // Tags start at A001 on every connection.
    void signIn(ScriptedImapServer& server, const QByteArray& greeting = "* OK ready");
    void select(ScriptedImapServer& server, int count, int t = 3);
    std::shared_ptr<clsChilkatIMAP> session(ScriptedImapServer& server);
    QList<int> extract(clsChilkatIMAP& session, int first, int last);

    ImapClient m_component;
    ScriptedMessageBoxes m_boxes;
    QTemporaryDir m_temp;
    qint64 m_now = 0;
    QList<qint64> m_waited; // the test clock's time at each pause
    QStringList m_status;
    std::function<void()> m_onPause;
};

void TestSessionRecovery::initTestCase()
{
    QVERIFY(m_temp.isValid());
    qputenv("TEMP", QFile::encodeName(m_temp.path()));
    AppTitle::set(QStringLiteral("Recovery Test"));
    m_component.setTimeoutMs(300);
    // These conversations are written one whole-message fetch at a time; reading ahead (structures
    // first included) while recovering is covered by the read-ahead tests and the Dovecot
    // retrieval that loses its connection.
    m_component.setReadAheadLimits(1, 16 << 20);
    m_component.setStructureFirst(false);
}

void TestSessionRecovery::init()
{
    m_boxes.clear();
    m_waited.clear();
    m_status.clear();
    m_onPause = nullptr;
    m_now = 0;
    m_component.disconnect();
    QFile::remove(ErrorLog::path());
}

void TestSessionRecovery::signIn(ScriptedImapServer& server, const QByteArray& greeting)
{
    server.sendLine(greeting)
        .expect("A001 ID (\"GUID\" \"1\")")
        .sendLine("* ID (\"name\" \"Scripted\")")
        .sendLine("A001 OK ID completed.")
        .expect("A002 LOGIN \"ann\" \"pw\"")
        .sendLine("A002 OK Logged in.");
}

void TestSessionRecovery::select(ScriptedImapServer& server, int count, int t)
{
    server.expect(tag(t) + " EXAMINE \"Inbox\"")
        .sendLine("* " + QByteArray::number(count) + " EXISTS")
        .sendLine(tag(t) + " OK [READ-ONLY] Examine completed.");
}

std::shared_ptr<clsChilkatIMAP> TestSessionRecovery::session(ScriptedImapServer& server)
{
    auto s = std::make_shared<clsChilkatIMAP>(m_boxes);
    s->setChilkatIMAPObject(&m_component);
    s->setSSL(false);
    s->setPORT(server.port());
    s->setIMAPServer(QStringLiteral("127.0.0.1"));
    s->setUsername(QStringLiteral("ann"));
    s->setPassword(QStringLiteral("pw"));
    s->setRetryWait(RetryWait([this] { return m_now; },
                              [this](int ms) {
                                  m_waited.append(m_now);
                                  if (m_onPause)
                                      m_onPause();
                                  QCoreApplication::processEvents();
                                  m_now += ms;
                              }));
    connect(s.get(), &clsChilkatIMAP::ExtractionStatus, this,
            [this](const QString& text) { m_status << text; });
    return s;
}

QList<int> TestSessionRecovery::extract(clsChilkatIMAP& s, int first, int last)
{
    QList<int> numbers;
    const auto c = connect(&s, &clsChilkatIMAP::MailExtractListing, this,
                           [&numbers](const QString&, const QString&, const QString&, const QString& subject,
                                      const QString&, const QString&, const QString&, int uID) {
                               QCOMPARE(subject, QStringLiteral("Message %1").arg(uID));
                               numbers.append(uID);
                           });
    s.setCurrentLocation(first);
    s.setMaxRecord(last);
    s.StartMailExtraction(QStringLiteral("Inbox"));
    disconnect(c);
    return numbers;
}

#define SCRIPT_DONE(server)                                                                                  \
    do {                                                                                                     \
        QVERIFY(server.scriptDone());                                                                        \
        VERIFY_NO_SERVER_ERRORS(server);                                                                     \
    } while (false)

void TestSessionRecovery::dropInTheMiddleOfAMessage()
{
    ScriptedImapServer server(ScriptedImapServer::Tcp);
    signIn(server);
    select(server, 6);
    for (int n = 1; n <= 3; ++n)
        server.expect(fetchLine(3 + n, n)).send(fetchAnswer(3 + n, n));
    server.expect(fetchLine(7, 4)).send("* 4 FETCH (BODY[] {400}\r\nFrom: half").drop();
    server.acceptNext();
    signIn(server);
    select(server, 6);
    for (int n = 4; n <= 6; ++n)
        server.expect(fetchLine(n, n)).send(fetchAnswer(n, n));
    auto s = session(server);
    QCOMPARE(extract(*s, 1, 6), (QList<int>{1, 2, 3, 4, 5, 6}));
    SCRIPT_DONE(server);
    QCOMPARE(server.connectionsAccepted(), 2);
    QCOMPARE(m_status,
             QStringList{QStringLiteral("Connection lost, reconnecting in 1 s (reading mail 4 of 6)")});
    QCOMPARE(m_waited.size(), 20); // one second in slices
    QVERIFY(m_boxes.shown().isEmpty());
    QVERIFY(s->Gaps().empty());
    QCOMPARE(errorLogEntries(), 7); // one per fetch attempt
    QCOMPARE(s->CurrentLocation(), 6);
}

void TestSessionRecovery::byeInsteadOfAMessage()
{
    ScriptedImapServer server(ScriptedImapServer::Tcp);
    signIn(server);
    select(server, 5);
    for (int n = 1; n <= 2; ++n)
        server.expect(fetchLine(3 + n, n)).send(fetchAnswer(3 + n, n));
    server.expect(fetchLine(6, 3)).sendLine("* BYE Server shutting down.").drop().acceptNext();
    signIn(server);
    select(server, 5);
    for (int n = 3; n <= 5; ++n)
        server.expect(fetchLine(n + 1, n)).send(fetchAnswer(n + 1, n));
    auto s = session(server);
    QCOMPARE(extract(*s, 1, 5), (QList<int>{1, 2, 3, 4, 5}));
    SCRIPT_DONE(server);
    QVERIFY(m_boxes.shown().isEmpty());
    QVERIFY(s->Gaps().empty());
    QCOMPARE(errorLogEntries(), 6);
}

void TestSessionRecovery::silenceInsteadOfAMessage()
{
    ScriptedImapServer server(ScriptedImapServer::Tcp);
    signIn(server);
    select(server, 6);
    for (int n = 1; n <= 3; ++n)
        server.expect(fetchLine(3 + n, n)).send(fetchAnswer(3 + n, n));
    server.expect(fetchLine(7, 4)).acceptNext(); // and nothing on the first connection
    signIn(server);
    select(server, 6);
    for (int n = 4; n <= 6; ++n)
        server.expect(fetchLine(n, n)).send(fetchAnswer(n, n));
    auto s = session(server);
    QCOMPARE(extract(*s, 1, 6), (QList<int>{1, 2, 3, 4, 5, 6}));
    SCRIPT_DONE(server);
    QVERIFY(s->Gaps().empty());
    QCOMPARE(errorLogEntries(), 7);
    QFile log(ErrorLog::path());
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(log.readAll().contains("Timed out"));
}

void TestSessionRecovery::busyServerIsAskedAgain_data()
{
    QTest::addColumn<QByteArray>("refusal");
    QTest::addColumn<QString>("status");
    QTest::addColumn<int>("pauses");
    QTest::newRow("Exchange, 2000 ms")
        << QByteArray("NO Request is throttled. Suggested Backoff Time: 2000 milliseconds")
        << QStringLiteral("Server busy, waiting 2 s (reading mail 3 of 6)") << 40;
    QTest::newRow("no hint") << QByteArray("NO [UNAVAILABLE] Try again later")
                             << QStringLiteral("Server busy, waiting 3 s (reading mail 3 of 6)") << 60;
    QTest::newRow("BAD, short hint")
        << QByteArray("BAD Request is throttled. Suggested Backoff Time: 10 milliseconds")
        << QStringLiteral("Server busy, waiting 1 s (reading mail 3 of 6)") << 1;
}

void TestSessionRecovery::busyServerIsAskedAgain()
{
    QFETCH(QByteArray, refusal);
    QFETCH(QString, status);
    QFETCH(int, pauses);
    ScriptedImapServer server(ScriptedImapServer::Tcp);
    signIn(server);
    select(server, 6);
    // 3 and 5 are refused once each; both are asked again, on the same connection.
    int t = 4;
    for (int n = 1; n <= 6; ++n) {
        if (n == 3 || n == 5) {
            server.expect(fetchLine(t, n)).sendLine(tag(t) + ' ' + refusal);
            ++t;
        }
        server.expect(fetchLine(t, n)).send(fetchAnswer(t, n));
        ++t;
    }
    auto s = session(server);
    QCOMPARE(extract(*s, 1, 6), (QList<int>{1, 2, 3, 4, 5, 6}));
    SCRIPT_DONE(server);
    QCOMPARE(server.connectionsAccepted(), 1);
    QCOMPARE(m_status, (QStringList{status, QString(status).replace(QLatin1String("mail 3"),
                                                                    QLatin1String("mail 5"))}));
    QCOMPARE(m_waited.size(), 2 * pauses);
    QVERIFY(s->Gaps().empty());
    QCOMPARE(errorLogEntries(), 8);
}

void TestSessionRecovery::busyTooOftenLeavesAGap()
{
    ScriptedImapServer server(ScriptedImapServer::Tcp);
    signIn(server);
    select(server, 3);
    server.expect(fetchLine(4, 1)).send(fetchAnswer(4, 1));
    const QByteArray busy = " NO Request is throttled. Suggested Backoff Time: 100 milliseconds";
    for (int t = 5; t <= 9; ++t) // the first answer and four more
        server.expect(fetchLine(t, 2)).sendLine(tag(t) + busy);
    server.expect(fetchLine(10, 3)).send(fetchAnswer(10, 3));
    auto s = session(server);
    QCOMPARE(extract(*s, 1, 3), (QList<int>{1, 3}));
    SCRIPT_DONE(server);
    QCOMPARE(s->Gaps().unread, QList<int>{2});
    QCOMPARE(s->Gaps().lastReason,
             QStringLiteral("The server 127.0.0.1 refused the request. It said: \"Request is "
                            "throttled. Suggested Backoff Time: 100 milliseconds\""));
    QCOMPARE(errorLogEntries(), 7);
    QVERIFY(m_boxes.shown().isEmpty());
}

void TestSessionRecovery::missingMessageIsNotAskedAgain()
{
    ScriptedImapServer server(ScriptedImapServer::Tcp);
    signIn(server);
    select(server, 3);
    server.expect(fetchLine(4, 1)).sendLine("* 1 FETCH (BODY[] NIL)").sendLine("A004 OK done"); // expunged
    server.expect(fetchLine(5, 2)).send(fetchAnswer(5, 2));
    server.expect(fetchLine(6, 3)).sendLine("A006 NO Message not found");
    server.expect(fetchLine(7, 4)).sendLine("A007 BAD Error in IMAP command FETCH: Invalid messageset");
    auto s = session(server);
    QCOMPARE(extract(*s, 1, 4), QList<int>{2});
    SCRIPT_DONE(server);
    QVERIFY(m_status.isEmpty());
    QVERIFY(m_waited.isEmpty());
    // 1 is gone, 4 is past the end; 3 is there and was refused.
    QCOMPARE(s->Gaps().unread, QList<int>{3});
    QCOMPARE(errorLogEntries(), 4);
}

void TestSessionRecovery::secondDropDuringTheReconnect()
{
    ScriptedImapServer server(ScriptedImapServer::Tcp);
    signIn(server);
    select(server, 3);
    server.expect(fetchLine(4, 1)).send(fetchAnswer(4, 1));
    server.expect(fetchLine(5, 2)).drop().acceptNext();
    // The first reconnect is dropped after the greeting, the second one works.
    server.sendLine("* OK ready").expect("A001 ID (\"GUID\" \"1\")").drop().acceptNext();
    signIn(server);
    select(server, 3);
    server.expect(fetchLine(4, 2)).send(fetchAnswer(4, 2));
    server.expect(fetchLine(5, 3)).send(fetchAnswer(5, 3));
    auto s = session(server);
    QCOMPARE(extract(*s, 1, 3), (QList<int>{1, 2, 3}));
    SCRIPT_DONE(server);
    QCOMPARE(m_status,
             (QStringList{QStringLiteral("Connection lost, reconnecting in 1 s (reading mail 2 of 3)"),
                          QStringLiteral("Connection lost, reconnecting in 2 s (reading mail 2 of 3)")}));
    QVERIFY(s->Gaps().empty());
    QVERIFY(m_boxes.shown().isEmpty());
    QCOMPARE(errorLogEntries(), 4);
}

void TestSessionRecovery::reconnectsUsedUpGiveUpTheRest()
{
    ScriptedImapServer server(ScriptedImapServer::Tcp);
    signIn(server);
    select(server, 12);
    server.expect(fetchLine(4, 1)).send(fetchAnswer(4, 1));
    server.expect(fetchLine(5, 2)).drop();
    // Three reconnects, each greeted with BYE.
    for (int k = 0; k < 3; ++k)
        server.acceptNext().sendLine("* BYE Too many connections from your address").drop();
    auto s = session(server);
    QCOMPARE(extract(*s, 1, 12), QList<int>{1});
    SCRIPT_DONE(server);
    QCOMPARE(m_status.size(), 3);
    QVERIFY(m_status.at(2).startsWith(QLatin1String("Connection lost, reconnecting in 4 s")));
    QCOMPARE(s->Gaps().unread, (QList<int>{2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
    QCOMPARE(s->Gaps().lastReason,
             QStringLiteral("The server 127.0.0.1 closed the connection or sent no greeting. "
                            "It said: \"Too many connections from your address\""));
    QVERIFY(m_boxes.shown().isEmpty());
    QCOMPARE(errorLogEntries(), 2); // the rest was not asked for
}

void TestSessionRecovery::countChangedAcrossTheReconnect()
{
    ScriptedImapServer server(ScriptedImapServer::Tcp);
    signIn(server);
    select(server, 2);
    server.expect(fetchLine(4, 1)).drop().acceptNext();
    signIn(server);
    select(server, 3);
    server.expect(fetchLine(4, 1)).send(fetchAnswer(4, 1));
    server.expect(fetchLine(5, 2)).send(fetchAnswer(5, 2));
    auto s = session(server);
    QCOMPARE(extract(*s, 1, 2), (QList<int>{1, 2}));
    SCRIPT_DONE(server);
    QVERIFY(s->Gaps().unread.isEmpty());
    QVERIFY(s->Gaps().countChanged());
    QCOMPARE(s->Gaps().countBefore, 2);
    QCOMPARE(s->Gaps().countAfter, 3);
}

void TestSessionRecovery::stopDuringABusyWait()
{
    ScriptedImapServer server(ScriptedImapServer::Tcp);
    signIn(server);
    select(server, 3);
    server.expect(fetchLine(4, 1)).send(fetchAnswer(4, 1));
    server.expect(fetchLine(5, 2))
        .sendLine("A005 NO Request is throttled. Suggested Backoff Time: 30000 milliseconds");
    auto s = session(server);
    // A Stop click, handled while the session waits.
    m_onPause = [&] {
        if (m_waited.size() == 3)
            QTimer::singleShot(0, this, [&] { s->AbortProcess = true; });
    };
    QCOMPARE(extract(*s, 1, 3), QList<int>{1});
    SCRIPT_DONE(server);
    QCOMPARE(m_waited.size(), 3);
    QVERIFY(s->Gaps().empty()); // stopped, not failed
    QCOMPARE(errorLogEntries(), 2);
    QVERIFY(m_boxes.shown().isEmpty());
}

void TestSessionRecovery::stopDuringAReconnect()
{
    ScriptedImapServer server(ScriptedImapServer::Tcp);
    signIn(server);
    select(server, 3);
    server.expect(fetchLine(4, 1)).send(fetchAnswer(4, 1));
    server.expect(fetchLine(5, 2)).drop().acceptNext();
    // The reconnect is greeted, then the server says nothing: the Stop comes while it waits.
    std::shared_ptr<clsChilkatIMAP> s;
    bool stopped = false;
    server.sendLine("* OK ready").expect("A001 ID (\"GUID\" \"1\")").run([&] {
        stopped = true;
        QTimer::singleShot(0, this, [&] { s->AbortProcess = true; });
    });
    s = session(server);
    m_component.setTimeoutMs(20000);
    QCOMPARE(extract(*s, 1, 3), QList<int>{1});
    m_component.setTimeoutMs(300);
    QVERIFY(stopped);
    SCRIPT_DONE(server);
    QVERIFY(s->Gaps().empty());
    QCOMPARE(errorLogEntries(), 2);
    QVERIFY(m_boxes.shown().isEmpty());
}

void TestSessionRecovery::preauthSendsNoLogin()
{
    ScriptedImapServer server(ScriptedImapServer::Tcp);
    server.sendLine("* PREAUTH [CAPABILITY IMAP4rev1] Welcome back")
        .expect("A001 ID (\"GUID\" \"1\")")
        .sendLine("A001 OK ID completed.");
    select(server, 1, 2);
    server.expect(fetchLine(3, 1)).send(fetchAnswer(3, 1));
    auto s = session(server);
    QCOMPARE(extract(*s, 1, 1), QList<int>{1});
    SCRIPT_DONE(server);
    QVERIFY(m_boxes.shown().isEmpty());
}

void TestSessionRecovery::alertsAreShownOnce()
{
    ScriptedImapServer server(ScriptedImapServer::Tcp);
    server.sendLine("* OK [ALERT] Maintenance at 22:00 UTC")
        .expect("A001 ID (\"GUID\" \"1\")")
        .sendLine("A001 OK ID completed.")
        .expect("A002 LOGIN \"ann\" \"pw\"")
        .sendLine("A002 OK [ALERT] Maintenance at 22:00 UTC");
    select(server, 1);
    server.expect(fetchLine(4, 1))
        .sendLine("* OK [ALERT] Your mailbox is nearly full")
        .send(fetchAnswer(4, 1));
    auto s = session(server);
    QCOMPARE(extract(*s, 1, 1), QList<int>{1});
    SCRIPT_DONE(server);
    // The sign-in's alert after Connect, the fetch's after the extraction.
    QCOMPARE(m_boxes.texts(), (QStringList{QStringLiteral("Maintenance at 22:00 UTC"),
                                           QStringLiteral("Your mailbox is nearly full")}));
}

void TestSessionRecovery::causeOfFailureInTheLoginBox()
{
    {
        ScriptedImapServer server(ScriptedImapServer::Tcp);
        server.sendLine("* BYE Too many connections").drop();
        QVERIFY(!session(server)->Connect());
        QCOMPARE(m_boxes.texts(),
                 QStringList{kInvalidLogin + QStringLiteral("The server 127.0.0.1 closed the connection "
                                                            "or sent no greeting. It said: \"Too many "
                                                            "connections\"")});
    }
    m_boxes.clear();
    {
        ScriptedImapServer server(ScriptedImapServer::Tcp);
        server.drop();
        QVERIFY(!session(server)->Connect());
        QCOMPARE(
            m_boxes.texts(),
            QStringList{kInvalidLogin +
                        QStringLiteral("The server 127.0.0.1 closed the connection or sent no greeting.")});
    }
    m_boxes.clear();
    {
        // A refused password: the box says only what it always said.
        ScriptedImapServer server(ScriptedImapServer::Tcp);
        server.sendLine("* OK ready")
            .expect("A001 ID (\"GUID\" \"1\")")
            .sendLine("A001 OK ID completed.")
            .expect("A002 LOGIN \"ann\" \"pw\"")
            .sendLine("A002 NO [AUTHENTICATIONFAILED] Authentication failed.")
            .acceptNext();
        signIn(server);
        auto s = session(server);
        QVERIFY(!s->Connect());
        QCOMPARE(m_boxes.texts(), QStringList{kInvalidLogin});
        m_boxes.clear();
        // A folder that is not there.
        QVERIFY(s->Connect());
        // No listing at hand: the mailboxes are listed first, and none of them is the folder.
        server.expect("A003 LIST \"\" \"*\"")
            .sendLine("* LIST (\\HasNoChildren) \"/\" INBOX")
            .sendLine("A003 OK List completed.")
            .expect("A004 EXAMINE \"Sent\"")
            .sendLine("A004 NO [NONEXISTENT] Mailbox doesn't exist: Sent");
        QCOMPARE(s->GetTotalMessage(QStringLiteral("Sent")), 0);
        QCOMPARE(m_boxes.texts(),
                 QStringList{kInvalidLogin +
                             QStringLiteral("The folder \"Sent\" does not exist on this server.")});
    }
}

QTEST_GUILESS_MAIN(TestSessionRecovery)
#include "tst_session_recovery.moc"
