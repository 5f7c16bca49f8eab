#include "frame/ErrorLog.h"
#include "mail/DeviceCodePrompt.h"
#include "mail/ImapClient.h"
#include "mail/OAuthError.h"
#include "mail/OAuthSettings.h"
#include "mail/OAuthSignIn.h"
#include "retrieval/MessageListModel.h"
#include "support/DovecotHarness.h"
#include "support/FakeIdentityServer.h"
#include "support/MainWindowFixture.h"
#include "support/ScriptedImapServer.h"
#include "support/ServerErrors.h"
#include "support/TestCertificates.h"

#include <QCheckBox>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include <functional>

namespace {

const QString kLoginFailed =
    QStringLiteral("Invalid login. Please double-check your username and password.\r\n\r\n");
const QByteArray kCodePath = FakeIdentityServer::deviceCodePath();
const QByteArray kTokenPath = FakeIdentityServer::tokenPath();

QByteArray json(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QByteArray deviceCodeAnswer()
{
    return json({{"device_code", "device-code-1"},
                 {"user_code", "CX7KQ2RT"},
                 {"verification_uri", "https://www.microsoft.com/link"},
                 {"expires_in", 900},
                 {"interval", 1}});
}

QByteArray errorAnswer(const QString& code)
{
    return json({{"error", code}});
}

QByteArray tokenAnswer(const QByteArray& access, const QString& refresh)
{
    return json({{"token_type", "Bearer"},
                 {"expires_in", 3600},
                 {"access_token", QString::fromLatin1(access)},
                 {"refresh_token", refresh}});
}

// Answers the sign-in window as the test says: waits until the sign-in ends, or gives up.
struct ScriptedPrompt : DeviceCodePrompt {
    int shown = 0;
    DeviceCodeGrant::Prompt last;
    bool giveUp = false;
    std::function<void()> onShow; // what happens elsewhere while the window shows

    void run(DeviceCodeGrant& grant, const DeviceCodeGrant::Prompt& prompt) override
    {
        ++shown;
        last = prompt;
        if (onShow)
            onShow();
        if (giveUp) {
            grant.cancel();
            return;
        }
        QSignalSpy finished(&grant, &DeviceCodeGrant::finished);
        if (grant.isRunning())
            QVERIFY(finished.wait(10000));
    }
};

} // namespace

class TestOAuthConnect : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void signInThenGetAllThenRestartWithRememberMe();
    void failuresEndAsARefusedLogin_data();
    void failuresEndAsARefusedLogin();
    void forgettingEraseTheStoredRefreshToken();
    void storedRefreshTokenRefusedOrUnreachable();
    void typedPasswordStillSignsIn();
    void passwordRefusedForBasicAuthentication();
    void serverGaveUpWhileTheUserSignedIn();

private:
    // A window over the test Dovecot with the Microsoft sign-in configured against `identity`.
    void prepare(MainWindowFixture& w, FakeIdentityServer& identity, ScriptedPrompt& prompt);
    QByteArray freshToken() const
    {
        return m_server.bearerToken(DovecotHarness::defaultUser(),
                                    QDateTime::currentDateTimeUtc().addSecs(3600));
    }

    static DovecotHarness::Options withBearerTokens()
    {
        DovecotHarness::Options options;
        options.bearerTokens = true;
        return options;
    }

    DovecotHarness m_server{withBearerTokens()};
};

void TestOAuthConnect::initTestCase()
{
    QVERIFY2(m_server.start(), qPrintable(m_server.errorText()));
    m_server.writeMessage("Inbox", "From: a@b.c\r\nSubject: one\r\n\r\nfirst body\r\n");
    m_server.writeMessage("Inbox", "From: d@e.f\r\nSubject: two\r\n\r\nsecond body\r\n");
}

void TestOAuthConnect::prepare(MainWindowFixture& w, FakeIdentityServer& identity, ScriptedPrompt& prompt)
{
    w.pointTo(m_server);
    w.settings.preset("OAuthClientId", "test-client");
    w.settings.preset("OAuthAuthority", identity.authority());
    w.load();
    w.form->signIn().setPrompt(&prompt);
    w.form->signIn().setMillisecondsPerSecond(20);
}

