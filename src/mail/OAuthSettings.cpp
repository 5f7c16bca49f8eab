#include "mail/OAuthSettings.h"

#include "frame/SettingsStore.h"
#include "mail/KnownProviders.h"

#ifndef CORVANEL_OAUTH_CLIENT_ID
#define CORVANEL_OAUTH_CLIENT_ID ""
#endif

QString OAuthSettings::builtInClientId()
{
    return QString::fromUtf8(CORVANEL_OAUTH_CLIENT_ID).trimmed();
}

QString OAuthSettings::authorityFor(const QString& user)
{
    const QString domain = KnownProviders::domainOf(user);
    return domain.isEmpty() || KnownProviders::isMicrosoftConsumerDomain(domain) ? defaultAuthority()
                                                                                 : organizationsAuthority();
}

OAuthSettings OAuthSettings::read(const SettingsStore& store, const QString& user)
{
    OAuthSettings settings;
    settings.clientId = store.get(clientIdKey()).trimmed();
    if (settings.clientId.isEmpty())
        settings.clientId = builtInClientId();
    const QString authority = store.get(authorityKey()).trimmed();
    settings.authority = authority.isEmpty() ? authorityFor(user) : authority;
    const QString scopes = store.get(scopesKey()).simplified();
    if (!scopes.isEmpty())
        settings.scopes = scopes;
    return settings;
}

bool OAuthSettings::isAcceptableAuthority(const QString& authority)
{
    const QUrl url(authority, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty() || !url.userInfo().isEmpty() || url.hasQuery() ||
        url.hasFragment())
        return false;
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("https"))
        return true;
    // Plain http only to this machine: tokens must never cross a network unencrypted.
    return scheme == QLatin1String("http") && url.host() == QLatin1String("127.0.0.1");
}

OAuthError OAuthSettings::problem() const
{
    if (clientId.trimmed().isEmpty())
        return OAuthError::NotConfigured;
    if (!isAcceptableAuthority(authority))
        return OAuthError::InsecureAuthority;
    return OAuthError::None;
}

QUrl OAuthSettings::endpoint(const QString& path) const
{
    QString base = authority.trimmed();
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    return QUrl(base + path, QUrl::StrictMode);
}

QUrl OAuthSettings::deviceCodeUrl() const
{
    return endpoint(QStringLiteral("/oauth2/v2.0/devicecode"));
}

QUrl OAuthSettings::tokenUrl() const
{
    return endpoint(QStringLiteral("/oauth2/v2.0/token"));
}
