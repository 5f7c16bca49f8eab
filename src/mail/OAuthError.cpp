#include "mail/OAuthError.h"

QString oauthErrorText(OAuthError error)
{
    switch (error) {
    case OAuthError::None:
        return QString();
    case OAuthError::NotConfigured:
        return QStringLiteral(
            "No application (client) ID is set for signing in with Microsoft (OAuthClientId).");
    case OAuthError::InsecureAuthority:
        return QStringLiteral(
            "The sign-in address (OAuthAuthority) must begin with https://; http:// is only "
            "accepted for 127.0.0.1.");
    case OAuthError::Cancelled:
        return QStringLiteral("The sign-in was cancelled.");
    case OAuthError::Denied:
        return QStringLiteral("The sign-in was declined.");
    case OAuthError::Expired:
        return QStringLiteral("The sign-in has expired. Please sign in again.");
    case OAuthError::Unreachable:
        return QStringLiteral(
            "The sign-in service could not be reached. Check the Internet connection and try "
            "again.");
    case OAuthError::Malformed:
        return QStringLiteral("The sign-in service sent an answer that could not be read.");
    case OAuthError::Refused:
        return QStringLiteral("The sign-in service refused the request. Please sign in again.");
    }
    return QString();
}
