#include "support/JwtSigner.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QMessageAuthenticationCode>

QByteArray JwtSigner::base64Url(const QByteArray& bytes)
{
    return bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

QByteArray JwtSigner::hs256(const QByteArray& secret, const QJsonObject& claims)
{
    const QJsonObject header{{QStringLiteral("alg"), QStringLiteral("HS256")},
                             {QStringLiteral("typ"), QStringLiteral("JWT")}};
    const QByteArray signingInput = base64Url(QJsonDocument(header).toJson(QJsonDocument::Compact)) + '.' +
                                    base64Url(QJsonDocument(claims).toJson(QJsonDocument::Compact));
    const QByteArray signature =
        QMessageAuthenticationCode::hash(signingInput, secret, QCryptographicHash::Sha256);
    return signingInput + '.' + base64Url(signature);
}