void TestOAuthConnect::signInThenGetAllThenRestartWithRememberMe()
{
    FakeIdentityServer identity;
    const QByteArray first = freshToken();
    identity.answer(kCodePath, 200, deviceCodeAnswer())
        .answer(kTokenPath, 400, errorAnswer("authorization_pending"))
        .answer(kTokenPath, 200, tokenAnswer(first, "refresh-1"));
    ScriptedPrompt prompt;
    MainWindowFixture w;
    prepare(w, identity, prompt);
    Form1& f = *w.form;
    f.Check1->setChecked(true);

    QVERIFY(w.connectAs(DovecotHarness::defaultUser(), QString()));
    QCOMPARE(prompt.shown, 1);
    QCOMPARE(prompt.last.userCode, QStringLiteral("CX7KQ2RT"));
    QCOMPARE(prompt.last.verificationUri, QUrl("https://www.microsoft.com/link"));
    QVERIFY(w.boxes.shown().isEmpty());
    QCOMPARE(identity.requestsTo(kCodePath).size(), 1);
    QCOMPARE(identity.requestsTo(kCodePath).at(0).field("client_id"), QStringLiteral("test-client"));
    QCOMPARE(w.settings.get("OAuthRefreshToken"), QStringLiteral("refresh-1"));

    // Get All signs in again with the token in memory: no prompt, no request to the service.
    f.PushButton3->click();
    QCOMPARE(w.boxes.texts(), QStringList{"Done."});
    QCOMPARE(f.list().count(), 2);
    QCOMPARE(prompt.shown, 1);
    QCOMPARE(identity.requests().size(), 3);
    QVERIFY(identity.errors().isEmpty());

    // No token in anything shown or kept as diagnostics.
    for (const QString& secret : {QString::fromLatin1(first), QStringLiteral("refresh-1")}) {
        QVERIFY(!f.component().lastErrorText().contains(secret));
        for (const QString& text : w.boxes.texts())
            QVERIFY(!text.contains(secret));
    }

    // A new window over the same settings renews with the stored refresh token, without a prompt.
    FakeIdentityServer nextIdentity;
    nextIdentity.answer(kTokenPath, 200, tokenAnswer(freshToken(), "refresh-2"));
    ScriptedPrompt nextPrompt;
    MainWindowFixture next;
    next.settings = w.settings;
    w.form.reset();
    prepare(next, nextIdentity, nextPrompt);
    QVERIFY(next.form->Check1->isChecked());
    QCOMPARE(next.form->Text1->text(), DovecotHarness::defaultUser());
    QVERIFY(next.form->Text2->text().isEmpty());
    next.form->PushButton1->click();
    QCOMPARE(next.form->PushButton1->text(), QStringLiteral("Disconnect"));
    QCOMPARE(nextPrompt.shown, 0);
    QVERIFY(next.boxes.shown().isEmpty());
    const auto requests = nextIdentity.requests();
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests.at(0).field("grant_type"), QStringLiteral("refresh_token"));
    QCOMPARE(requests.at(0).field("refresh_token"), QStringLiteral("refresh-1"));
    QCOMPARE(next.settings.get("OAuthRefreshToken"), QStringLiteral("refresh-2"));
}

void TestOAuthConnect::failuresEndAsARefusedLogin_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("error");
    QTest::addColumn<int>("prompts");
    QTest::addColumn<QString>("sentence"); // what the user reads; empty: the error's own text
    QTest::newRow("cancel") << "cancel" << int(OAuthError::Cancelled) << 1 << QString();
    QTest::newRow("denied") << "authorization_declined" << int(OAuthError::Denied) << 1 << QString();
    QTest::newRow("expired") << "expired_token" << int(OAuthError::Expired) << 1 << QString();
    QTest::newRow("unreachable") << "unreachable" << int(OAuthError::Unreachable) << 0 << QString();
    // The registration lacks "Allow public client flows": the service's code becomes advice.
    QTest::newRow("public client flows off")
        << "AADSTS7000218" << int(OAuthError::Refused) << 1
        << QStringLiteral("The application registration does not allow this sign-in: in its Authentication "
                          "page, set \"Allow public client flows\" to Yes, then sign in again.");
}

