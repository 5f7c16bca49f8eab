#pragma once

#include "mail/ImapOutcome.h"

#include <QString>
#include <QStringList>

#include <optional>

class ImapConnection;
struct ImapCall;
struct ImapResponse;

// Opening a connection and learning what the server can do: the greeting (OK, PREAUTH or a
// refusal), the capabilities it announces along the way, and the CAPABILITY command.
class ImapGreeting {
public:
    static int connect(ImapConnection& d, const QString& host);
    // Opens the connection of a connect about to come (ImapConnection::openAhead).
    static void prepare(ImapConnection& d, const QString& host);

    // The capabilities a response announces: a CAPABILITY reply, or a CAPABILITY response code
    // in an OK or PREAUTH (greeting or tagged answer).
    static std::optional<QStringList> announcedCapabilities(const ImapResponse& response);

    static ImapOutcome ask(ImapConnection& d, ImapCall& call);
    // What is known for the present state, asking the server when nothing is.
    static QStringList current(ImapConnection& d);
};
