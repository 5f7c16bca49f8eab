#include "mail/OAuthSettings.h"

#include "frame/SettingsStore.h"

OAuthSettings OAuthSettings::read(const SettingsStore& store)
{
    OAuthSettings settings;
    settings.clientId = store.get(clientIdKey()).trimmed();
    const QString authority = store.get(authorityKey()).trimmed();
    if (!authority.isEmpty())
        settings.authority = authority;
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
