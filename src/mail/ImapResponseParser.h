#pragma once

#include "mail/ImapResponse.h"

#include <QByteArray>
#include <QString>

#include <optional>

// Cuts the byte stream from an IMAP server into complete responses: lines ended by CRLF (a
// bare LF is accepted too), with "{n}" at the end of a line announcing n bytes of literal data
// after which the response continues. Bounded: a line that grows past maxLineLength without
// ending, a literal announced larger than maxLiteralSize, or a response larger than
// maxResponseSize puts the parser into the failed state, from which it never recovers (the
// stream cannot be re-synchronised; the connection has to go).
class ImapResponseParser {
public:
    static constexpr qsizetype kDefaultMaxLineLength = 8 * 1024 * 1024;
    static constexpr qsizetype kDefaultMaxLiteralSize = 256 * 1024 * 1024;
    static constexpr qsizetype kDefaultMaxResponseSize = 300 * 1024 * 1024;

    void setLimits(qsizetype maxLineLength, qsizetype maxLiteralSize, qsizetype maxResponseSize);

    void feed(const QByteArray& bytes);
    // The next complete response, once it has arrived whole; nothing while more bytes are needed
    // or after a failure.
    std::optional<ImapResponse> take();

    bool failed() const { return !m_error.isEmpty(); }
    QString errorText() const { return m_error; }

    // The literal now arriving, if any: its announced size and the bytes received so far.
    bool inLiteral() const { return m_literalRemaining > 0; }
    qsizetype literalSize() const { return m_literalSize; }
    qsizetype literalReceived() const { return m_literalSize - m_literalRemaining; }
    // True when part of a response has arrived but not yet all of it.
    bool midResponse() const;
    // The first line of that response once it is whole; empty before.
    QByteArray pendingFirstLine() const
    {
        return m_current.lines.isEmpty() ? QByteArray() : m_current.lines.first();
    }

    void reset();

private:
    void compact();
    void fail(const QString& why);

    QByteArray m_buffer;
    qsizetype m_pos = 0;       // first unconsumed byte of m_buffer
    qsizetype m_scanFrom = 0;  // no line end before this offset
    ImapResponse m_current;
    qsizetype m_currentSize = 0;
    qsizetype m_literalSize = 0;
    qsizetype m_literalRemaining = 0;
    QString m_error;
    qsizetype m_maxLine = kDefaultMaxLineLength;
    qsizetype m_maxLiteral = kDefaultMaxLiteralSize;
    qsizetype m_maxResponse = kDefaultMaxResponseSize;
};
