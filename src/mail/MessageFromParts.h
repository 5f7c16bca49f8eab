#pragma once

#include <QByteArray>
#include <QList>

#include <optional>

// A multipart message rebuilt from its header and some of its parts, as fetched one by one: the
// header as it stands, then each part (its MIME header and its body) between the boundaries the
// header declares. Parsed as a message, it gives the same header fields as the whole message, and
// its parts in the same order as they stood there.
class MessageFromParts {
public:
    struct Part {
        QByteArray mimeHeader; // the part's header lines and the empty line after them
        QByteArray body;       // as stored (still transfer-encoded)
    };

    // Nothing when the header declares no multipart with a boundary, or when a part holds a line
    // that would read as one of the boundaries.
    static std::optional<QByteArray> assemble(const QByteArray& header, const QList<Part>& parts);
};
