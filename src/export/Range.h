#pragma once

#include <QString>

class Worksheet;

// One cell of a worksheet, as sheet.cells(row, column) gives it. Assigning a text to the
// range itself (its default member) and setting Value do the same thing.
class Range {
public:
    Range(Worksheet& sheet, int row, int column);

    Range& operator=(const QString& value);
    QString Value() const;
    void setValue(const QString& value);
    // Worksheet::setDateValue: a text in the general date form becomes a date cell.
    void setDateValue(const QString& value);

    int Row() const { return m_row; }
    int Column() const { return m_column; }

private:
    Worksheet* m_sheet;
    int m_row;
    int m_column;
};
