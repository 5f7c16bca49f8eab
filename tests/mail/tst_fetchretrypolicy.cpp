// What the extraction does after a failed fetch or reconnect, the wait that keeps the window
// running, and the plain words for each failure.
#include "mail/FailureCause.h"
#include "mail/FetchRetryPolicy.h"
#include "mail/RetryWait.h"

#include <QTest>
#include <QTimer>

namespace {

using Kind = ImapFailure::Kind;
using Action = FetchRetryPolicy::Action;

ImapFailure failure(Kind kind, const QByteArray& status = {}, const QByteArray& code = {},
                    const QString& text = {})
{
    ImapFailure f;
    f.kind = kind;
    f.host = QStringLiteral("imap.example.org");
    f.status = status;
    f.code = code;
    f.text = text;
    return f;
}

ImapFailure refused(const QByteArray& status, const QByteArray& code, const QString& text)
{
    return failure(Kind::Refused, status, code, text);
}

} // namespace

class TestFetchRetryPolicy : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void afterFetch_data();
    void afterFetch();
    void afterReconnect_data();
    void afterReconnect();
    void waitRunsTheEventLoopUntilTheTimeIsUp();
    void waitEndsAtStop();
    void causes_data();
    void causes();
};

void TestFetchRetryPolicy::afterFetch_data()
{
    QTest::addColumn<ImapFailure>("failure");
    QTest::addColumn<int>("reconnects");
    QTest::addColumn<int>("busyRetries");
    QTest::addColumn<int>("action");
    QTest::addColumn<int>("waitMs");
    const QString exchange =
        QStringLiteral("Request is throttled. Suggested Backoff Time: 2000 milliseconds");
    // Connection gone: reconnect after 1, 2, 4 s, then give up the rest.
    QTest::newRow("dropped") << failure(Kind::ConnectionLost) << 0 << 0 << int(Action::Reconnect) << 1000;
    QTest::newRow("BYE") << failure(Kind::ConnectionLost, "BYE", {}, QStringLiteral("bye")) << 1 << 0
                         << int(Action::Reconnect) << 2000;
    QTest::newRow("silence") << failure(Kind::TimedOut) << 2 << 0 << int(Action::Reconnect) << 4000;
    QTest::newRow("TLS error") << failure(Kind::TlsOther) << 0 << 0 << int(Action::Reconnect) << 1000;
    QTest::newRow("unreadable") << failure(Kind::Unreadable) << 0 << 0 << int(Action::Reconnect) << 1000;
    QTest::newRow("fourth drop") << failure(Kind::ConnectionLost) << 3 << 0 << int(Action::GiveUpRest) << 0;
    QTest::newRow("not connected") << failure(Kind::NotConnected) << 0 << 0 << int(Action::GiveUpRest) << 0;
    // Busy: the suggested wait, capped; a default without one; a few times only.
    QTest::newRow("Exchange") << refused("NO", {}, exchange) << 0 << 0 << int(Action::WaitAndRetry) << 2000;
    QTest::newRow("Exchange BAD") << refused("BAD", {}, exchange) << 0 << 1 << int(Action::WaitAndRetry)
                                  << 2000;
    QTest::newRow("huge backoff")
        << refused("NO", {},
                   QStringLiteral("Request is throttled. Suggested Backoff Time: 900000 milliseconds"))
        << 0 << 0 << int(Action::WaitAndRetry) << 60000;
    QTest::newRow("no hint") << refused("NO", {}, QStringLiteral("Request is throttled.")) << 0 << 0
                             << int(Action::WaitAndRetry) << 3000;
    QTest::newRow("Server Unavailable") << refused("NO", {}, QStringLiteral("Server Unavailable. 15")) << 0
                                        << 0 << int(Action::WaitAndRetry) << 3000;
    QTest::newRow("UNAVAILABLE") << refused("NO", "UNAVAILABLE", QStringLiteral("Try later")) << 0 << 0
                                 << int(Action::WaitAndRetry) << 3000;
    QTest::newRow("LIMIT") << refused("NO", "LIMIT", QStringLiteral("Too many")) << 0 << 0
                           << int(Action::WaitAndRetry) << 3000;
    QTest::newRow("INUSE") << refused("NO", "INUSE", QStringLiteral("Locked")) << 0 << 0
                           << int(Action::WaitAndRetry) << 3000;
    QTest::newRow("busy too often") << refused("NO", {}, exchange) << 0 << 4 << int(Action::Skip) << 0;
    // Not there, or a plain no: not asked again.
    QTest::newRow("past the end") << refused(
                                         "BAD", {},
                                         QStringLiteral("Error in IMAP command FETCH: Invalid messageset"))
                                  << 0 << 0 << int(Action::Skip) << 0;
    QTest::newRow("plain NO") << refused("NO", {}, QStringLiteral("No such message")) << 0 << 0
                              << int(Action::Skip) << 0;
    QTest::newRow("NONEXISTENT") << refused("NO", "NONEXISTENT", QStringLiteral("gone")) << 0 << 0
                                 << int(Action::Skip) << 0;
    QTest::newRow("BODY[] NIL") << failure(Kind::NoData) << 0 << 0 << int(Action::Skip) << 0;
    QTest::newRow("abandoned") << failure(Kind::Aborted) << 0 << 0 << int(Action::Skip) << 0;
    QTest::newRow("closed by the application") << failure(Kind::Other) << 0 << 0 << int(Action::Skip) << 0;
}

