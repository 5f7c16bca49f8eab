// Getting and renewing OAuth tokens with the device authorization grant against a scripted
// sign-in service on 127.0.0.1. One second of the service's intervals lasts a few milliseconds here.
#include "mail/DeviceCodeGrant.h"
#include "mail/KnownProviders.h"
#include "mail/OAuthSettings.h"
#include "mail/OAuthSignIn.h"
#include "support/FakeIdentityServer.h"
#include "support/MemorySettingsStore.h"
#include "support/ServerErrors.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>

namespace {

const QString kClientId = QStringLiteral("9e5f94bc-e8a4-4e73-b8be-63364c29d753");
// This test program builds the settings reader with this client ID built in (tests/CMakeLists.txt).
const QString kBuiltInClientId = QStringLiteral("packaged-client-id");
const QString kDeviceCode = QStringLiteral("GAQABAAEAAAD--DLA3VO7QrddgJg7WevrAgAAAAAAAP8-dc");
const QByteArray kTokenPath = FakeIdentityServer::tokenPath();
const QByteArray kCodePath = FakeIdentityServer::deviceCodePath();
const QDateTime kNow(QDate(2024, 9, 16), QTime(12, 0), Qt::UTC);

QByteArray json(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QByteArray deviceCodeAnswer(int interval = 5, int expiresIn = 900)
{
    return json(
        {{"device_code", kDeviceCode},
         {"user_code", "CX7KQ2RT"},
         {"verification_uri", "https://www.microsoft.com/link"},
         {"expires_in", expiresIn},
         {"interval", interval},
         {"message", "To sign in, use a web browser to open the page https://www.microsoft.com/link and "
                     "enter the code CX7KQ2RT to authenticate."}});
}

QByteArray errorAnswer(const QString& code)
{
    return json({{"error", code}, {"error_description", "AADSTS70016: as the service words it"}});
}

QByteArray tokenAnswer(const QString& access, const QString& refresh = QString(), int expiresIn = 3600)
{
    QJsonObject object{{"token_type", "Bearer"},
                       {"scope", "https://outlook.office.com/IMAP.AccessAsUser.All"},
                       {"expires_in", expiresIn},
                       {"ext_expires_in", expiresIn},
                       {"access_token", access}};
    if (!refresh.isEmpty())
        object.insert("refresh_token", refresh);
    return json(object);
}

OAuthSettings settingsFor(const FakeIdentityServer& server)
{
    OAuthSettings settings;
    settings.clientId = kClientId;
    settings.authority = server.authority();
    return settings;
}

// A grant on fast time and a fixed clock, with its outcome recorded.
struct Run {
    explicit Run(const OAuthSettings& settings, int msPerSecond = 10)
        : grant(settings)
        , finished(&grant, &DeviceCodeGrant::finished)
    {
        grant.setMillisecondsPerSecond(msPerSecond);
        grant.setClock([] { return kNow; });
        QObject::connect(&grant, &DeviceCodeGrant::promptReady,
                         [this](const DeviceCodeGrant::Prompt& p) { prompts.append(p); });
        QObject::connect(&grant, &DeviceCodeGrant::succeeded, [this](const OAuthTokens&) { ++successes; });
        QObject::connect(&grant, &DeviceCodeGrant::failed,
                         [this](OAuthError e, const QString&) { failures.append(e); });
    }
    bool waitDone(int timeoutMs = 10000) { return finished.size() > 0 || finished.wait(timeoutMs); }

    DeviceCodeGrant grant;
    QSignalSpy finished;
    QList<DeviceCodeGrant::Prompt> prompts;
    int successes = 0;
    QList<OAuthError> failures;
};

} // namespace

class TestDeviceCodeGrant : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void settingsAndTheirDefaults();
    void authorityMustBeHttpsOrLocal_data();
    void authorityMustBeHttpsOrLocal();
    void unusableSettingsSendNothing();
    void builtInClientIdReachesTheSignIn();
    void authorityAndHostFollowTheAddress_data();
    void authorityAndHostFollowTheAddress();
    void identityServiceErrorsInPlainWords_data();
    void identityServiceErrorsInPlainWords();

    void pendingThenSignedIn();
    void slowDownLengthensTheInterval();
    void endingAnswersWhilePolling_data();
    void endingAnswersWhilePolling();
    void codeRunsOutWithoutAnAnswer();
    void cancelStopsPolling();
    void cancelWhileARequestIsOut();

    void renewsOnlyWhenExpired();
    void refreshTokenRotation();
    void refusedRenewal();
    void valuesAreFormEncoded();

    void droppedConnection();
    void silentService();
    void unreadableAnswers_data();
    void unreadableAnswers();
};

// ---------------------------------------------------------------------------------------------
// Settings

