// The range dialog's number reading: leadingNumber on any text, roundToLong on what it gives
// and on any double at all.
#include "FuzzCheck.h"

#include "frame/VbError.h"
#include "retrieval/LeadingNumber.h"

#include <QString>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

bool isDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// The same reading done independently: the number's characters picked out by hand and converted
// by the C library, whose strtod gives the signed infinity on overflow and zero (or the nearest
// subnormal) on underflow.
double referenceNumber(const QString& text)
{
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && (text[i] == QLatin1Char(' ') || text[i] == QLatin1Char('\t')))
        ++i;
    std::string number;
    if (i < n && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-')))
        number += char(text[i++].unicode());
    bool anyDigit = false;
    while (i < n && isDigit(text[i])) {
        number += char(text[i++].unicode());
        anyDigit = true;
    }
    if (i < n && text[i] == QLatin1Char('.')) {
        number += '.';
        ++i;
        while (i < n && isDigit(text[i])) {
            number += char(text[i++].unicode());
            anyDigit = true;
        }
    }
    if (!anyDigit)
        return 0.0;
    if (i < n && QStringLiteral("eEdD").contains(text[i])) {
        std::string exponent = "e";
        qsizetype j = i + 1;
        if (j < n && (text[j] == QLatin1Char('+') || text[j] == QLatin1Char('-')))
            exponent += char(text[j++].unicode());
        if (j < n && isDigit(text[j])) {
            while (j < n && isDigit(text[j]))
                exponent += char(text[j++].unicode());
            number += exponent;
        }
    }
    return std::strtod(number.c_str(), nullptr);
}

void checkRounding(double value)
{
    try {
        const int rounded = roundToLong(value);
        FUZZ_CHECK(std::isfinite(value));
        FUZZ_CHECK(std::fabs(double(rounded) - value) <= 0.5);
        // An exact half goes to the even neighbour.
        if (std::fabs(double(rounded) - value) == 0.5)
            FUZZ_CHECK(rounded % 2 == 0);
    } catch (const VbError& error) {
        FUZZ_CHECK(error.number() == 6);
        // Only what lies outside the 32-bit range (after rounding) overflows.
        FUZZ_CHECK(!(std::nearbyint(value) >= -2147483648.0 && std::nearbyint(value) <= 2147483647.0));
    }
}

void checkText(const QString& text, const QByteArray& tail)
{
    const double value = leadingNumber(text);
    FUZZ_CHECK(!std::isnan(value));
    const double expected = referenceNumber(text);
    FUZZ_CHECK(value == expected);
    checkRounding(value);

    // Whatever follows a character that cannot continue a number is never read. (Blanks count
    // as such a character only once something else has come: leading blanks are skipped.)
    const bool onlyBlanks = std::all_of(
        text.begin(), text.end(), [](QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); });
    for (const char* stop : {"x", " ", ",", "\t", "#"}) {
        if (onlyBlanks && (stop[0] == ' ' || stop[0] == '\t'))
            continue;
        const QString longer = text + QLatin1String(stop) + QString::fromLatin1(tail);
        FUZZ_CHECK(leadingNumber(longer) == value);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    // The text as typed (UTF-8), and split at the first newline into a number and a tail.
    const qsizetype newline = bytes.indexOf('\n');
    const QByteArray head = newline < 0 ? bytes : bytes.left(newline);
    const QByteArray tail = newline < 0 ? QByteArray() : bytes.mid(newline + 1);
    checkText(QString::fromUtf8(head), tail);
    checkText(QString::fromLatin1(bytes), QByteArray("1e5"));

    // Any double at all, NaN and the infinities included.
    if (size >= sizeof(double)) {
        double raw;
        std::memcpy(&raw, data, sizeof raw);
        checkRounding(raw);
    }
    return 0;
}
