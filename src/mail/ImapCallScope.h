#pragma once

#include "mail/ImapCall.h"

class ImapConnection;

// Marks one public call for its whole duration: re-entrancy bookkeeping, the abort-check
// clock, and publishing the call's log when it ends.
class ImapCallScope {
public:
    ImapCallScope(ImapConnection& connection, const QString& name);
    ~ImapCallScope();
    ImapCallScope(const ImapCallScope&) = delete;
    ImapCallScope& operator=(const ImapCallScope&) = delete;

    // From here on this call uses the current connection; other calls are refused.
    void claim();

    ImapCall call;

private:
    ImapConnection& d;
    bool savedBusy;
    quint64 savedBusyGeneration;
};
