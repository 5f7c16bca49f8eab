#include "export/Columns.h"

#include "export/Worksheet.h"

Columns::Columns(Worksheet& sheet)
    : m_sheet(&sheet)
{
}

void Columns::AutoFit() { m_sheet->autoFit(); }
