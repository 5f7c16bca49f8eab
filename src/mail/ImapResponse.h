#pragma once

#include <QByteArray>
#include <QList>

// One complete server response as it came off the wire: its text lines (line ends removed) and
// the literal data between them. A line that ends in "{n}" is followed by literals[i] of n
// bytes, then the response goes on with the next line; so literals.size() == lines.size() - 1.
struct ImapResponse {
    QList<QByteArray> lines;
    QList<QByteArray> literals;

    // "*" for untagged data, "+" for a continuation request, otherwise the command tag.
    QByteArray tag() const;
    // The response exactly as received, line ends written as CRLF (none after the last line).
    QByteArray raw() const;
    // The response for a diagnostic log: literal data shown only by its size, at most maxChars
    // characters (longer text is cut and marked with "...").
    QByteArray summary(int maxChars) const;
    qsizetype size() const;  // bytes of text and literal data
};
