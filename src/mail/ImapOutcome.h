#pragma once

#include <QByteArray>

// How a command ended.
struct ImapOutcome {
    bool completed = false; // a tagged answer arrived
    QByteArray status;      // OK, NO, BAD (upper case) or whatever the server wrote
    QByteArray raw;         // the tagged line as received
    bool unreadableData = false;
};
