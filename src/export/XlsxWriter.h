#pragma once

#include <QString>

class Worksheet;

// Writes a worksheet as the only sheet of a .xlsx file with libxlsxwriter. Every cell is a
// text cell, except the date cells the sheet was given as such, which are written as
// date-time values with their number format: nothing else becomes a number, a date or a
// formula. A cell whose value was given with a leading apostrophe carries the text number
// format "@". Rows go out in order in
// libxlsxwriter's constant-memory mode, so the writer adds little to the memory the cells
// already take. Any failure raises error 75 naming the file; a file that could not be
// written completely is removed.
class XlsxWriter {
public:
    static void write(const Worksheet& sheet, const QString& path);
};
