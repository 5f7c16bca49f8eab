#pragma once

#include "export/SpreadsheetDesktop.h"

#include <QStringList>

// The real desktop. On Windows .xlsx must have an associated program; elsewhere a program
// must be registered for the xlsx MIME type (xdg-mime) or a known spreadsheet program must
// be on PATH. Files are opened through QDesktopServices.
class SystemSpreadsheetDesktop : public SpreadsheetDesktop {
public:
    bool canOpenXlsx() override;
    bool open(const QString& path) override;

    static const QString& xlsxMimeType();
    // Spreadsheet programs that open .xlsx when found on PATH.
    static const QStringList& knownPrograms();
    // The desktop entry xdg-mime names as the default for .xlsx; empty when none or when
    // xdg-mime is missing.
    static QString xdgDefaultApplication();
};