void TestDeviceCodeGrant::settingsAndTheirDefaults()
{
    MemorySettingsStore store;
    OAuthSettings settings = OAuthSettings::read(store);
    QCOMPARE(settings.clientId, kBuiltInClientId);
    QCOMPARE(OAuthSettings::builtInClientId(), kBuiltInClientId);
    QCOMPARE(settings.deviceCodeUrl(),
             QUrl(QStringLiteral("https://login.microsoftonline.com/consumers/oauth2/v2.0/devicecode")));
    QCOMPARE(settings.tokenUrl(),
             QUrl(QStringLiteral("https://login.microsoftonline.com/consumers/oauth2/v2.0/token")));
    QCOMPARE(settings.scopes,
             QStringLiteral("https://outlook.office.com/IMAP.AccessAsUser.All offline_access"));

    store.preset(QStringLiteral("OAuthClientId"), QStringLiteral("  ") + kClientId + QStringLiteral(" "));
    store.preset(QStringLiteral("OAuthAuthority"), QStringLiteral("https://login.example.test/common/"));
    store.preset(QStringLiteral("OAuthScopes"), QStringLiteral(" mail.read   offline_access "));
    settings = OAuthSettings::read(store);
    QCOMPARE(settings.clientId, kClientId);
    QCOMPARE(settings.problem(), OAuthError::None);
    QCOMPARE(settings.tokenUrl(),
             QUrl(QStringLiteral("https://login.example.test/common/oauth2/v2.0/token")));
    QCOMPARE(settings.scopes, QStringLiteral("mail.read offline_access"));
    QVERIFY(store.writes().isEmpty()); // reading writes nothing

    // Emptied values fall back to the defaults.
    store.preset(QStringLiteral("OAuthAuthority"), QString());
    store.preset(QStringLiteral("OAuthScopes"), QString());
    settings = OAuthSettings::read(store);
    QCOMPARE(settings.authority, OAuthSettings::defaultAuthority());
    QCOMPARE(settings.scopes, OAuthSettings::defaultScopes());
}

void TestDeviceCodeGrant::authorityMustBeHttpsOrLocal_data()
{
    QTest::addColumn<QString>("authority");
    QTest::addColumn<bool>("acceptable");
    QTest::newRow("Microsoft") << OAuthSettings::defaultAuthority() << true;
    QTest::newRow("https, upper case") << QStringLiteral("HTTPS://Login.Example.test/tenant") << true;
    QTest::newRow("http to 127.0.0.1") << QStringLiteral("http://127.0.0.1:8400/consumers") << true;
    QTest::newRow("http elsewhere") << QStringLiteral("http://login.microsoftonline.com/consumers") << false;
    QTest::newRow("http to localhost") << QStringLiteral("http://localhost:8400/consumers") << false;
    QTest::newRow("look-alike host") << QStringLiteral("http://127.0.0.1.example.test/") << false;
    QTest::newRow("http to another loopback") << QStringLiteral("http://127.0.0.2/") << false;
    QTest::newRow("other scheme") << QStringLiteral("ftp://127.0.0.1/") << false;
    QTest::newRow("user info") << QStringLiteral("https://me:pw@login.example.test/") << false;
    QTest::newRow("query") << QStringLiteral("https://login.example.test/x?y=1") << false;
    QTest::newRow("no host") << QStringLiteral("https:///consumers") << false;
    QTest::newRow("not an address") << QStringLiteral("login.microsoftonline.com/consumers") << false;
}

void TestDeviceCodeGrant::authorityMustBeHttpsOrLocal()
{
    QFETCH(QString, authority);
    QFETCH(bool, acceptable);
    QCOMPARE(OAuthSettings::isAcceptableAuthority(authority), acceptable);
    OAuthSettings settings;
    settings.clientId = kClientId;
    settings.authority = authority;
    QCOMPARE(settings.problem(), acceptable ? OAuthError::None : OAuthError::InsecureAuthority);
}

void TestDeviceCodeGrant::unusableSettingsSendNothing()
{
    FakeIdentityServer server;
    OAuthSettings insecure = settingsFor(server);
    insecure.authority.replace(QStringLiteral("127.0.0.1"), QStringLiteral("localhost"));
    {
        Run run(insecure);
        run.grant.start();
        QVERIFY(run.grant.isRunning()); // the outcome comes from the event loop, like any other
        QVERIFY(run.waitDone());
        QCOMPARE(run.failures, QList<OAuthError>{OAuthError::InsecureAuthority});
        QCOMPARE(run.grant.errorText(), oauthErrorText(OAuthError::InsecureAuthority));
        QVERIFY(run.prompts.isEmpty());
    }
    {
        Run run(insecure);
        run.grant.refresh(QStringLiteral("a refresh token"));
        QVERIFY(!run.grant.waitForFinished());
        QCOMPARE(run.grant.error(), OAuthError::InsecureAuthority);
    }
    {
        OAuthSettings noClient = settingsFor(server);
        noClient.clientId.clear();
        Run run(noClient);
        run.grant.start();
        QVERIFY(!run.grant.waitForFinished());
        QCOMPARE(run.failures, QList<OAuthError>{OAuthError::NotConfigured});
    }
    QVERIFY(server.requests().isEmpty());
}

