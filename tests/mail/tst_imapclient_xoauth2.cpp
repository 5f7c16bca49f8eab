// Signing in with an OAuth 2.0 access token (SASL XOAUTH2) and reading the server's capabilities:
// exact conversations with a scripted in-memory server, then a private Dovecot that checks the tokens itself.
#include "mail/ImapClient.h"
#include "mail/ImapEventSink.h"
#include "support/DovecotHarness.h"
#include "support/ScriptedImapServer.h"
#include "support/ServerErrors.h"

#include <QTest>

namespace {

const QString kUser = QStringLiteral("ann@outlook.test");
const QString kToken = QStringLiteral("EwBYA8l6BAAUbDba3x2OMJElkF7gJ4z/VbCPEz0AAaLyrFeR-token");
const QByteArray kRefusal = R"({"status":"401","schemes":"bearer","scope":"mail"})";

// What the client has to send for kUser and kToken, written out independently of the client.
QByteArray credentials(const QString& user = kUser, const QString& token = kToken)
{
    return ("user=" + user.toUtf8() + '\x01' + "auth=Bearer " + token.toUtf8() + '\x01' + '\x01').toBase64();
}

bool showsNoSecret(const QString& text, const QString& token = kToken)
{
    return !text.contains(token) && !text.contains(QString::fromLatin1(credentials(kUser, token))) &&
           !text.contains(QStringLiteral("Bearer"));
}

class AbortingSink : public ImapEventSink {
public:
    void abortCheck(bool& abort) override { abort = true; }
    void percentDone(int, bool&) override {}
};

} // namespace

class TestImapClientXOAuth2 : public QObject {
    Q_OBJECT

private:
    bool connectTo(ImapClient& client, ScriptedImapServer& server, const QByteArray& greeting)
    {
        server.attach(client);
        server.sendLine(greeting);
        return client.connect(QStringLiteral("127.0.0.1")) == 1;
    }
    void connectOverTls(ImapClient& client);

private Q_SLOTS:
    void initTestCase();

    // Scripted server
    void credentialsGoWithTheCommandUnderSaslIr();
    void credentialsFollowTheContinuationWithoutSaslIr();
    void refusalExplainedInAContinuationIsDecoded();
    void serverThatKeepsAskingIsCancelled();
    void abandonedSignInClosesTheConnection();
    void unsendableCredentialsAreRefusedLocally_data();
    void unsendableCredentialsAreRefusedLocally();
    void capabilitiesFollowTheGreetingAndTheSignIn();
    void passwordRefusalShowsTheServersText();

    // Dovecot checking the tokens
    void dovecotAnnouncesXOAuth2();
    void validTokenSignsInAndOpensTheInbox();
    void passwordsStillWork();
    // Last: refused sign-ins slow the server down for this address.
    void expiredTokenIsRefused();
    void tokenForAnotherUserIsRefused();

private:
    std::unique_ptr<DovecotHarness> m_dovecot;
    const QString m_bob = QStringLiteral("bob@corvanel.test");
};

// ---------------------------------------------------------------------------------------------
// Scripted server

void TestImapClientXOAuth2::credentialsGoWithTheCommandUnderSaslIr()
{
    ScriptedImapServer server;
    ImapClient client;
    QVERIFY(connectTo(client, server, "* OK [CAPABILITY IMAP4rev1 SASL-IR AUTH=PLAIN AUTH=XOAUTH2] ready"));
    // Known from the greeting: nothing is asked.
    QCOMPARE(client.capabilities(), (QStringList{"IMAP4rev1", "SASL-IR", "AUTH=PLAIN", "AUTH=XOAUTH2"}));
    QVERIFY(client.hasCapability(QStringLiteral("auth=xoauth2")));
    server.expect("A001 AUTHENTICATE XOAUTH2 " + credentials())
        .sendLine("A001 OK [CAPABILITY IMAP4rev1 IDLE MOVE] Logged in");
    QCOMPARE(client.loginXOAuth2(kUser, kToken), 1);
    QCOMPARE(client.state(), ImapClient::State::Authenticated);
    QVERIFY2(showsNoSecret(client.lastErrorText()), qPrintable(client.lastErrorText()));
    QVERIFY2(client.lastErrorText().contains(QStringLiteral("Logged in")),
             qPrintable(client.lastErrorText()));
    // The capabilities that came with the sign-in replace the earlier ones, again without asking.
    QCOMPARE(client.capabilities(), (QStringList{"IMAP4rev1", "IDLE", "MOVE"}));
    server.expect("A002 NOOP").sendLine("A002 OK");
    QCOMPARE(client.sendRawCommand(QStringLiteral("NOOP")), QStringLiteral("A002 OK"));
    VERIFY_NO_SERVER_ERRORS(server);
}