void TestFetchRetryPolicy::afterFetch()
{
    QFETCH(ImapFailure, failure);
    QFETCH(int, reconnects);
    QFETCH(int, busyRetries);
    QFETCH(int, action);
    QFETCH(int, waitMs);
    const FetchRetryPolicy::Decision decision =
        FetchRetryPolicy::afterFetch(failure, reconnects, busyRetries);
    QCOMPARE(int(decision.action), action);
    QCOMPARE(decision.waitMs, waitMs);
}

void TestFetchRetryPolicy::afterReconnect_data()
{
    QTest::addColumn<ImapFailure>("failure");
    QTest::addColumn<int>("reconnects");
    QTest::addColumn<int>("action");
    QTest::addColumn<int>("waitMs");
    QTest::newRow("dropped again") << failure(Kind::ConnectionLost) << 1 << int(Action::Reconnect) << 2000;
    QTest::newRow("unreachable") << failure(Kind::Unreachable) << 2 << int(Action::Reconnect) << 4000;
    QTest::newRow("no greeting") << failure(Kind::NoGreeting) << 1 << int(Action::Reconnect) << 2000;
    QTest::newRow("attempts used up") << failure(Kind::ConnectionLost) << 3 << int(Action::GiveUpRest) << 0;
    QTest::newRow("busy sign-in")
        << refused("NO", {}, QStringLiteral("Request is throttled. Suggested Backoff Time: 500 milliseconds"))
        << 1 << int(Action::Reconnect) << 500;
    QTest::newRow("sign-in refused") << refused("NO", "AUTHENTICATIONFAILED", QStringLiteral("Bad")) << 1
                                     << int(Action::GiveUpRest) << 0;
    QTest::newRow("certificate") << failure(Kind::TlsUntrusted) << 1 << int(Action::GiveUpRest) << 0;
    QTest::newRow("stopped") << failure(Kind::Aborted) << 1 << int(Action::GiveUpRest) << 0;
}

void TestFetchRetryPolicy::afterReconnect()
{
    QFETCH(ImapFailure, failure);
    QFETCH(int, reconnects);
    QFETCH(int, action);
    QFETCH(int, waitMs);
    const FetchRetryPolicy::Decision decision = FetchRetryPolicy::afterReconnect(failure, reconnects);
    QCOMPARE(int(decision.action), action);
    QCOMPARE(decision.waitMs, waitMs);
}

