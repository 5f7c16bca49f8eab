#pragma once

#include <QString>

class ImapConnection;

// A command line the caller wrote itself (the session's ID, say), answered with every reply.
class ImapRawCommand {
public:
    static QString run(ImapConnection& d, const QString& command);
};
