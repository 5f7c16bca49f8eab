#include "mail/ModifiedUtf7.h"

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+,";

bool isPrintableAscii(char16_t unit) { return unit >= 0x20 && unit <= 0x7e; }

int alphabetIndex(char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == ',')
        return 63;
    return -1;
}

void appendRun(QByteArray& out, const QString& run)
{
    QByteArray bytes;
    bytes.reserve(run.size() * 2);
    for (QChar c : run) {
        bytes.append(char(c.unicode() >> 8));
        bytes.append(char(c.unicode() & 0xff));
    }
    out.append('&');
    quint32 bits = 0;
    int bitCount = 0;
    for (char byte : bytes) {
        bits = (bits << 8) | quint8(byte);
        bitCount += 8;
        while (bitCount >= 6) {
            bitCount -= 6;
            out.append(kAlphabet[(bits >> bitCount) & 0x3f]);
        }
    }
    if (bitCount > 0)
        out.append(kAlphabet[(bits << (6 - bitCount)) & 0x3f]);
    out.append('-');
}

// Decodes the base64 run between "&" and "-"; false when it is not a valid run.
bool decodeRun(const QByteArray& run, QString& out)
{
    QByteArray bytes;
    quint32 bits = 0;
    int bitCount = 0;
    for (char c : run) {
        const int value = alphabetIndex(c);
        if (value < 0)
            return false;
        bits = (bits << 6) | quint32(value);
        bitCount += 6;
        if (bitCount >= 8) {
            bitCount -= 8;
            bytes.append(char((bits >> bitCount) & 0xff));
        }
    }
    // Leftover bits must be padding only: fewer than a whole base64 digit, and all zero.
    if (bitCount >= 6 || (bits & ((1u << bitCount) - 1)) != 0)
        return false;
    if (bytes.isEmpty() || bytes.size() % 2 != 0)
        return false;
    QString units;
    for (qsizetype i = 0; i < bytes.size(); i += 2) {
        const char16_t unit = char16_t((quint8(bytes[i]) << 8) | quint8(bytes[i + 1]));
        if (isPrintableAscii(unit))
            return false;  // printable ASCII must stand for itself
        units.append(QChar(unit));
    }
    // Surrogates must come in high-low pairs.
    for (qsizetype i = 0; i < units.size(); ++i) {
        if (units[i].isHighSurrogate()) {
            if (i + 1 >= units.size() || !units[i + 1].isLowSurrogate())
                return false;
            ++i;
        } else if (units[i].isLowSurrogate()) {
            return false;
        }
    }
    out.append(units);
    return true;
}

}  // namespace

QByteArray ModifiedUtf7::encode(const QString& name)
{
    QByteArray out;
    QString run;
    for (QChar c : name) {
        if (isPrintableAscii(c.unicode())) {
            if (!run.isEmpty()) {
                appendRun(out, run);
                run.clear();
            }
            if (c == u'&')
                out.append("&-");
            else
                out.append(char(c.unicode()));
        } else {
            run.append(c);
        }
    }
    if (!run.isEmpty())
        appendRun(out, run);
    return out;
}

std::optional<QString> ModifiedUtf7::decode(const QByteArray& encoded)
{
    QString out;
    for (qsizetype i = 0; i < encoded.size(); ++i) {
        const char c = encoded[i];
        if (!isPrintableAscii(quint8(c)))
            return std::nullopt;
        if (c != '&') {
            out.append(QLatin1Char(c));
            continue;
        }
        const qsizetype end = encoded.indexOf('-', i + 1);
        if (end < 0)
            return std::nullopt;
        if (end == i + 1) {
            out.append(u'&');
        } else if (!decodeRun(encoded.mid(i + 1, end - i - 1), out)) {
            return std::nullopt;
        }
        i = end;
    }
    return out;
}
