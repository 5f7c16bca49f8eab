#include "mail/ImapResponse.h"

QByteArray ImapResponse::tag() const
{
    if (lines.isEmpty())
        return {};
    const QByteArray& first = lines.first();
    const qsizetype space = first.indexOf(' ');
    return space < 0 ? first : first.left(space);
}

QByteArray ImapResponse::raw() const
{
    QByteArray out;
    out.reserve(size() + 2 * lines.size());
    // Each literal follows the CRLF after its marker; the response goes on right after it.
    for (qsizetype i = 0; i < lines.size(); ++i) {
        out.append(lines[i]);
        if (i < literals.size()) {
            out.append("\r\n");
            out.append(literals[i]);
        }
    }
    return out;
}

QByteArray ImapResponse::summary(int maxChars) const
{
    QByteArray out;
    for (qsizetype i = 0; i < lines.size() && out.size() <= maxChars; ++i) {
        out.append(lines[i].left(maxChars + 1));
        if (i < literals.size())
            out.append(" <" + QByteArray::number(literals[i].size()) + " bytes> ");
    }
    if (out.size() > maxChars)
        out = out.left(maxChars) + "...";
    // Keep the log readable and on one line whatever the server sent.
    for (char& c : out) {
        if (quint8(c) < 0x20 || c == 0x7f)
            c = '.';
    }
    return out;
}

qsizetype ImapResponse::size() const
{
    qsizetype total = 0;
    for (const QByteArray& line : lines)
        total += line.size();
    for (const QByteArray& literal : literals)
        total += literal.size();
    return total;
}