void TestDeviceCodeGrant::builtInClientIdReachesTheSignIn()
{
    FakeIdentityServer server;
    server.answer(kCodePath, 200, deviceCodeAnswer(1))
        .answer(kTokenPath, 200, tokenAnswer("access-1"))
        .answer(kCodePath, 200, deviceCodeAnswer(1))
        .answer(kTokenPath, 200, tokenAnswer("access-2"));
    MemorySettingsStore store;
    store.preset(QStringLiteral("OAuthAuthority"), server.authority());
    for (const QString& configured : {QString(), kClientId}) {
        store.preset(QStringLiteral("OAuthClientId"), configured);
        Run run(OAuthSettings::read(store, QStringLiteral("ann@outlook.com")), 5);
        run.grant.start();
        QVERIFY(run.waitDone());
        QCOMPARE(run.successes, 1);
    }
    const QList<FakeIdentityServer::Request> codes = server.requestsTo(kCodePath);
    const QList<FakeIdentityServer::Request> tokens = server.requestsTo(kTokenPath);
    QCOMPARE(codes.size(), 2);
    QCOMPARE(tokens.size(), 2);
    // Built in unless the settings name one.
    QCOMPARE(codes[0].field("client_id"), kBuiltInClientId);
    QCOMPARE(tokens[0].field("client_id"), kBuiltInClientId);
    QCOMPARE(codes[1].field("client_id"), kClientId);
    QCOMPARE(tokens[1].field("client_id"), kClientId);

    // The built-in ID signs in to Microsoft's host only; an ID of the settings to any server.
    MemorySettingsStore plain;
    OAuthSignIn signIn(plain, [] { return false; });
    QVERIFY(signIn.isConfiguredFor(QStringLiteral("outlook.office365.com")));
    QVERIFY(signIn.isConfiguredFor(QStringLiteral("Outlook.Office365.com ")));
    QVERIFY(!signIn.isConfiguredFor(QStringLiteral("imap.gmail.com")));
    QVERIFY(!signIn.isConfiguredFor(QStringLiteral("127.0.0.1")));
    plain.preset(QStringLiteral("OAuthClientId"), kClientId);
    QVERIFY(signIn.isConfiguredFor(QStringLiteral("imap.gmail.com")));
    QVERIFY(signIn.isConfiguredFor(QStringLiteral("127.0.0.1")));
}

void TestDeviceCodeGrant::authorityAndHostFollowTheAddress_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("tenant"); // of login.microsoftonline.com
    QTest::addColumn<QString>("host");
    const QString outlook = QStringLiteral("outlook.office365.com");
    QTest::newRow("outlook.com") << "ann@outlook.com"
                                 << "consumers" << outlook;
    QTest::newRow("hotmail.co.uk") << "ann@Hotmail.CO.UK"
                                   << "consumers" << outlook;
    QTest::newRow("live.fr") << "ann@live.fr"
                             << "consumers" << outlook;
    QTest::newRow("outlook.com.br") << "ann@outlook.com.br"
                                    << "consumers" << outlook;
    QTest::newRow("msn.com") << "ann@msn.com"
                             << "consumers" << outlook;
    QTest::newRow("passport.com") << "ann@passport.com"
                                  << "consumers" << outlook;
    QTest::newRow("no domain") << "ann"
                               << "consumers" << outlook;
    QTest::newRow("a company") << "ann@contoso.com"
                               << "organizations" << outlook;
    QTest::newRow("look-alike") << "ann@hotmail.example.org"
                                << "organizations" << outlook;
    QTest::newRow("subdomain") << "ann@mail.outlook.com"
                               << "organizations" << outlook;
    QTest::newRow("gmail") << "ann@gmail.com"
                           << "organizations"
                           << "imap.gmail.com";
    QTest::newRow("googlemail") << "ann@googlemail.com."
                                << "organizations"
                                << "imap.gmail.com";
    QTest::newRow("yahoo.co.jp") << "ann@yahoo.co.jp"
                                 << "organizations"
                                 << "imap.mail.yahoo.com";
    QTest::newRow("yahoo.com") << "ann@yahoo.com"
                               << "organizations"
                               << "imap.mail.yahoo.com";
    QTest::newRow("aol") << "ann@aol.com"
                         << "organizations"
                         << "imap.aol.com";
    QTest::newRow("icloud") << "ann@icloud.com"
                            << "organizations"
                            << "imap.mail.me.com";
    QTest::newRow("me.com") << "ann@me.com"
                            << "organizations"
                            << "imap.mail.me.com";
    QTest::newRow("mac.com") << "ann@mac.com"
                             << "organizations"
                             << "imap.mail.me.com";
    QTest::newRow("gmx.de") << "ann@gmx.de"
                            << "organizations"
                            << "imap.gmx.net";
    QTest::newRow("gmx.com") << "ann@gmx.com"
                             << "organizations"
                             << "imap.gmx.com";
    QTest::newRow("gmx.co.uk") << "ann@gmx.co.uk"
                               << "organizations"
                               << "imap.gmx.com";
    QTest::newRow("web.de") << "ann@web.de"
                            << "organizations"
                            << "imap.web.de";
    QTest::newRow("mail.ru") << "ann@mail.ru"
                             << "organizations"
                             << "imap.mail.ru";
    QTest::newRow("yandex.ru") << "ann@yandex.ru"
                               << "organizations"
                               << "imap.yandex.com";
    QTest::newRow("zoho") << "ann@zoho.com"
                          << "organizations"
                          << "imap.zoho.com";
    QTest::newRow("fastmail") << "ann@fastmail.com"
                              << "organizations"
                              << "imap.fastmail.com";
    // The last at sign counts, as the server reads the name.
    QTest::newRow("quoted at sign") << "\"a@gmail.com\"@contoso.com"
                                    << "organizations" << outlook;
}

