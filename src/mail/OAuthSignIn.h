#pragma once

#include "frame/SettingsKeys.h"
#include "mail/OAuthError.h"
#include "mail/OAuthTokens.h"

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

class DeviceCodePrompt;
class SettingsStore;

// The window's Microsoft sign-in for IMAP: hands out an access token for XOAUTH2. The access
// token is kept in memory only, for the window's life, so that every later sign-in of a
// retrieval asks nothing while it is good; when it has run out it is renewed with the refresh
// token. Without a usable refresh token the user signs in through the device code prompt.
//
// The refresh token is kept in the settings (OAuthRefreshToken) only while `remember` says so,
// like the stored password; otherwise it lives in memory only. No token ever reaches a text
// that is shown or logged.
class OAuthSignIn : public QObject {
    Q_OBJECT
public:
    static QString refreshTokenKey() { return SettingsKeys::OAuthRefreshToken.key(); }

    OAuthSignIn(SettingsStore& settings, std::function<bool()> remember, QObject* parent = nullptr);
    ~OAuthSignIn() override;

    void setPrompt(DeviceCodePrompt* prompt) { m_prompt = prompt; }
    // Passed on to every grant (tests shorten the service's seconds).
    void setMillisecondsPerSecond(int ms) { m_msPerSecond = ms; }

    // True when a client ID is set, that is, when the user chose this sign-in.
    bool isConfigured() const;
    // Whether the sign-in is for a connection to `imapHost`: a client ID of the settings goes
    // with whatever server they name; the one built into the program only with Microsoft's
    // host, so that another service's account never meets the Microsoft sign-in.
    bool isConfiguredFor(const QString& imapHost) const;
    // A good access token for `user`, renewed or signed in for as needed; nothing after a
    // failure, whose reason error() then gives. Tokens held for another user are let go.
    std::optional<QString> accessToken(const QString& user);
    OAuthError error() const { return m_error; }
    // What the user is told: the service's reason in plain words when it gave a known one.
    QString errorText() const { return m_errorText.isEmpty() ? oauthErrorText(m_error) : m_errorText; }
    // Forgets the access token (the server refused it), so the next sign-in renews it.
    void dropAccessToken();

    // Stores the refresh token in hand while `remember` holds.
    void storeRefreshToken();
    // Forgets the sign-in: the tokens in memory and the stored refresh token.
    void forget();

private:
    bool runGrant(const class OAuthSettings& settings,
                  const std::function<void(class DeviceCodeGrant&)>& begin, bool withPrompt);
    void keep(const OAuthTokens& tokens);

    SettingsStore& m_settings;
    std::function<bool()> m_remember;
    DeviceCodePrompt* m_prompt = nullptr;
    int m_msPerSecond = 1000;
    OAuthTokens m_tokens;
    QString m_user; // whom m_tokens are for
    OAuthError m_error = OAuthError::None;
    QString m_errorText;
    bool m_running = false;
};
