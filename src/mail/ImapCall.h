#pragma once

#include "mail/ImapCallLog.h"
#include "mail/ImapFailure.h"

#include <QtGlobal>

// Everything one public call of the IMAP client needs to know about itself while it runs.
struct ImapCall {
    explicit ImapCall(const QString& name)
        : log(name)
    {}

    void note(const QString& line) { log.note(line); }

    ImapCallLog log;
    quint64 generation = 0;    // the connection the call uses
    qint64 lastAbortCheck = 0; // clock time of the last abort check
    qint64 bytesReceived = 0;
    bool progress = false; // report percent-done while a literal arrives
    int lastPercent = -1;
    qint64 progressMessage = -1; // with read-ahead: the message whose literal counts, by number
    ImapFailure failure; // why the call failed; the first cause found stands

    void fail(ImapFailure::Kind kind)
    {
        if (failure.kind == ImapFailure::Kind::None)
            failure.kind = kind;
    }
};
