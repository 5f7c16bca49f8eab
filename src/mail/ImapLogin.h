#pragma once

#include <QString>

class ImapConnection;

// LOGIN with a user name and password: quoted strings, or literals for what quoting cannot
// carry; neither ever shows in the log.
class ImapLogin {
public:
    static int run(ImapConnection& d, const QString& user, const QString& password);
};
