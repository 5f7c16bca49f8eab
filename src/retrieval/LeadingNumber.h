#pragma once

#include <QString>

// Reads a number the way a leading-number parse does: leading blanks are skipped, the
// longest beginning that forms a number (sign, digits, decimal point, exponent) is taken,
// and a text that does not begin with a number reads as 0.
double leadingNumber(const QString& text);

// Rounds to a 32-bit whole number, an exact half to the even neighbour; overflow (6)
// outside the 32-bit range.
int roundToLong(double value);
