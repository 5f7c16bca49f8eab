#include "export/AutomationFactory.h"

#include "export/ExcelApplication.h"
#include "export/SpreadsheetDesktop.h"
#include "frame/VbError.h"

AutomationFactory::AutomationFactory(SpreadsheetDesktop& desktop)
    : m_desktop(desktop)
{
}

const QString& AutomationFactory::excelProgId()
{
    static const QString id = QStringLiteral("Excel.Application");
    return id;
}

std::shared_ptr<ExcelApplication> AutomationFactory::CreateObject(const QString& progId)
{
    // Programmatic identifiers are not case-sensitive.
    if (progId.compare(excelProgId(), Qt::CaseInsensitive) != 0 || !m_desktop.canOpenXlsx())
        throw VbError(429, QStringLiteral("ActiveX component can't create object"));
    return std::make_shared<ExcelApplication>(m_desktop);
}