void TestOAuthConnect::failuresEndAsARefusedLogin()
{
    QFETCH(QString, how);
    QFETCH(int, error);
    QFETCH(int, prompts);
    QFETCH(QString, sentence);
    FakeIdentityServer identity;
    if (how == "unreachable") {
        identity.drop(kCodePath).drop(kCodePath); // the network layer retries a dropped request once
    } else if (how.startsWith("AADSTS")) {
        identity.answer(kCodePath, 200, deviceCodeAnswer())
            .answer(
                kTokenPath, 401,
                json({{"error", "invalid_client"},
                      {"error_description", how + ": The request body must contain the following parameter: "
                                                  "'client_assertion' or 'client_secret'."}}));
    } else {
        identity.answer(kCodePath, 200, deviceCodeAnswer());
        if (how != "cancel")
            identity.answer(kTokenPath, 400, errorAnswer(how));
    }
    ScriptedPrompt prompt;
    prompt.giveUp = how == "cancel";
    MainWindowFixture w;
    prepare(w, identity, prompt);
    Form1& f = *w.form;

    QVERIFY(!w.connectAs(DovecotHarness::defaultUser(), QString()));
    QCOMPARE(prompt.shown, prompts);
    QCOMPARE(w.boxes.texts(),
             (QStringList{sentence.isEmpty() ? oauthErrorText(OAuthError(error)) : sentence, kLoginFailed}));
    QCOMPARE(f.PushButton1->text(), QStringLiteral("1. Connect"));
    QCOMPARE(f.progressText(), QStringLiteral("Disconnected from Windows Live Hotmail."));
    QVERIFY(!f.oChilkat());
    QVERIFY(!w.settings.has("OAuthRefreshToken"));
}

void TestOAuthConnect::forgettingEraseTheStoredRefreshToken()
{
    FakeIdentityServer identity;
    identity.answer(kCodePath, 200, deviceCodeAnswer())
        .answer(kTokenPath, 200, tokenAnswer(freshToken(), "refresh-1"));
    ScriptedPrompt prompt;
    MainWindowFixture w;
    prepare(w, identity, prompt);
    Form1& f = *w.form;
    f.Check1->setChecked(true);
    QVERIFY(w.connectAs(DovecotHarness::defaultUser(), QString()));
    QCOMPARE(w.settings.get("OAuthRefreshToken"), QStringLiteral("refresh-1"));
    // Unchecking "Remember me" erases it with the stored password.
    f.Check1->setChecked(false);
    QCOMPARE(w.settings.get("OAuthRefreshToken", "unset"), QString());

    // So does the disconnect that forgets the login; the next connect signs in afresh.
    w.settings.preset("OAuthRefreshToken", "refresh-stale");
    f.PushButton1->click();
    QCOMPARE(f.PushButton1->text(), QStringLiteral("1. Connect"));
    QCOMPARE(w.settings.get("OAuthRefreshToken", "unset"), QString());
    identity.answer(kCodePath, 200, deviceCodeAnswer())
        .answer(kTokenPath, 200, tokenAnswer(freshToken(), "refresh-3"));
    QVERIFY(w.connectAs(DovecotHarness::defaultUser(), QString()));
    QCOMPARE(prompt.shown, 2);
    QCOMPARE(w.settings.get("OAuthRefreshToken", "unset"), QString()); // not remembered now
}

