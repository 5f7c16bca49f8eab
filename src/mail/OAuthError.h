#pragma once

#include <QString>

// Why getting or renewing an OAuth access token did not succeed.
enum class OAuthError {
    None,
    NotConfigured,     // no client ID in the settings
    InsecureAuthority, // the sign-in address is neither https nor http on 127.0.0.1
    Cancelled,         // the user (or the program) stopped it
    Denied,            // the user declined the sign-in
    Expired,           // the code ran out before the sign-in was completed, or nothing is left to renew with
    Unreachable,       // no answer: no network, a dropped connection, a time-out, a server failure
    Malformed,         // an answer that could not be read
    Refused,           // the sign-in service refused the request (unknown client, revoked token...)
};

// The text the user is shown for each reason.
QString oauthErrorText(OAuthError error);

// One plain sentence that says what to do about a refusal of Microsoft's identity service,
// found from the AADSTS code in its error description ("AADSTS7000218: The request body must
// contain..."); empty for any other text.
QString oauthServiceAdvice(const QString& errorDescription);