void TestDeviceCodeGrant::authorityAndHostFollowTheAddress()
{
    QFETCH(QString, address);
    QFETCH(QString, tenant);
    QFETCH(QString, host);
    const QString authority = QStringLiteral("https://login.microsoftonline.com/") + tenant;
    QCOMPARE(OAuthSettings::authorityFor(address), authority);
    MemorySettingsStore store;
    QCOMPARE(OAuthSettings::read(store, address).authority, authority);
    QCOMPARE(OAuthSettings::read(store, address).tokenUrl(),
             QUrl(authority + QStringLiteral("/oauth2/v2.0/token")));
    store.preset(QStringLiteral("OAuthAuthority"), QStringLiteral("https://login.example.test/common"));
    QCOMPARE(OAuthSettings::read(store, address).authority,
             QStringLiteral("https://login.example.test/common"));
    QCOMPARE(KnownProviders::imapHost(address), host);
}

void TestDeviceCodeGrant::identityServiceErrorsInPlainWords_data()
{
    QTest::addColumn<QByteArray>("error");
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("sentence"); // empty: the text of the error kind
    const QString publicClient = QStringLiteral(
        "The application registration does not allow this sign-in: in its Authentication page, set \"Allow "
        "public client flows\" to Yes, then sign in again.");
    const QString unknownApp = QStringLiteral(
        "Microsoft does not know the application (client) ID for this account: check OAuthClientId in the "
        "settings, or register an application that accepts this kind of account.");
    const QString consent = QStringLiteral(
        "The permission to read your mail was not granted: sign in again and accept it, or ask your "
        "organization's administrator to approve the application.");
    const QString accountType = QStringLiteral(
        "The application registration does not accept this kind of account: register it for personal and "
        "work or school accounts, or set OAuthAuthority to https://login.microsoftonline.com/consumers for a "
        "personal account or https://login.microsoftonline.com/organizations for a work or school account.");
    QTest::newRow("public client flows off")
        << QByteArray("invalid_client")
        << "AADSTS7000218: The request body must contain the following parameter: 'client_assertion' or "
           "'client_secret'.\r\nTrace ID: 0f6a\r\nCorrelation ID: 9c1e\r\nTimestamp: 2024-09-16 12:00:00Z"
        << publicClient;
    QTest::newRow("not a mobile client")
        << QByteArray("invalid_client")
        << "AADSTS70002: The provided client is not supported for this feature." << publicClient;
    QTest::newRow("application not found")
        << QByteArray("unauthorized_client")
        << "AADSTS700016: Application with identifier '9e5f94bc' was not found in the directory 'Microsoft "
           "Accounts'."
        << unknownApp;
    QTest::newRow("consent declined")
        << QByteArray("access_denied") << "AADSTS65004: User declined to consent to access the app."
        << consent;
    QTest::newRow("admin consent needed")
        << QByteArray("invalid_grant") << "AADSTS65001: The user or administrator has not consented."
        << consent;
    QTest::newRow("personal account refused")
        << QByteArray("invalid_request")
        << "AADSTS500200: User account 'ann@outlook.com' is a personal Microsoft account." << accountType;
    QTest::newRow("work account at consumers")
        << QByteArray("invalid_request")
        << "AADSTS9002346: Application is configured for use by Azure Active Directory users only."
        << accountType;
    QTest::newRow("unknown code") << QByteArray("invalid_client") << "AADSTS12345: Something else."
                                  << QString();
    QTest::newRow("no code") << QByteArray("invalid_client") << "The client is not known." << QString();
}

