#pragma once

#include "frame/SettingsKeys.h"
#include "mail/OAuthError.h"

#include <QString>
#include <QUrl>

class SettingsStore;

// Where and as whom the program asks for OAuth tokens, from the settings keys OAuthClientId
// (the application's registration; the one built into the program unless set), OAuthAuthority
// (the sign-in service's base address; unless set, Microsoft's for personal accounts when the
// account's address is one of Microsoft's consumer domains, Microsoft's for work and school
// accounts otherwise) and OAuthScopes (IMAP access and a refresh token unless set). The device code and token
// endpoints are the authority followed by
// "/oauth2/v2.0/devicecode" and "/oauth2/v2.0/token", as on the Microsoft identity platform and
// any service laid out the same way.
class OAuthSettings {
public:
    static QString clientIdKey() { return SettingsKeys::OAuthClientId.key(); }
    static QString authorityKey() { return SettingsKeys::OAuthAuthority.key(); }
    static QString scopesKey() { return SettingsKeys::OAuthScopes.key(); }
    static QString defaultAuthority() { return SettingsKeys::OAuthAuthority.defaultValue(); }
    static QString defaultScopes() { return SettingsKeys::OAuthScopes.defaultValue(); }
    static QString organizationsAuthority()
    {
        return QStringLiteral("https://login.microsoftonline.com/organizations");
    }
    // Personal accounts (hotmail.com, outlook.com, live.com... and an address without a
    // domain) sign in at the consumer authority, any other domain as a work or school account.
    static QString authorityFor(const QString& user);
    // The application (client) ID given to the build (CORVANEL_OAUTH_CLIENT_ID); often empty.
    static QString builtInClientId();

    // Reads the three keys; an empty or missing client ID gives the built-in one, an empty or
    // missing authority the one for `user`, an empty or missing scope list the default.
    static OAuthSettings read(const SettingsStore& store, const QString& user = QString());

    QString clientId;
    QString authority = defaultAuthority();
    QString scopes = defaultScopes();

    // What keeps these settings from being used: NotConfigured without a client ID,
    // InsecureAuthority for an authority that is not https (http only to 127.0.0.1) or not a
    // plain base address; None when they can be used.
    OAuthError problem() const;
    static bool isAcceptableAuthority(const QString& authority);

    QUrl deviceCodeUrl() const;
    QUrl tokenUrl() const;

private:
    QUrl endpoint(const QString& path) const;
};