void TestOAuthConnect::storedRefreshTokenRefusedOrUnreachable()
{
    // A refresh token the service no longer takes: the user signs in again.
    FakeIdentityServer identity;
    identity.answer(kTokenPath, 400, errorAnswer("invalid_grant"))
        .answer(kCodePath, 200, deviceCodeAnswer())
        .answer(kTokenPath, 200, tokenAnswer(freshToken(), "refresh-5"));
    ScriptedPrompt prompt;
    MainWindowFixture w;
    w.settings.preset("StayConnected", "1");
    w.settings.preset("User", DovecotHarness::defaultUser());
    w.settings.preset("OAuthRefreshToken", "refresh-revoked");
    prepare(w, identity, prompt);
    w.form->PushButton1->click();
    QCOMPARE(w.form->PushButton1->text(), QStringLiteral("Disconnect"));
    QCOMPARE(prompt.shown, 1);
    QCOMPARE(identity.requests().at(0).field("refresh_token"), QStringLiteral("refresh-revoked"));
    QCOMPARE(w.settings.get("OAuthRefreshToken"), QStringLiteral("refresh-5"));
    QVERIFY(w.boxes.shown().isEmpty());

    // An unreachable service is a failure of its own, not a reason to ask the user.
    FakeIdentityServer down;
    down.drop(kTokenPath).drop(kTokenPath);
    ScriptedPrompt unused;
    MainWindowFixture next;
    next.settings = w.settings;
    w.form.reset();
    prepare(next, down, unused);
    next.form->PushButton1->click();
    QCOMPARE(next.form->PushButton1->text(), QStringLiteral("1. Connect"));
    QCOMPARE(unused.shown, 0);
    QCOMPARE(next.boxes.texts(), (QStringList{oauthErrorText(OAuthError::Unreachable), kLoginFailed}));
    QCOMPARE(next.settings.get("OAuthRefreshToken"), QStringLiteral("refresh-5"));
}

void TestOAuthConnect::typedPasswordStillSignsIn()
{
    FakeIdentityServer identity;
    ScriptedPrompt prompt;
    MainWindowFixture w;
    prepare(w, identity, prompt);
    w.settings.clearWrites();
    QVERIFY(w.connectAs(DovecotHarness::defaultUser(), DovecotHarness::defaultPassword()));
    QCOMPARE(prompt.shown, 0);
    QVERIFY(identity.requests().isEmpty());
    QVERIFY(w.boxes.shown().isEmpty());
    w.form->PushButton1->click();
    QVERIFY(!w.settings.writtenKeys().contains("OAuthRefreshToken"));
}

void TestOAuthConnect::passwordRefusedForBasicAuthentication()
{
    TestCertificates certificates;
    QVERIFY2(certificates.ok(), qPrintable(certificates.errorText()));
    ScriptedImapServer server(certificates.serverConfiguration(TestCertificates::Server::Trusted));
    server.sendLine("* OK [CAPABILITY IMAP4rev1 AUTH=XOAUTH2] ready")
        .expect("A001 ID (\"GUID\" \"1\")")
        .sendLine("* ID NIL")
        .sendLine("A001 OK ID completed.")
        .expect("A002 LOGIN \"ann@outlook.com\" \"secret\"")
        .sendLine("A002 NO Basic authentication is disabled.");
    MainWindowFixture w;
    w.settings.preset("Server", "127.0.0.1");
    w.settings.preset("Port", QString::number(server.port()));
    w.settings.preset("CACertificates", certificates.caFile());
    Form1& f = w.load();
    QVERIFY(!w.connectAs("ann@outlook.com", "secret"));
    VERIFY_NO_SERVER_ERRORS(server);
    const QStringList texts = w.boxes.texts();
    QCOMPARE(texts.size(), 2);
    QCOMPARE(texts.at(0), kLoginFailed);
    QVERIFY(texts.at(1).contains("Microsoft sign-in"));
    // A packaged build has a client ID of its own, and the next case applies to it.
    if (OAuthSettings::builtInClientId().isEmpty()) {
        QVERIFY(texts.at(1).contains("Leave the password empty and set OAuthClientId"));
        QVERIFY(texts.at(1).contains("README"));
    }
    QCOMPARE(f.PushButton1->text(), QStringLiteral("1. Connect"));

    // With a client ID (built in or set) the user has nothing to set up: only the password goes.
    ScriptedImapServer again(certificates.serverConfiguration(TestCertificates::Server::Trusted));
    again.sendLine("* OK [CAPABILITY IMAP4rev1 AUTH=XOAUTH2] ready")
        .expect("A001 ID (\"GUID\" \"1\")")
        .sendLine("* ID NIL")
        .sendLine("A001 OK ID completed.")
        .expect("A002 LOGIN \"ann@outlook.com\" \"secret\"")
        .sendLine("A002 NO Basic authentication is disabled.");
    MainWindowFixture configured;
    configured.settings.preset("Server", "127.0.0.1");
    configured.settings.preset("Port", QString::number(again.port()));
    configured.settings.preset("CACertificates", certificates.caFile());
    configured.settings.preset("OAuthClientId", "test-client");
    configured.load();
    QVERIFY(!configured.connectAs("ann@outlook.com", "secret"));
    VERIFY_NO_SERVER_ERRORS(again);
    QCOMPARE(
        configured.boxes.texts(),
        (QStringList{kLoginFailed, "This mail service no longer accepts passwords: it needs the Microsoft "
                                   "sign-in.\r\n\r\nLeave the password empty and connect again to sign "
                                   "in with Microsoft."}));
}