void TestDeviceCodeGrant::identityServiceErrorsInPlainWords()
{
    QFETCH(QByteArray, error);
    QFETCH(QString, description);
    QFETCH(QString, sentence);
    QCOMPARE(oauthServiceAdvice(description), sentence);

    // Refused while asking for a code and while polling: the user reads the sentence either way.
    const QByteArray body = json({{"error", QString::fromLatin1(error)}, {"error_description", description}});
    FakeIdentityServer server;
    server.answer(kCodePath, 400, body)
        .answer(kCodePath, 200, deviceCodeAnswer(1))
        .answer(kTokenPath, 400, body);
    for (int attempt = 0; attempt < 2; ++attempt) {
        Run run(settingsFor(server), 5);
        run.grant.start();
        QVERIFY(run.waitDone());
        QCOMPARE(run.failures.size(), 1);
        QCOMPARE(run.grant.errorText(), sentence.isEmpty() ? oauthErrorText(run.failures[0]) : sentence);
        QVERIFY(run.grant.errorDetail().contains(description.left(20)));
    }
    VERIFY_NO_SERVER_ERRORS(server);
}

// ---------------------------------------------------------------------------------------------
// Signing in

void TestDeviceCodeGrant::pendingThenSignedIn()
{
    FakeIdentityServer server;
    server.answer(kCodePath, 200, deviceCodeAnswer(5))
        .answer(kTokenPath, 400, errorAnswer("authorization_pending"))
        .answer(kTokenPath, 400, errorAnswer("authorization_pending"))
        .answer(kTokenPath, 200, tokenAnswer("access-1", "refresh-1", 3600));
    Run run(settingsFor(server), 10);
    run.grant.start();
    QVERIFY(run.waitDone());
    QCOMPARE(run.successes, 1);
    QVERIFY(run.failures.isEmpty());

    QCOMPARE(run.prompts.size(), 1);
    const DeviceCodeGrant::Prompt prompt = run.prompts.first();
    QCOMPARE(prompt.userCode, QStringLiteral("CX7KQ2RT"));
    QCOMPARE(prompt.verificationUri, QUrl(QStringLiteral("https://www.microsoft.com/link")));
    QCOMPARE(prompt.expiresInSeconds, 900);
    QVERIFY(prompt.message.contains(QStringLiteral("CX7KQ2RT")));

    const OAuthTokens tokens = run.grant.tokens();
    QCOMPARE(tokens.accessToken, QStringLiteral("access-1"));
    QCOMPARE(tokens.refreshToken, QStringLiteral("refresh-1"));
    QCOMPARE(tokens.expiresAt, kNow.addSecs(3600));
    QVERIFY(!tokens.isExpired(kNow));
    QVERIFY(tokens.isExpired(kNow.addSecs(3590)));

    const QList<FakeIdentityServer::Request> requests = server.requests();
    QCOMPARE(requests.size(), 4);
    QCOMPARE(requests[0].method, QByteArray("POST"));
    QCOMPARE(requests[0].path, kCodePath);
    QCOMPARE(requests[0].headers.value("content-type"), QByteArray("application/x-www-form-urlencoded"));
    QCOMPARE(requests[0].fieldNames(), (QStringList{"client_id", "scope"}));
    QCOMPARE(requests[0].field("client_id"), kClientId);
    QCOMPARE(requests[0].field("scope"), OAuthSettings::defaultScopes());
    for (int i = 1; i < 4; ++i) {
        QCOMPARE(requests[i].path, kTokenPath);
        QCOMPARE(requests[i].fieldNames(), (QStringList{"grant_type", "client_id", "device_code"}));
        QCOMPARE(requests[i].field("grant_type"),
                 QStringLiteral("urn:ietf:params:oauth:grant-type:device_code"));
        QCOMPARE(requests[i].field("client_id"), kClientId);
        QCOMPARE(requests[i].field("device_code"), kDeviceCode);
        // Never sooner than the interval (5 s, 50 ms here) after the previous answer.
        QVERIFY2(requests[i].atMs - requests[i - 1].atMs >= 49,
                 qPrintable(QString::number(requests[i].atMs - requests[i - 1].atMs)));
    }
    VERIFY_NO_SERVER_ERRORS(server);
}

void TestDeviceCodeGrant::slowDownLengthensTheInterval()
{
    FakeIdentityServer server;
    server.answer(kCodePath, 200, deviceCodeAnswer(1))
        .answer(kTokenPath, 400, errorAnswer("authorization_pending"))
        .answer(kTokenPath, 400, errorAnswer("slow_down"))
        .answer(kTokenPath, 400, errorAnswer("authorization_pending"))
        .answer(kTokenPath, 200, tokenAnswer("access-1", "refresh-1"));
    Run run(settingsFor(server), 20);
    run.grant.start();
    QVERIFY(run.waitDone());
    QCOMPARE(run.successes, 1);
    QCOMPARE(run.grant.pollIntervalSeconds(), 6);
    const QList<FakeIdentityServer::Request> polls = server.requestsTo(kTokenPath);
    QCOMPARE(polls.size(), 4);
    QVERIFY(polls[1].atMs - polls[0].atMs >= 19);
    // After slow_down every wait is 1 + 5 = 6 s (120 ms here), not only the next one.
    QVERIFY2(polls[2].atMs - polls[1].atMs >= 119,
             qPrintable(QString::number(polls[2].atMs - polls[1].atMs)));
    QVERIFY2(polls[3].atMs - polls[2].atMs >= 119,
             qPrintable(QString::number(polls[3].atMs - polls[2].atMs)));
}

