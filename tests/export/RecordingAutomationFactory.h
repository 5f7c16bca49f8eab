#pragma once

#include "export/AutomationFactory.h"
#include "export/ExcelApplication.h"
#include "export/Workbook.h"
#include "frame/VbError.h"

#include <memory>
#include <vector>

// The real factory, keeping every application object it creates so that a test can look
// into the workbooks; it can also be told to give no object, or to fail after some
// creations.
class RecordingAutomationFactory : public AutomationFactory {
public:
    using AutomationFactory::AutomationFactory;

    std::shared_ptr<ExcelApplication> CreateObject(const QString& progId) override
    {
        ++calls;
        if (failFromCall > 0 && calls >= failFromCall)
            throw VbError(429, QStringLiteral("ActiveX component can't create object"));
        if (giveNoObject)
            return nullptr;
        std::shared_ptr<ExcelApplication> app = AutomationFactory::CreateObject(progId);
        created.push_back(app);
        return app;
    }

    // The worksheet of the last application's first workbook, or null.
    Worksheet* lastSheet() const
    {
        if (created.empty() || created.back()->Workbooks().Count() == 0)
            return nullptr;
        return &created.back()->Workbooks().Item(1)->ActiveSheet();
    }

    int calls = 0;
    int failFromCall = 0;  // 0: never
    bool giveNoObject = false;
    std::vector<std::shared_ptr<ExcelApplication>> created;
};
