#include "mail/OAuthTokens.h"

bool OAuthTokens::isExpired(const QDateTime& now, int marginSeconds) const
{
    if (accessToken.isEmpty() || !expiresAt.isValid())
        return true;
    return now.addSecs(marginSeconds) >= expiresAt;
}
