#pragma once

#include <QDateTime>
#include <QString>

// What a successful sign-in or renewal gives: the access token that IMAP sign-in presents, the
// refresh token that renews it without the user, and when the access token stops working.
struct OAuthTokens {
    QString accessToken;
    QString refreshToken; // empty when the service issued none
    QDateTime expiresAt;  // UTC; invalid when the service did not say
    QString scope;

    // True when the access token has run out or will within `marginSeconds` of `now`; a token of
    // unknown lifetime counts as run out, so that it is renewed rather than found refused.
    bool isExpired(const QDateTime& now, int marginSeconds = 60) const;
};
