#pragma once

#include "mail/ImapCall.h"
#include "mail/ImapOutcome.h"

#include <optional>

class ImapConnection;

// Marks one public call for its whole duration: re-entrancy bookkeeping, the abort-check
// clock, and publishing the call's log when it ends. The command units open and read their
// answers through it, all in the same words.
class ImapCallScope {
public:
    ImapCallScope(ImapConnection& connection, const QString& name);
    ~ImapCallScope();
    ImapCallScope(const ImapCallScope&) = delete;
    ImapCallScope& operator=(const ImapCallScope&) = delete;

    // Whether another call still uses the connection; the log says so and the call fails.
    bool refused();
    // The opening of a sign-in: 0 when refused as above, 1 when the server greeted with PREAUTH
    // (nothing is sent), nothing when the sign-in goes ahead.
    std::optional<int> settledBeforeSignIn();
    // From here on this call uses the current connection; other calls are refused.
    void claim();
    // Whether a command was answered OK; a refusal is noted in these words. A command left
    // unanswered (closed, timed out, abandoned) has said why already.
    bool accepted(const ImapOutcome& outcome, const QString& refusal);
    // The end of a sign-in: 1 once the server accepted it, 0 otherwise. Capabilities announced
    // before it (`announcementsBefore` counts them) no longer hold.
    int signInEnded(const ImapOutcome& outcome, quint64 announcementsBefore);

    ImapCall call;

private:
    ImapConnection& d;
    bool savedBusy;
    quint64 savedBusyGeneration;
};
