#pragma once

#include "export/Workbooks.h"

class SpreadsheetDesktop;

// The export's spreadsheet application object. It answers the calls the export makes of
// "Excel.Application": Workbooks.add, and Visible, which shows every workbook not shown
// yet by writing it to a new .xlsx file and opening that with the desktop's spreadsheet
// program. Nothing is ever saved over, closed or quit.
class ExcelApplication {
public:
    explicit ExcelApplication(SpreadsheetDesktop& desktop);

    ::Workbooks& Workbooks() { return m_workbooks; }

    bool Visible() const { return m_visible; }
    // Raises error 75 naming the file when a workbook cannot be written or opened; the
    // other workbooks are still shown.
    void setVisible(bool visible);

private:
    SpreadsheetDesktop& m_desktop;
    ::Workbooks m_workbooks;
    bool m_visible = false;
};
