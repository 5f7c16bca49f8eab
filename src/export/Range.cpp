#include "export/Range.h"

#include "export/Worksheet.h"

Range::Range(Worksheet& sheet, int row, int column)
    : m_sheet(&sheet)
    , m_row(row)
    , m_column(column)
{
}

Range& Range::operator=(const QString& value)
{
    setValue(value);
    return *this;
}

QString Range::Value() const { return m_sheet->value(m_row, m_column); }

void Range::setValue(const QString& value) { m_sheet->setValue(m_row, m_column, value); }

void Range::setDateValue(const QString& value) { m_sheet->setDateValue(m_row, m_column, value); }
