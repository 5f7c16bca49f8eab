#include "mail/ImapQuoting.h"

bool ImapQuoting::hasLineBreakOrNul(const QByteArray& value)
{
    for (char c : value) {
        if (c == '\r' || c == '\n' || c == '\0')
            return true;
    }
    return false;
}

ImapQuoting::Form ImapQuoting::formFor(const QByteArray& value)
{
    if (hasLineBreakOrNul(value))
        return Form::Impossible;
    for (char c : value) {
        if (quint8(c) >= 0x80)
            return Form::Literal;
    }
    return Form::Quoted;
}

QByteArray ImapQuoting::quoted(const QByteArray& value)
{
    QByteArray out;
    out.reserve(value.size() + 2);
    out.append('"');
    for (char c : value) {
        if (c == '"' || c == '\\')
            out.append('\\');
        out.append(c);
    }
    out.append('"');
    return out;
}
