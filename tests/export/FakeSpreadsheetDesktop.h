#pragma once

#include "export/SpreadsheetDesktop.h"

#include <QStringList>

// A desktop whose spreadsheet support the test decides; records the files it is asked to open.
class FakeSpreadsheetDesktop : public SpreadsheetDesktop {
public:
    bool canOpenXlsx() override
    {
        ++availabilityQueries;
        return available;
    }
    bool open(const QString& path) override
    {
        opened.append(path);
        return openSucceeds;
    }

    bool available = true;
    bool openSucceeds = true;
    int availabilityQueries = 0;
    QStringList opened;
};
