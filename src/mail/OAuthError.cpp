#include "mail/OAuthError.h"

#include <QRegularExpression>

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

QString oauthServiceAdvice(const QString& errorDescription)
{
    static const QRegularExpression code(QStringLiteral("\\bAADSTS(\\d+)"));
    const QRegularExpressionMatch match = code.match(errorDescription);
    if (!match.hasMatch())
        return QString();
    switch (match.captured(1).toLongLong()) {
    case 7000218: // the request needs a client secret: the registration is not a public client
    case 70002:   // the client is not supported for this flow ("must be marked as mobile")
        return QStringLiteral(
            "The application registration does not allow this sign-in: in its Authentication page, set "
            "\"Allow public client flows\" to Yes, then sign in again.");
    case 700016: // application not found in the directory
    case 90002:  // tenant not found
        return QStringLiteral(
            "Microsoft does not know the application (client) ID for this account: check OAuthClientId in "
            "the settings, or register an application that accepts this kind of account.");
    case 65001: // no consent yet
    case 65004: // the user declined consent
    case 90094: // an administrator must consent
    case 90095:
        return QStringLiteral(
            "The permission to read your mail was not granted: sign in again and accept it, or ask your "
            "organization's administrator to approve the application.");
    case 50020:    // an account of another directory
    case 50194:    // the application is not multi-tenant
    case 500200:   // a personal account, which the application does not accept
    case 9002331:  // the application takes personal accounts only
    case 9002346:  // the application takes work or school accounts only
    case 70000121: // a personal account's grant sent to a work or school authority
        return QStringLiteral(
            "The application registration does not accept this kind of account: register it for personal "
            "and work or school accounts, or set OAuthAuthority to "
            "https://login.microsoftonline.com/consumers for a personal account or "
            "https://login.microsoftonline.com/organizations for a work or school account.");
    default:
        return QString();
    }
}
