#pragma once

#include <QString>

class ImapConnection;

// Opens a mailbox read-only (EXAMINE), learning its message count.
class ImapExamine {
public:
    static int run(ImapConnection& d, const QString& mailbox);
};