void TestDeviceCodeGrant::endingAnswersWhilePolling_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<int>("status");
    QTest::addColumn<OAuthError>("error");
    QTest::newRow("expired_token") << QStringLiteral("expired_token") << 400 << OAuthError::Expired;
    QTest::newRow("access_denied") << QStringLiteral("access_denied") << 400 << OAuthError::Denied;
    QTest::newRow("authorization_declined")
        << QStringLiteral("authorization_declined") << 400 << OAuthError::Denied;
    QTest::newRow("invalid_client") << QStringLiteral("invalid_client") << 401 << OAuthError::Refused;
    QTest::newRow("bad_verification_code")
        << QStringLiteral("bad_verification_code") << 400 << OAuthError::Refused;
}

void TestDeviceCodeGrant::endingAnswersWhilePolling()
{
    QFETCH(QString, code);
    QFETCH(int, status);
    QFETCH(OAuthError, error);
    FakeIdentityServer server;
    server.answer(kCodePath, 200, deviceCodeAnswer(1))
        .answer(kTokenPath, 400, errorAnswer("authorization_pending"))
        .answer(kTokenPath, status, errorAnswer(code));
    Run run(settingsFor(server), 5);
    run.grant.start();
    QVERIFY(run.waitDone());
    QCOMPARE(run.failures, QList<OAuthError>{error});
    QCOMPARE(run.grant.errorText(), oauthErrorText(error));
    QVERIFY2(run.grant.errorDetail().contains(code), qPrintable(run.grant.errorDetail()));
    QVERIFY(run.grant.tokens().accessToken.isEmpty());
    // Polling stops with the answer: another poll would find nothing scripted.
    QVERIFY(!run.finished.wait(50));
    QCOMPARE(server.requestsTo(kTokenPath).size(), 2);
    VERIFY_NO_SERVER_ERRORS(server);
}

void TestDeviceCodeGrant::codeRunsOutWithoutAnAnswer()
{
    // A 3-second code polled every second: no poll once its time is up, whatever the service says.
    FakeIdentityServer server;
    server.answer(kCodePath, 200, deviceCodeAnswer(1, 3));
    for (int i = 0; i < 3; ++i)
        server.answer(kTokenPath, 400, errorAnswer("authorization_pending"));
    Run run(settingsFor(server), 20);
    run.grant.start();
    QVERIFY(run.waitDone());
    QCOMPARE(run.failures, QList<OAuthError>{OAuthError::Expired});
    QVERIFY(server.requestsTo(kTokenPath).size() <= 2);
}

void TestDeviceCodeGrant::cancelStopsPolling()
{
    // Cancelled as soon as the code is shown: not a single poll.
    FakeIdentityServer early;
    early.answer(kCodePath, 200, deviceCodeAnswer(1));
    Run atPrompt(settingsFor(early), 5);
    QObject::connect(&atPrompt.grant, &DeviceCodeGrant::promptReady, &atPrompt.grant,
                     &DeviceCodeGrant::cancel);
    atPrompt.grant.start();
    QVERIFY(atPrompt.waitDone());
    QCOMPARE(atPrompt.failures, QList<OAuthError>{OAuthError::Cancelled});
    QCOMPARE(atPrompt.prompts.size(), 1);

    // Cancelled between two polls, 300 ms apart here.
    FakeIdentityServer server;
    server.answer(kCodePath, 200, deviceCodeAnswer(3))
        .answer(kTokenPath, 400, errorAnswer("authorization_pending"));
    Run run(settingsFor(server), 100);
    run.grant.start();
    QTRY_COMPARE(server.requestsTo(kTokenPath).size(), 1);
    run.grant.cancel();
    QCOMPARE(run.failures, QList<OAuthError>{OAuthError::Cancelled});
    QCOMPARE(run.finished.size(), 1);
    QVERIFY(!run.grant.isRunning());
    run.grant.cancel(); // nothing runs: nothing happens
    QCOMPARE(run.finished.size(), 1);
    QVERIFY(!run.finished.wait(700)); // more than two intervals
    QVERIFY(early.requestsTo(kTokenPath).isEmpty());
    QCOMPARE(server.requestsTo(kTokenPath).size(), 1);
    VERIFY_NO_SERVER_ERRORS(server);
}

