#pragma once

#include <QString>

// What the desktop offers the export: whether some program can open .xlsx files, and
// opening a file with the desktop's default program for it. The export's stand-in for
// Excel asks only these two questions.
class SpreadsheetDesktop {
public:
    virtual ~SpreadsheetDesktop() = default;

    // True when a program is registered for (or installed that opens) .xlsx files.
    virtual bool canOpenXlsx() = 0;
    // Opens `path` with the default program; false when the desktop refused.
    virtual bool open(const QString& path) = 0;
};
