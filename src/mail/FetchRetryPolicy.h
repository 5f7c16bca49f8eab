#pragma once

#include "mail/ImapFailure.h"

#include <QString>

#include <optional>

// What the extraction does after a fetch or a reconnect failed: give the number up, wait and ask
// again (the server is busy), or connect again (the connection is gone). Bounded: a few reconnects
// with growing waits, a few retries of a busy server, each with the wait the server suggests.
class FetchRetryPolicy {
public:
    enum class Action {
        Skip,         // not retried: the number stays unread (or is not there at all)
        WaitAndRetry, // the server is busy: wait, then fetch the same number again
        Reconnect,    // the connection is gone: wait, connect, select, fetch the same number again
        GiveUpRest    // no connection to be had: the rest of the range cannot be read
    };
    struct Decision {
        Action action = Action::Skip;
        int waitMs = 0;
    };

    static constexpr int kReconnectAttempts = 3; // waits of 1, 2 and 4 s
    static constexpr int kBusyRetries = 4;
    static constexpr int kDefaultBusyWaitMs = 3000;
    static constexpr int kMaxBusyWaitMs = 60000;

    // After a fetch failed; the counts are what was already done for this number.
    static Decision afterFetch(const ImapFailure& failure, int reconnectsSoFar, int busyRetriesSoFar);
    // After a reconnect (connect, sign-in, selection) failed.
    static Decision afterReconnect(const ImapFailure& failure, int reconnectsSoFar);

    // A NO or BAD that means "busy, ask later" rather than "no".
    static bool isBusy(const ImapFailure& failure);
    // The wait a busy server asks for, capped; the default when it names none.
    static int busyWaitMs(const ImapFailure& failure);
    // The wait before reconnect attempt n (0-based): 1 s, 2 s, 4 s...
    static int reconnectWaitMs(int attempt);

private:
    static std::optional<int> suggestedBackoffMs(const QString& text);
};