void TestDeviceCodeGrant::cancelWhileARequestIsOut()
{
    FakeIdentityServer server;
    server.hang(kCodePath);
    Run run(settingsFor(server));
    run.grant.start();
    QTRY_COMPARE(server.requests().size(), 1);
    run.grant.cancel();
    QCOMPARE(run.failures, QList<OAuthError>{OAuthError::Cancelled});
    QVERIFY(!run.finished.wait(100));
    QCOMPARE(run.finished.size(), 1); // the aborted request brings no second outcome
}

// ---------------------------------------------------------------------------------------------
// Renewing

void TestDeviceCodeGrant::renewsOnlyWhenExpired()
{
    FakeIdentityServer server;
    OAuthTokens current;
    current.accessToken = QStringLiteral("access-old");
    current.refreshToken = QStringLiteral("refresh-old");
    current.expiresAt = kNow.addSecs(600);
    {
        Run run(settingsFor(server));
        run.grant.ensureFresh(current);
        QVERIFY(run.grant.waitForFinished());
        QCOMPARE(run.grant.tokens().accessToken, QStringLiteral("access-old"));
        QVERIFY(server.requests().isEmpty());
    }
    current.expiresAt = kNow.addSecs(-1);
    server.answer(kTokenPath, 200, tokenAnswer("access-new", "refresh-new", 4000));
    Run run(settingsFor(server));
    run.grant.ensureFresh(current);
    QVERIFY(run.grant.waitForFinished());
    QCOMPARE(run.successes, 1);
    QCOMPARE(run.grant.tokens().accessToken, QStringLiteral("access-new"));
    QCOMPARE(run.grant.tokens().expiresAt, kNow.addSecs(4000));
    const QList<FakeIdentityServer::Request> requests = server.requests();
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests[0].path, kTokenPath);
    QCOMPARE(requests[0].fieldNames(), (QStringList{"grant_type", "client_id", "refresh_token", "scope"}));
    QCOMPARE(requests[0].field("grant_type"), QStringLiteral("refresh_token"));
    QCOMPARE(requests[0].field("refresh_token"), QStringLiteral("refresh-old"));
    QCOMPARE(requests[0].field("client_id"), kClientId);
    QCOMPARE(requests[0].field("scope"), OAuthSettings::defaultScopes());

    // Expired, and nothing to renew with: the user has to sign in again.
    current.refreshToken.clear();
    Run nothing(settingsFor(server));
    nothing.grant.ensureFresh(current);
    QVERIFY(!nothing.grant.waitForFinished());
    QCOMPARE(nothing.failures, QList<OAuthError>{OAuthError::Expired});
    QCOMPARE(server.requests().size(), 1);
}

void TestDeviceCodeGrant::refreshTokenRotation()
{
    FakeIdentityServer server;
    server.answer(kTokenPath, 200, tokenAnswer("access-2", "refresh-2"))
        .answer(kTokenPath, 200, tokenAnswer("access-3"));
    Run run(settingsFor(server));
    run.grant.refresh(QStringLiteral("refresh-1"));
    QVERIFY(run.grant.waitForFinished());
    // A new refresh token replaces the one used...
    QCOMPARE(run.grant.tokens().refreshToken, QStringLiteral("refresh-2"));
    run.grant.refresh(run.grant.tokens().refreshToken);
    QVERIFY(run.grant.waitForFinished());
    // ...and an answer without one leaves the one used in force.
    QCOMPARE(run.grant.tokens().accessToken, QStringLiteral("access-3"));
    QCOMPARE(run.grant.tokens().refreshToken, QStringLiteral("refresh-2"));
    QCOMPARE(server.requests()[1].field("refresh_token"), QStringLiteral("refresh-2"));
}

void TestDeviceCodeGrant::refusedRenewal()
{
    // Even the codes that mean "wait" while signing in end a renewal.
    FakeIdentityServer server;
    server.answer(kTokenPath, 400, errorAnswer("invalid_grant"))
        .answer(kTokenPath, 400, errorAnswer("authorization_pending"));
    for (const char* code : {"invalid_grant", "authorization_pending"}) {
        Run run(settingsFor(server));
        run.grant.refresh(QStringLiteral("refresh-revoked"));
        QVERIFY(!run.grant.waitForFinished());
        QCOMPARE(run.failures, QList<OAuthError>{OAuthError::Refused});
        QVERIFY(run.grant.errorDetail().contains(QLatin1String(code)));
        QVERIFY(!run.grant.errorDetail().contains(QStringLiteral("refresh-revoked")));
    }
    QCOMPARE(server.unusedAnswers(), 0);
}

