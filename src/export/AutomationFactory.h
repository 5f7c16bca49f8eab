#pragma once

#include <QString>

#include <memory>

class ExcelApplication;
class SpreadsheetDesktop;

// Creates automation objects by their programmatic identifier. The one identifier known is
// "Excel.Application", and it can be created when the desktop can open .xlsx files;
// anything else raises error 429 "ActiveX component can't create object".
class AutomationFactory {
public:
    explicit AutomationFactory(SpreadsheetDesktop& desktop);
    virtual ~AutomationFactory() = default;

    virtual std::shared_ptr<ExcelApplication> CreateObject(const QString& progId);

    static const QString& excelProgId();

protected:
    SpreadsheetDesktop& desktop() { return m_desktop; }

private:
    SpreadsheetDesktop& m_desktop;
};
