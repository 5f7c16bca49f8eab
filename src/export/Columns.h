#pragma once

class Worksheet;

// All columns of a worksheet, as sheet.Columns gives them.
class Columns {
public:
    explicit Columns(Worksheet& sheet);

    // Fits every column's width to its longest text.
    void AutoFit();

private:
    Worksheet* m_sheet;
};
