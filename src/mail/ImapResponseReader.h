#pragma once

#include "mail/ImapResponse.h"
#include "mail/ImapValue.h"

#include <QByteArray>

#include <optional>

// Reads the tokens of one complete response front to back, stepping over the literals where
// "{n}" announces them. Every read returns nothing on malformed input instead of guessing, and
// nesting of lists is bounded.
class ImapResponseReader {
public:
    static constexpr int kMaxDepth = 64;

    explicit ImapResponseReader(const ImapResponse& response);

    bool atEnd() const;      // nothing left at all
    bool atLineEnd() const;  // nothing left on the current line
    // Skips spaces; true when at least one was there.
    bool skipSpaces();
    // The next atom: bytes up to a space, parenthesis, quote or line end; a bracketed section
    // ("BODY[HEADER.FIELDS (SUBJECT)]") is taken whole. Empty when no atom is there.
    QByteArray readAtom();
    std::optional<ImapValue> readValue();
    // Steps over the next value as readValue() would read it, without keeping any of it; false
    // where readValue() would give nothing.
    bool skipValue();
    // For reading a list item by item: steps into it at its "(", and out of it at its ")" (after
    // spaces), each true when it was there.
    bool enterList();
    bool leaveList();
    // The rest of the current line as text (status response text); literals are not read here.
    QByteArray readRestOfLine();

private:
    std::optional<ImapValue> readValue(int depth);
    bool skipValue(int depth);
    // Where the atom starting here ends; -1 when a bracketed section in it is not closed.
    qsizetype atomEnd() const;
    std::optional<QByteArray> readQuoted();
    std::optional<QByteArray> readLiteral();
    char peek() const;

    const ImapResponse& m_response;
    qsizetype m_line = 0;
    qsizetype m_pos = 0;
};
