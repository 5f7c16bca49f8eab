#include "export/ExcelApplication.h"

#include "export/Workbook.h"
#include "frame/VbError.h"

#include <optional>

ExcelApplication::ExcelApplication(SpreadsheetDesktop& desktop)
    : m_desktop(desktop)
{
}

void ExcelApplication::setVisible(bool visible)
{
    m_visible = visible;
    if (!visible)
        return;
    std::optional<VbError> failure;
    for (int i = 1; i <= m_workbooks.Count(); ++i) {
        const std::shared_ptr<Workbook> book = m_workbooks.Item(i);
        if (book->isShown())
            continue;
        try {
            book->show(m_desktop);
        } catch (const VbError& error) {
            if (!failure)
                failure = error;
        }
    }
    if (failure)
        throw *failure;
}
