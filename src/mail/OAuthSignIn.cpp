#include "mail/OAuthSignIn.h"

#include "frame/SettingsStore.h"
#include "mail/DeviceCodeGrant.h"
#include "mail/DeviceCodePrompt.h"
#include "mail/KnownProviders.h"
#include "mail/OAuthSettings.h"

#include <QEventLoop>

OAuthSignIn::OAuthSignIn(SettingsStore& settings, std::function<bool()> remember, QObject* parent)
    : QObject(parent)
    , m_settings(settings)
    , m_remember(std::move(remember))
{}

OAuthSignIn::~OAuthSignIn() = default;

bool OAuthSignIn::isConfigured() const
{
    return !OAuthSettings::read(m_settings).clientId.trimmed().isEmpty();
}

bool OAuthSignIn::isConfiguredFor(const QString& imapHost) const
{
    if (!m_settings.get(OAuthSettings::clientIdKey()).trimmed().isEmpty())
        return true;
    return !OAuthSettings::builtInClientId().isEmpty() &&
           imapHost.trimmed().compare(KnownProviders::microsoftHost(), Qt::CaseInsensitive) == 0;
}

std::optional<QString> OAuthSignIn::accessToken(const QString& user)
{
    m_error = OAuthError::None;
    m_errorText.clear();
    if (m_running) {
        // A sign-in already waits for the user; a second one would only compete with it.
        m_error = OAuthError::Cancelled;
        return std::nullopt;
    }
    m_running = true;
    const std::unique_ptr<bool, void (*)(bool*)> done(&m_running, [](bool* running) { *running = false; });

    const OAuthSettings settings = OAuthSettings::read(m_settings, user);
    m_error = settings.problem();
    if (m_error != OAuthError::None)
        return std::nullopt;

    if (user != m_user) {
        m_tokens = OAuthTokens();
        m_user = user;
    }
    if (m_tokens.refreshToken.isEmpty() && m_remember())
        m_tokens.refreshToken = m_settings.get(refreshTokenKey());

    if (!m_tokens.accessToken.isEmpty() || !m_tokens.refreshToken.isEmpty()) {
        const OAuthTokens current = m_tokens;
        if (runGrant(
                settings, [&](DeviceCodeGrant& grant) { grant.ensureFresh(current); }, false))
            return m_tokens.accessToken;
        // Only a refresh token the service no longer takes sends the user to sign in again; an
        // unreachable service stays a failure.
        if (m_error != OAuthError::Refused && m_error != OAuthError::Expired)
            return std::nullopt;
        m_tokens = OAuthTokens();
    }
    if (runGrant(
            settings, [](DeviceCodeGrant& grant) { grant.start(); }, true))
        return m_tokens.accessToken;
    return std::nullopt;
}

bool OAuthSignIn::runGrant(const OAuthSettings& settings, const std::function<void(DeviceCodeGrant&)>& begin,
                           bool withPrompt)
{
    DeviceCodeGrant grant(settings);
    grant.setMillisecondsPerSecond(m_msPerSecond);

    std::optional<DeviceCodeGrant::Prompt> prompt;
    QEventLoop loop;
    connect(&grant, &DeviceCodeGrant::promptReady, &loop, [&](const DeviceCodeGrant::Prompt& p) {
        prompt = p;
        loop.quit();
    });
    connect(&grant, &DeviceCodeGrant::finished, &loop, &QEventLoop::quit);
    begin(grant);
    if (grant.isRunning())
        loop.exec(QEventLoop::ExcludeUserInputEvents);

    if (withPrompt && prompt && grant.isRunning()) {
        if (m_prompt)
            m_prompt->run(grant, *prompt);
        // The prompt only returns early when the user gave up.
        grant.cancel();
    }
    const bool ok = grant.waitForFinished();
    m_error = ok ? OAuthError::None : grant.error();
    m_errorText = ok ? QString() : grant.errorText();
    if (ok)
        keep(grant.tokens());
    return ok;
}

void OAuthSignIn::keep(const OAuthTokens& tokens)
{
    const QString earlierRefresh = m_tokens.refreshToken;
    m_tokens = tokens;
    // A renewal may come without a new refresh token: the one it was renewed with stays good.
    if (m_tokens.refreshToken.isEmpty())
        m_tokens.refreshToken = earlierRefresh;
    storeRefreshToken();
}

void OAuthSignIn::dropAccessToken()
{
    m_tokens.accessToken.clear();
}

void OAuthSignIn::storeRefreshToken()
{
    if (m_remember() && !m_tokens.refreshToken.isEmpty())
        m_settings.setValue(refreshTokenKey(), m_tokens.refreshToken);
}

void OAuthSignIn::forget()
{
    m_tokens = OAuthTokens();
    // Only a stored token is erased: accounts signed in with a password see no new setting.
    if (!m_settings.get(refreshTokenKey()).isEmpty())
        m_settings.setValue(refreshTokenKey(), QString());
}
