#include "export/Workbook.h"

#include "export/SpreadsheetDesktop.h"
#include "export/WorkbookFile.h"
#include "export/XlsxWriter.h"
#include "frame/VbError.h"

#include <QDir>

void Workbook::show(SpreadsheetDesktop& desktop)
{
    const QString path = WorkbookFile::createUnique();
    XlsxWriter::write(m_sheet, path);
    m_fullName = path;
    // The file is left in place: the spreadsheet program keeps it open, and the user saves
    // the workbook elsewhere if it is to be kept.
    if (!desktop.open(path))
        throw VbError(75,
                      QStringLiteral("Cannot open the workbook file \"%1\" with the desktop's spreadsheet "
                                     "program")
                          .arg(QDir::toNativeSeparators(path)));
}