void TestImapClientXOAuth2::credentialsFollowTheContinuationWithoutSaslIr()
{
    ScriptedImapServer server;
    ImapClient client;
    QVERIFY(connectTo(client, server, "* OK ready"));
    // The greeting says nothing: the client asks before it chooses how to send the credentials.
    server.expect("A001 CAPABILITY")
        .sendLine("* CAPABILITY IMAP4rev1 AUTH=XOAUTH2")
        .sendLine("A001 OK Capability completed.")
        .expect("A002 AUTHENTICATE XOAUTH2")
        .sendLine("+ ")
        .expect(credentials())
        .sendLine("A002 OK Logged in");
    QCOMPARE(client.loginXOAuth2(kUser, kToken), 1);
    QVERIFY2(showsNoSecret(client.lastErrorText()), qPrintable(client.lastErrorText()));
    // Nothing came with the sign-in: the client asks once, then knows.
    server.expect("A003 CAPABILITY")
        .sendLine("* CAPABILITY IMAP4rev1 IDLE")
        .sendLine("A003 OK Capability completed.");
    QVERIFY(client.hasCapability(QStringLiteral("IDLE")));
    QVERIFY(!client.hasCapability(QStringLiteral("AUTH=XOAUTH2")));
    server.expect("A004 NOOP").sendLine("A004 OK");
    QCOMPARE(client.sendRawCommand(QStringLiteral("NOOP")), QStringLiteral("A004 OK"));
    VERIFY_NO_SERVER_ERRORS(server);
}

void TestImapClientXOAuth2::refusalExplainedInAContinuationIsDecoded()
{
    ScriptedImapServer server;
    ImapClient client;
    QVERIFY(connectTo(client, server, "* OK [CAPABILITY IMAP4rev1 SASL-IR AUTH=XOAUTH2] ready"));
    server.expect("A001 AUTHENTICATE XOAUTH2 " + credentials())
        .sendLine("+ " + kRefusal.toBase64())
        .expect("")
        .sendLine("A001 NO [AUTHENTICATIONFAILED] Authentication failed.");
    QCOMPARE(client.loginXOAuth2(kUser, kToken), 0);
    QCOMPARE(client.state(), ImapClient::State::Connected);
    const QString text = client.lastErrorText();
    QVERIFY2(text.contains(QString::fromLatin1(kRefusal)), qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("AUTHENTICATIONFAILED")), qPrintable(text));
    QVERIFY2(showsNoSecret(text), qPrintable(text));
    // The connection stays usable, and a refusal leaves the capabilities as they were.
    QVERIFY(client.hasCapability(QStringLiteral("SASL-IR")));
    server.expect("A002 NOOP").sendLine("A002 OK");
    QCOMPARE(client.sendRawCommand(QStringLiteral("NOOP")), QStringLiteral("A002 OK"));
    VERIFY_NO_SERVER_ERRORS(server);
}

void TestImapClientXOAuth2::serverThatKeepsAskingIsCancelled()
{
    ScriptedImapServer server;
    ImapClient client;
    QVERIFY(connectTo(client, server, "* OK [CAPABILITY IMAP4rev1 SASL-IR AUTH=XOAUTH2] ready"));
    server.expect("A001 AUTHENTICATE XOAUTH2 " + credentials())
        .sendLine("+ " + kRefusal.toBase64())
        .expect("")
        .sendLine("+ more?")
        .expect("*")
        .sendLine("A001 BAD Authentication cancelled");
    QCOMPARE(client.loginXOAuth2(kUser, kToken), 0);
    QCOMPARE(client.state(), ImapClient::State::Connected);
    server.expect("A002 NOOP").sendLine("A002 OK");
    QCOMPARE(client.sendRawCommand(QStringLiteral("NOOP")), QStringLiteral("A002 OK"));
    VERIFY_NO_SERVER_ERRORS(server);
}

void TestImapClientXOAuth2::abandonedSignInClosesTheConnection()
{
    // Half an exchange cannot be taken back: the server may still wait for a response.
    ScriptedImapServer server;
    ImapClient client;
    QVERIFY(connectTo(client, server, "* OK [CAPABILITY IMAP4rev1 AUTH=XOAUTH2] ready"));
    server.expect("A001 AUTHENTICATE XOAUTH2").sendLine("+ ").expect(credentials()); // then silence
    AbortingSink sink;
    client.bindEvents(&sink);
    QCOMPARE(client.loginXOAuth2(kUser, kToken), 0);
    QCOMPARE(client.state(), ImapClient::State::NotConnected);
    QVERIFY2(client.lastErrorText().contains(QStringLiteral("Abandoned")),
             qPrintable(client.lastErrorText()));
    QVERIFY(server.clientClosed());
    VERIFY_NO_SERVER_ERRORS(server);
}

