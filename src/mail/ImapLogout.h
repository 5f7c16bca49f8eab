#pragma once

class ImapConnection;

// Ends the connection: LOGOUT when the server is there to hear it (waiting briefly for its
// answer), then the connection is closed.
class ImapLogout {
public:
    static int run(ImapConnection& d);
};
