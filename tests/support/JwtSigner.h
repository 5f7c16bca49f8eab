#pragma once

#include <QByteArray>
#include <QJsonObject>

// Makes JSON Web Tokens signed with HMAC-SHA256, the kind a test server can check with a shared
// secret. The header carries "alg":"HS256" and "typ":"JWT" (Dovecot refuses tokens without the
// type); the claims are taken as given.
class JwtSigner {
public:
    static QByteArray hs256(const QByteArray& secret, const QJsonObject& claims);
    // base64url without padding, as JWTs write every part.
    static QByteArray base64Url(const QByteArray& bytes);
};