void TestFetchRetryPolicy::waitRunsTheEventLoopUntilTheTimeIsUp()
{
    qint64 now = 1000;
    QList<int> pauses;
    RetryWait wait([&] { return now; },
                   [&](int ms) {
                       pauses.append(ms);
                       QCoreApplication::processEvents();
                       now += ms;
                   });
    bool timerRan = false;
    QTimer::singleShot(0, this, [&] { timerRan = true; });
    QVERIFY(wait.wait(120, [] { return false; }));
    QCOMPARE(pauses, (QList<int>{50, 50, 20}));
    QVERIFY(timerRan);
    // Nothing to wait for: no pause at all.
    pauses.clear();
    QVERIFY(wait.wait(0, [] { return false; }));
    QVERIFY(pauses.isEmpty());
}

void TestFetchRetryPolicy::waitEndsAtStop()
{
    qint64 now = 0;
    bool stop = false;
    int pauses = 0;
    // A click handled during the second pause sets the flag.
    RetryWait wait([&] { return now; },
                   [&](int ms) {
                       if (++pauses == 2)
                           QTimer::singleShot(0, this, [&] { stop = true; });
                       QCoreApplication::processEvents();
                       now += ms;
                   });
    QVERIFY(!wait.wait(60000, [&] { return stop; }));
    QCOMPARE(pauses, 2);
    // Stopped before it starts: no pause.
    pauses = 0;
    QVERIFY(!wait.wait(1000, [] { return true; }));
    QCOMPARE(pauses, 0);
}

void TestFetchRetryPolicy::causes_data()
{
    QTest::addColumn<ImapFailure>("failure");
    QTest::addColumn<QString>("text");
    QTest::newRow("untrusted") << failure(Kind::TlsUntrusted)
                               << QStringLiteral(
                                      "The certificate of the server imap.example.org is not trusted.");
    QTest::newRow("expired") << failure(Kind::TlsExpired)
                             << QStringLiteral("The certificate of the server imap.example.org has expired.");
    QTest::newRow("wrong host")
        << failure(Kind::TlsWrongHost)
        << QStringLiteral("The certificate that the server imap.example.org presented is for another host.");
    QTest::newRow("unreachable") << failure(Kind::Unreachable)
                                 << QStringLiteral("The server imap.example.org could not be reached.");
    QTest::newRow("BYE greeting")
        << failure(Kind::NoGreeting, "BYE", {}, QStringLiteral("Too many connections"))
        << QStringLiteral("The server imap.example.org closed the connection or sent no greeting. "
                          "It said: \"Too many connections\"");
    QTest::newRow("no greeting") << failure(Kind::NoGreeting)
                                 << QStringLiteral(
                                        "The server imap.example.org closed the connection or sent no "
                                        "greeting.");
    QTest::newRow("closed") << failure(Kind::ConnectionLost)
                            << QStringLiteral("The server imap.example.org closed the connection.");
    QTest::newRow("silent") << failure(Kind::TimedOut)
                            << QStringLiteral("The server imap.example.org stopped answering.");
    QTest::newRow("busy") << refused("NO", {}, QStringLiteral("Request is throttled."))
                          << QStringLiteral(
                                 "The server imap.example.org refused the request. It said: \"Request is "
                                 "throttled.\"");
    QTest::newRow("success") << failure(Kind::None) << QString();
}

void TestFetchRetryPolicy::causes()
{
    QFETCH(ImapFailure, failure);
    QFETCH(QString, text);
    QCOMPARE(FailureCause::text(failure), text);
    QCOMPARE(FailureCause::folderMissing(QStringLiteral("Sent")),
             QStringLiteral("The folder \"Sent\" does not exist on this server."));
}

QTEST_GUILESS_MAIN(TestFetchRetryPolicy)
#include "tst_fetchretrypolicy.moc"
