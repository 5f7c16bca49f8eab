#pragma once

#include "mail/ImapOutcome.h"

#include <QByteArray>
#include <QString>

class ImapConnection;
struct ImapCall;

// Signing in with an OAuth 2.0 access token: AUTHENTICATE XOAUTH2, with the credentials on
// the command line when the server offers SASL-IR.
class ImapXOAuth2 {
public:
    static int run(ImapConnection& d, const QString& user, const QString& accessToken);

private:
    static ImapOutcome authenticate(ImapConnection& d, ImapCall& call, const QByteArray& mechanism,
                                    const QByteArray& initialResponse, bool initialResponseWithCommand);
};
