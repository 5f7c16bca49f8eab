#pragma once

#include <QByteArray>

class ImapResponseReader;

// How a response starts: its tag, then the first word after it; for "* 12 EXISTS" the number
// and the word after it. Reading it leaves the reader after the blanks that follow.
struct ImapResponseHead {
    QByteArray tag;
    qint64 number = -1;
    QByteArray word;  // upper case

    static ImapResponseHead read(ImapResponseReader& reader);
};