void TestImapClientXOAuth2::unsendableCredentialsAreRefusedLocally_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("token");
    QTest::newRow("CR LF in the token") << kUser << kToken + QStringLiteral("\r\nA002 LOGOUT");
    QTest::newRow("LF in the token") << kUser << QStringLiteral("abc\ndef");
    QTest::newRow("NUL in the token") << kUser << QString::fromLatin1("abc\0def", 7);
    QTest::newRow("^A in the token") << kUser << QStringLiteral("abc\x01user=mallory");
    QTest::newRow("^A in the user") << QStringLiteral("ann\x01"
                                                      "auth=Bearer x")
                                    << kToken;
    QTest::newRow("CR in the user") << QStringLiteral("ann\r") << kToken;
    QTest::newRow("empty token") << kUser << QString();
    QTest::newRow("empty user") << QString() << kToken;
}

void TestImapClientXOAuth2::unsendableCredentialsAreRefusedLocally()
{
    QFETCH(QString, user);
    QFETCH(QString, token);
    ScriptedImapServer server;
    ImapClient client;
    QVERIFY(connectTo(client, server, "* OK ready"));
    QCOMPARE(client.loginXOAuth2(user, token), 0);
    QVERIFY2(client.lastErrorText().contains(QStringLiteral("nothing was sent")),
             qPrintable(client.lastErrorText()));
    QVERIFY(token.isEmpty() || !client.lastErrorText().contains(token));
    // Not even the capabilities were asked for: the next command gets the first tag.
    server.expect("A001 NOOP").sendLine("A001 OK");
    QCOMPARE(client.sendRawCommand(QStringLiteral("NOOP")), QStringLiteral("A001 OK"));
    VERIFY_NO_SERVER_ERRORS(server);
}

void TestImapClientXOAuth2::capabilitiesFollowTheGreetingAndTheSignIn()
{
    ImapClient client;
    QVERIFY(client.capabilities().isEmpty()); // not connected: nothing known, nothing asked
    ScriptedImapServer server;
    QVERIFY(connectTo(client, server, "* OK [CAPABILITY IMAP4rev1 LOGINDISABLED] ready"));
    QVERIFY(client.hasCapability(QStringLiteral("LOGINDISABLED")));
    server.expect("A001 LOGIN \"ann\" \"secret\"").sendLine("A001 OK Logged in");
    QCOMPARE(client.login(QStringLiteral("ann"), QStringLiteral("secret")), 1);
    // The greeting's list is void after the sign-in; the server is asked for the new one.
    server.expect("A002 CAPABILITY").sendLine("* CAPABILITY IMAP4rev1 IDLE").sendLine("A002 OK done");
    QCOMPARE(client.capabilities(), (QStringList{"IMAP4rev1", "IDLE"}));
    QVERIFY(client.lastErrorText().contains(QStringLiteral("A002 CAPABILITY")));
    QVERIFY(!client.hasCapability(QStringLiteral("LOGINDISABLED")));
    server.expect("A003 LOGOUT").sendLine("* BYE").sendLine("A003 OK");
    client.disconnect();
    QVERIFY(client.capabilities().isEmpty());
    VERIFY_NO_SERVER_ERRORS(server);
}

void TestImapClientXOAuth2::passwordRefusalShowsTheServersText()
{
    // What Outlook.com answers password sign-ins since September 2024: callers look for this text.
    ScriptedImapServer server;
    ImapClient client;
    QVERIFY(connectTo(client, server, "* OK The Microsoft Exchange IMAP4 service is ready."));
    server.expect("A001 LOGIN \"ann@outlook.test\" \"secret\"")
        .sendLine("A001 NO Basic authentication is disabled.");
    QCOMPARE(client.login(kUser, QStringLiteral("secret")), 0);
    QVERIFY2(client.lastErrorText().contains(QStringLiteral("Basic authentication is disabled")),
             qPrintable(client.lastErrorText()));
    VERIFY_NO_SERVER_ERRORS(server);
}

// ---------------------------------------------------------------------------------------------
// Dovecot

