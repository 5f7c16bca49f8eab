#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QLocale>
#include <QString>

#include <map>
#include <vector>

class Columns;
class Range;

// A worksheet of the export's spreadsheet. Cells are held in memory as text until the
// workbook is shown; rows and columns are 1-based and limited to the sheet size of a
// .xlsx file. Addressing a cell outside the sheet, or giving a cell more text than it can
// hold, raises error 1004 naming the cell. A cell given as a date holds, beside its text, the
// date-time value that text stands for and the number format that shows it that way.
class Worksheet {
public:
    static constexpr int kRowCount = 1048576;
    static constexpr int kColumnCount = 16384;
    static constexpr int kMaxTextLength = 32767;  // UTF-16 code units per cell
    static constexpr double kMaxColumnWidth = 255;

    // A cell's text is held as UTF-8 (PackedText, uncompressed: compressing would cost a sixth
    // of the export's time): an export of a large folder holds every checked message's body
    // here until the workbook is written, and UTF-8 holds mail text in about half the bytes.
    struct Cell {
        int column;
        QByteArray packedText;
        int shownLength;        // characters as shown: a surrogate pair is one
        bool textPrefix;        // the value was given with a leading apostrophe: always text
        int numberFormat = 0;   // 1-based into numberFormats(): a date cell; 0: a text cell
        QDateTime date;

        QString text() const;
    };
    using Rows = std::map<int, std::vector<Cell>>;  // row -> cells in column order

    Range cells(int row, int column);
    ::Columns Columns();

    // The value as assigned through a Range: a leading apostrophe is not stored but marks
    // the cell as text.
    void setValue(int row, int column, const QString& value);
    // As setValue, except that a text that reads back as the general date form of `locale`
    // (the form the message list shows dates in) makes the cell a date cell, displayed with
    // that same text.
    void setDateValue(int row, int column, const QString& value, const QLocale& locale = QLocale::system());
    QString value(int row, int column) const;
    bool hasTextPrefix(int row, int column) const;

    // Every column's width from its longest text, in characters, at most 255. Columns
    // without text keep the default width.
    void autoFit();

    const Rows& rows() const { return m_rows; }
    const std::map<int, double>& columnWidths() const { return m_widths; }
    qsizetype cellCount() const { return m_cellCount; }
    const std::vector<QString>& numberFormats() const { return m_numberFormats; }

    // "F2", "XFD1048576"
    static QString address(int row, int column);
    static void checkAddress(int row, int column);

private:
    const Cell* find(int row, int column) const;
    Cell& store(int row, int column, QString text, bool textPrefix);
    int numberFormatIndex(const QString& format);

    Rows m_rows;
    std::map<int, double> m_widths;
    qsizetype m_cellCount = 0;
    std::vector<QString> m_numberFormats;
};