void TestOAuthConnect::serverGaveUpWhileTheUserSignedIn()
{
    TestCertificates certificates;
    QVERIFY2(certificates.ok(), qPrintable(certificates.errorText()));
    ScriptedImapServer server(certificates.serverConfiguration(TestCertificates::Server::Trusted));
    const QByteArray greeting = "* OK [CAPABILITY IMAP4rev1 SASL-IR AUTH=XOAUTH2] ready";
    server.sendLine(greeting)
        .expect("A001 ID (\"GUID\" \"1\")")
        .sendLine("* ID NIL")
        .sendLine("A001 OK ID completed.");
    FakeIdentityServer identity;
    identity.answer(kCodePath, 200, deviceCodeAnswer())
        .answer(kTokenPath, 400, errorAnswer("authorization_pending"))
        .answer(kTokenPath, 200, tokenAnswer("the-token", "refresh-1"));
    const QByteArray credentials = QByteArray("user=ann@outlook.com\x01"
                                              "auth=Bearer the-token\x01\x01")
                                       .toBase64();
    ScriptedPrompt prompt;
    MainWindowFixture w;
    w.settings.preset("Server", "127.0.0.1");
    w.settings.preset("Port", QString::number(server.port()));
    w.settings.preset("CACertificates", certificates.caFile());
    w.settings.preset("OAuthClientId", "test-client");
    w.settings.preset("OAuthAuthority", identity.authority());
    Form1& f = w.load();
    f.signIn().setPrompt(&prompt);
    f.signIn().setMillisecondsPerSecond(20);
    prompt.onShow = [&] {
        bool dropped = false;
        server.drop()
            .run([&] { dropped = true; })
            .acceptNext()
            .sendLine(greeting)
            .expect("A001 ID (\"GUID\" \"1\")")
            .sendLine("* ID NIL")
            .sendLine("A001 OK ID completed.")
            .expect("A002 AUTHENTICATE XOAUTH2 " + credentials)
            .sendLine("A002 OK Logged in")
            .expect("A003 LIST \"\" \"*\"")
            .sendLine("* LIST () \"/\" INBOX")
            .sendLine("A003 OK LIST completed");
        QTRY_VERIFY(dropped);
    };
    QVERIFY(w.connectAs("ann@outlook.com", QString()));
    QCOMPARE(prompt.shown, 1);
    VERIFY_NO_SERVER_ERRORS(server);
    QVERIFY(server.scriptDone());
    QCOMPARE(server.connectionsAccepted(), 2);
    QVERIFY(w.boxes.shown().isEmpty());
}

QTEST_MAIN(TestOAuthConnect)
#include "tst_oauth_connect.moc"
