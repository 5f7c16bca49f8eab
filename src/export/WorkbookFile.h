#pragma once

#include <QString>

// Names and creates the file a shown workbook is written to: a new file in the user's
// temporary folder, "Corvanel-<date>-<time>.xlsx", with "-2", "-3" ... added when that name
// is taken. The file is created empty and exclusively, so an existing file is never
// overwritten. Failing to create it raises error 75 naming the file.
class WorkbookFile {
public:
    static QString createUnique();
    static QString createUnique(const QString& folder, const QString& stem);
};
