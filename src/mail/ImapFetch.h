#pragma once

#include "mail/ImapClient.h"

#include <QByteArray>
#include <QDateTime>
#include <QMap>

#include <optional>

class ImapConnection;
struct ImapCall;
struct ImapResponse;

// Reads one message whole, unmarked: FETCH n (BODY.PEEK[] INTERNALDATE), by sequence number or UID.
class ImapFetch {
public:
    static std::optional<ImapClient::RawMessage> run(ImapConnection& d, int number, bool isUid);

    // What one untagged response holds for message `number`: its body and internal date when
    // it is that message's FETCH data. False when it is FETCH data that cannot be read.
    struct Data {
        std::optional<QByteArray> body;
        QDateTime internalDate;
        // BODY[HEADER], BODY[1.MIME]... by section name; a partial answer with its origin after
        // the name, BODY[]<0> as "<0>"
        QMap<QByteArray, QByteArray> sections;
    };
    static bool read(const ImapResponse& response, qint64 number, bool isUid, Data& data);
    // The end of a fetch the server answered OK: the message, or the failure of an answer
    // without message data (`unreadable`: FETCH data that could not be read).
    static std::optional<ImapClient::RawMessage> finish(ImapConnection& d, ImapCall& call, Data& data,
                                                        bool unreadable);
};
