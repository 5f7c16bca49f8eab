#pragma once

#include <QByteArray>
#include <QStringView>

// Turns a cell's text into the UTF-8 that goes into the .xlsx file. Mail text may carry
// characters that XML 1.0 cannot hold (most C0 controls such as NUL, form feed and escape,
// and U+FFFE/U+FFFF) or that are no characters at all (lone surrogates).
//
// - C0 controls other than tab, line feed and carriage return, and U+FFFE/U+FFFF, are
//   escaped as _xHHHH_, the form spreadsheet files use for them; a spreadsheet program
//   shows the original character again. (Carriage returns are left to libxlsxwriter, which
//   writes them as _x000D_ itself.)
// - An underscore that starts a literal "_xHHHH_" in the text is escaped as _x005F_, so that
//   the text is not read back as an escape.
// - A lone surrogate is replaced by U+FFFD (the replacement character).
//
// Escaping makes the text longer. libxlsxwriter refuses more than 32,767 characters in the
// text it is given, so when the escaped form would pass that limit, the characters that
// need escaping are replaced by U+FFFD instead and literal "_xHHHH_" is left alone: the
// cell keeps its length and the file stays valid.
class XlsxText {
public:
    static QByteArray forCell(QStringView text);

    // Needs neither escaping nor replacing.
    static bool isPlain(QStringView text);
    static bool isLiteralEscape(QStringView text, qsizetype at);  // "_xHHHH_" starts at `at`
};
