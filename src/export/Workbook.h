#pragma once

#include "export/Worksheet.h"

#include <QString>

class SpreadsheetDesktop;

// A workbook with one worksheet, held in memory until it is shown.
class Workbook {
public:
    Worksheet& ActiveSheet() { return m_sheet; }

    // The file the workbook was last shown from; empty until then.
    const QString& FullName() const { return m_fullName; }
    bool isShown() const { return !m_fullName.isEmpty(); }

    // Writes the workbook to a new file in the temporary folder and opens that file with
    // the desktop's spreadsheet program. Raises error 75 naming the file when either fails.
    void show(SpreadsheetDesktop& desktop);

private:
    Worksheet m_sheet;
    QString m_fullName;
};
