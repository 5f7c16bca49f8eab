#include "export/XlsxText.h"

#include "export/Worksheet.h"

#include <QString>

namespace {

bool needsEscape(char16_t u)
{
    return (u < 0x20 && u != u'\t' && u != u'\n' && u != u'\r') || u == 0xFFFE || u == 0xFFFF;
}

bool isHex(char16_t u)
{
    return (u >= u'0' && u <= u'9') || (u >= u'A' && u <= u'F') || (u >= u'a' && u <= u'f');
}

void appendEscape(QString& out, char16_t u)
{
    static const char hex[] = "0123456789ABCDEF";
    out += QLatin1String("_x");
    for (int shift = 12; shift >= 0; shift -= 4)
        out += QLatin1Char(hex[(u >> shift) & 0xF]);
    out += QLatin1Char('_');
}

}  // namespace

bool XlsxText::isLiteralEscape(QStringView text, qsizetype at)
{
    if (at + 7 > text.size() || text[at] != u'_' || text[at + 1] != u'x' || text[at + 6] != u'_')
        return false;
    for (qsizetype i = at + 2; i < at + 6; ++i)
        if (!isHex(text[i].unicode()))
            return false;
    return true;
}

bool XlsxText::isPlain(QStringView text)
{
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t u = text[i].unicode();
        if (u == u'_') {
            if (isLiteralEscape(text, i))
                return false;
        } else if (u < 0x20) {
            if (needsEscape(u))
                return false;
        } else if (u >= 0xD800) {
            if (u >= 0xFFFE)
                return false;
            if (QChar::isHighSurrogate(u)) {
                if (i + 1 >= n || !QChar::isLowSurrogate(text[i + 1].unicode()))
                    return false;
                ++i;
            } else if (QChar::isLowSurrogate(u)) {
                return false;
            }
        }
    }
    return true;
}

QByteArray XlsxText::forCell(QStringView text)
{
    if (isPlain(text))
        return text.toUtf8();

    // Characters (code points) of the escaped form, to compare with libxlsxwriter's limit.
    const qsizetype n = text.size();
    qsizetype characters = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t u = text[i].unicode();
        if (needsEscape(u))
            characters += 7;
        else if (u == u'_' && isLiteralEscape(text, i))
            characters += 7;  // "_x005F_" takes the underscore's place
        else if (QChar::isHighSurrogate(u) && i + 1 < n && QChar::isLowSurrogate(text[i + 1].unicode())) {
            ++characters;
            ++i;
        } else
            ++characters;
    }
    const bool escape = characters <= Worksheet::kMaxTextLength;

    QString out;
    out.reserve(escape ? characters + characters / 8 : n);
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t u = text[i].unicode();
        if (needsEscape(u)) {
            if (escape)
                appendEscape(out, u);
            else
                out += QChar(QChar::ReplacementCharacter);
        } else if (u == u'_' && escape && isLiteralEscape(text, i)) {
            out += QLatin1String("_x005F_");
        } else if (QChar::isHighSurrogate(u) && i + 1 < n && QChar::isLowSurrogate(text[i + 1].unicode())) {
            out += text[i];
            out += text[++i];
        } else if (QChar::isSurrogate(u)) {
            out += QChar(QChar::ReplacementCharacter);
        } else {
            out += text[i];
        }
    }
    return out.toUtf8();
}
