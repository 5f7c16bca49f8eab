#pragma once

#include <QByteArray>

// How a string argument can travel in an IMAP command. A quoted string carries 7-bit text
// without CR, LF or NUL (quote and backslash escaped); 8-bit text needs a literal; CR, LF and
// NUL cannot be sent at all (a literal could carry them, but no server accepts them in the
// arguments this program sends, and a line break would let a value inject a command).
class ImapQuoting {
public:
    enum class Form { Quoted, Literal, Impossible };

    static Form formFor(const QByteArray& value);
    // The value as a quoted string; only for values whose form is Quoted.
    static QByteArray quoted(const QByteArray& value);
    static bool hasLineBreakOrNul(const QByteArray& value);
};
