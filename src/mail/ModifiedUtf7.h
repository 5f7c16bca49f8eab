#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// Mailbox names on the wire: IMAP's modified UTF-7 (RFC 3501, 5.1.3). Printable US-ASCII stands
// for itself ("&" is written "&-"); every other run of characters is "&", the modified base64 of
// its UTF-16 code units ("," in place of "/", no padding) and "-".
class ModifiedUtf7 {
public:
    static QByteArray encode(const QString& name);
    // The decoded name, or nothing when the bytes are not well-formed modified UTF-7 (8-bit or
    // control bytes, an unterminated or malformed base64 run, a run that hides printable ASCII,
    // broken surrogate pairs).
    static std::optional<QString> decode(const QByteArray& encoded);
};