void TestImapClientXOAuth2::initTestCase()
{
    DovecotHarness::Options options;
    options.bearerTokens = true;
    m_dovecot = std::make_unique<DovecotHarness>(options);
    QVERIFY(m_dovecot->addUser(m_bob, QStringLiteral("bobs-password")));
    QVERIFY2(m_dovecot->start(), qPrintable(m_dovecot->errorText()));
    for (int n = 1; n <= 2; ++n) {
        const QByteArray raw =
            "From: x@corvanel.test\r\nSubject: token " + QByteArray::number(n) + "\r\n\r\nbody\r\n";
        QVERIFY(!m_dovecot->writeMessage(QStringLiteral("Inbox"), raw).isEmpty());
    }
}

void TestImapClientXOAuth2::connectOverTls(ImapClient& client)
{
    client.setCaCertificatesFile(m_dovecot->caPemPath());
    client.setSsl(true);
    client.setPort(m_dovecot->imapsPort());
    QCOMPARE(client.connect(DovecotHarness::host()), 1);
}

void TestImapClientXOAuth2::dovecotAnnouncesXOAuth2()
{
    ImapClient client;
    connectOverTls(client);
    const QStringList capabilities = client.capabilities();
    QVERIFY2(capabilities.contains(QStringLiteral("AUTH=XOAUTH2")), qPrintable(capabilities.join(' ')));
    QVERIFY2(capabilities.contains(QStringLiteral("SASL-IR")), qPrintable(capabilities.join(' ')));
}

void TestImapClientXOAuth2::validTokenSignsInAndOpensTheInbox()
{
    ImapClient client;
    connectOverTls(client);
    const QString token = QString::fromLatin1(
        m_dovecot->bearerToken(DovecotHarness::defaultUser(), QDateTime::currentDateTimeUtc().addSecs(3600)));
    QCOMPARE(client.loginXOAuth2(DovecotHarness::defaultUser(), token), 1);
    QVERIFY2(showsNoSecret(client.lastErrorText(), token), qPrintable(client.lastErrorText()));
    // After the sign-in the server offers no more mechanisms.
    QVERIFY(!client.capabilities().isEmpty());
    QVERIFY(!client.hasCapability(QStringLiteral("AUTH=XOAUTH2")));
    QCOMPARE(client.selectMailbox(QStringLiteral("Inbox")), 1);
    QCOMPARE(client.numMessages(), 2);
    const std::optional<MailMessage> first = client.fetchSingle(1);
    QVERIFY(first.has_value());

    // Every account signs in with a token made for it.
    ImapClient bob;
    connectOverTls(bob);
    const QString bobsToken =
        QString::fromLatin1(m_dovecot->bearerToken(m_bob, QDateTime::currentDateTimeUtc().addSecs(3600)));
    QCOMPARE(bob.loginXOAuth2(m_bob, bobsToken), 1);
    QCOMPARE(bob.selectMailbox(QStringLiteral("Inbox")), 1);
    QCOMPARE(bob.numMessages(), 0);
}

void TestImapClientXOAuth2::passwordsStillWork()
{
    ImapClient client;
    connectOverTls(client);
    QCOMPARE(client.login(m_bob, QStringLiteral("bobs-password")), 1);
    QCOMPARE(client.selectMailbox(QStringLiteral("Inbox")), 1);
}

void TestImapClientXOAuth2::expiredTokenIsRefused()
{
    ImapClient client;
    connectOverTls(client);
    const QString token = QString::fromLatin1(
        m_dovecot->bearerToken(DovecotHarness::defaultUser(), QDateTime::currentDateTimeUtc().addSecs(-600)));
    QCOMPARE(client.loginXOAuth2(DovecotHarness::defaultUser(), token), 0);
    QCOMPARE(client.state(), ImapClient::State::Connected);
    const QString text = client.lastErrorText();
    QVERIFY2(text.contains(QStringLiteral("\"status\":\"401\"")), qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("AUTHENTICATIONFAILED")), qPrintable(text));
    QVERIFY2(showsNoSecret(text, token), qPrintable(text));
}

void TestImapClientXOAuth2::tokenForAnotherUserIsRefused()
{
    ImapClient client;
    connectOverTls(client);
    const QString token =
        QString::fromLatin1(m_dovecot->bearerToken(m_bob, QDateTime::currentDateTimeUtc().addSecs(3600)));
    QCOMPARE(client.loginXOAuth2(DovecotHarness::defaultUser(), token), 0);
    const QString text = client.lastErrorText();
    QVERIFY2(text.contains(QStringLiteral("\"status\":\"401\"")), qPrintable(text));
    QVERIFY2(showsNoSecret(text, token), qPrintable(text));
}

QTEST_GUILESS_MAIN(TestImapClientXOAuth2)
#include "tst_imapclient_xoauth2.moc"