void TestDeviceCodeGrant::valuesAreFormEncoded()
{
    const QString awkward = QStringLiteral("M.C5_BAY.0.U.-Cg!*$&+=/ %\u00e9&scope=evil");
    FakeIdentityServer server;
    server.answer(kTokenPath, 200, tokenAnswer("access-2"));
    OAuthSettings settings = settingsFor(server);
    settings.scopes = QStringLiteral("a+b c&d");
    Run run(settings);
    run.grant.refresh(awkward);
    QVERIFY(run.grant.waitForFinished());
    QCOMPARE(server.requests().size(), 1);
    QCOMPARE(server.requests()[0].field("refresh_token"), awkward);
    QCOMPARE(server.requests()[0].field("scope"), QStringLiteral("a+b c&d"));
    QCOMPARE(server.requests()[0].fieldNames().size(), 4);
    QVERIFY(!server.requests()[0].body.contains('+')); // '+' would read as a space
}

// ---------------------------------------------------------------------------------------------
// Failures of the service

void TestDeviceCodeGrant::droppedConnection()
{
    FakeIdentityServer server;
    server.drop(kCodePath).drop(kCodePath);
    Run run(settingsFor(server));
    run.grant.start();
    QVERIFY(run.waitDone());
    QCOMPARE(run.failures, QList<OAuthError>{OAuthError::Unreachable});
    QVERIFY(!run.grant.errorDetail().isEmpty());

    // The same while polling.
    FakeIdentityServer polled;
    polled.answer(kCodePath, 200, deviceCodeAnswer(1))
        .answer(kTokenPath, 400, errorAnswer("authorization_pending"))
        .drop(kTokenPath)
        .drop(kTokenPath);
    Run polling(settingsFor(polled), 5);
    polling.grant.start();
    QVERIFY(polling.waitDone());
    QCOMPARE(polling.failures, QList<OAuthError>{OAuthError::Unreachable});
    QCOMPARE(polling.prompts.size(), 1);
}

void TestDeviceCodeGrant::silentService()
{
    FakeIdentityServer server;
    server.hang(kCodePath);
    Run run(settingsFor(server));
    run.grant.setRequestTimeoutMs(200);
    run.grant.start();
    QVERIFY(run.waitDone());
    QCOMPARE(run.failures, QList<OAuthError>{OAuthError::Unreachable});
    QVERIFY2(run.grant.errorDetail().contains(QStringLiteral("200 ms")), qPrintable(run.grant.errorDetail()));
}

void TestDeviceCodeGrant::unreadableAnswers_data()
{
    QTest::addColumn<QByteArray>("path"); // which answer is the odd one
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<OAuthError>("error");
    QTest::newRow("code: not JSON") << kCodePath << 200 << QByteArray("{\"device_code\": \"abc\"")
                                    << OAuthError::Malformed;
    QTest::newRow("code: JSON array") << kCodePath << 200 << QByteArray("[1, 2]") << OAuthError::Malformed;
    QTest::newRow("code: no user code") << kCodePath << 200
                                        << json({{"device_code", "x"},
                                                 {"verification_uri", "https://www.microsoft.com/link"},
                                                 {"expires_in", 900}})
                                        << OAuthError::Malformed;
    QTest::newRow("code: no verification address")
        << kCodePath << 200 << json({{"device_code", "x"}, {"user_code", "ABC"}, {"expires_in", 900}})
        << OAuthError::Malformed;
    QTest::newRow("code: unknown client")
        << kCodePath << 400 << errorAnswer("unauthorized_client") << OAuthError::Refused;
    QTest::newRow("code: server failure page")
        << kCodePath << 503 << QByteArray("<html>busy</html>") << OAuthError::Unreachable;
    QTest::newRow("token: not JSON") << kTokenPath << 200 << QByteArray("access_token=abc")
                                     << OAuthError::Malformed;
    QTest::newRow("token: no access token")
        << kTokenPath << 200 << json({{"token_type", "Bearer"}}) << OAuthError::Malformed;
    QTest::newRow("token: not a bearer token")
        << kTokenPath << 200 << json({{"token_type", "mac"}, {"access_token", "x"}}) << OAuthError::Malformed;
    QTest::newRow("token: refusal without JSON")
        << kTokenPath << 400 << QByteArray("Bad Request") << OAuthError::Refused;
}

void TestDeviceCodeGrant::unreadableAnswers()
{
    QFETCH(QByteArray, path);
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(OAuthError, error);
    FakeIdentityServer server;
    if (path == kTokenPath)
        server.answer(kCodePath, 200, deviceCodeAnswer(1));
    server.answer(path, status, body);
    Run run(settingsFor(server), 5);
    run.grant.start();
    QVERIFY(run.waitDone());
    QCOMPARE(run.failures, QList<OAuthError>{error});
    QCOMPARE(run.successes, 0);
    QCOMPARE(run.prompts.size(), path == kTokenPath ? 1 : 0);
    VERIFY_NO_SERVER_ERRORS(server);
}

QTEST_GUILESS_MAIN(TestDeviceCodeGrant)
#include "tst_devicecodegrant.moc"
