#include "export/Worksheet.h"

#include "export/Columns.h"
#include "export/DateNumberFormat.h"
#include "export/Range.h"
#include "frame/GeneralDate.h"
#include "frame/VbError.h"
#include "retrieval/PackedText.h"

#include <algorithm>

QString Worksheet::Cell::text() const
{
    return PackedText::unpack(packedText);
}

Range Worksheet::cells(int row, int column)
{
    checkAddress(row, column);
    return Range(*this, row, column);
}

Columns Worksheet::Columns() { return ::Columns(*this); }

void Worksheet::checkAddress(int row, int column)
{
    if (row < 1 || row > kRowCount || column < 1 || column > kColumnCount)
        throw VbError(1004,
                      QStringLiteral("Cell (%1, %2) lies outside the worksheet, which has %3 rows and %4 "
                                     "columns")
                          .arg(row)
                          .arg(column)
                          .arg(kRowCount)
                          .arg(kColumnCount));
}

QString Worksheet::address(int row, int column)
{
    QString letters;
    for (int c = column; c > 0; c = (c - 1) / 26)
        letters.prepend(QChar(u'A' + (c - 1) % 26));
    return letters + QString::number(row);
}

void Worksheet::setValue(int row, int column, const QString& value)
{
    checkAddress(row, column);
    const bool textPrefix = value.startsWith(QLatin1Char('\''));
    store(row, column, textPrefix ? value.mid(1) : value, textPrefix);
}

void Worksheet::setDateValue(int row, int column, const QString& value, const QLocale& locale)
{
    checkAddress(row, column);
    // Only a text the general date form gives back unchanged, of a year a spreadsheet's dates
    // reach: anything else stays text.
    const std::optional<QDateTime> date = GeneralDate::parse(value, locale);
    if (!date || GeneralDate::format(*date, locale) != value || date->date().year() < 1900
        || date->date().year() > 9999) {
        setValue(row, column, value);
        return;
    }
    const std::optional<QString> format
        = DateNumberFormat::forGeneralDate(date->time() != QTime(0, 0), locale);
    if (!format) {
        setValue(row, column, value);
        return;
    }
    const int index = numberFormatIndex(*format);
    Cell& cell = store(row, column, value, false);
    cell.numberFormat = index;
    cell.date = *date;
}

int Worksheet::numberFormatIndex(const QString& format)
{
    const auto at = std::find(m_numberFormats.begin(), m_numberFormats.end(), format);
    if (at != m_numberFormats.end())
        return int(at - m_numberFormats.begin()) + 1;
    m_numberFormats.push_back(format);
    return int(m_numberFormats.size());
}

Worksheet::Cell& Worksheet::store(int row, int column, QString text, bool textPrefix)
{
    if (text.size() > kMaxTextLength)
        throw VbError(1004,
                      QStringLiteral("Cell %1 cannot hold a text of %2 characters: a cell holds at most %3")
                          .arg(address(row, column))
                          .arg(text.size())
                          .arg(kMaxTextLength));

    // Characters as shown: a surrogate pair is one character.
    int shownLength = int(text.size());
    for (const QChar ch : std::as_const(text))
        if (ch.isLowSurrogate())
            --shownLength;
    Cell made{column,     PackedText::pack(text, PackedText::Uncompressed), shownLength, textPrefix, 0,
              QDateTime()};

    std::vector<Cell>& cells = m_rows[row];
    // Cells arrive in column order almost always: append without searching.
    if (cells.empty() || cells.back().column < column) {
        cells.push_back(std::move(made));
        ++m_cellCount;
        return cells.back();
    }
    auto at = std::lower_bound(cells.begin(), cells.end(), column,
                               [](const Cell& cell, int c) { return cell.column < c; });
    if (at != cells.end() && at->column == column) {
        *at = std::move(made);
        return *at;
    }
    ++m_cellCount;
    return *cells.insert(at, std::move(made));
}

const Worksheet::Cell* Worksheet::find(int row, int column) const
{
    const auto r = m_rows.find(row);
    if (r == m_rows.end())
        return nullptr;
    const auto at = std::lower_bound(r->second.begin(), r->second.end(), column,
                                     [](const Cell& cell, int c) { return cell.column < c; });
    return at != r->second.end() && at->column == column ? &*at : nullptr;
}

QString Worksheet::value(int row, int column) const
{
    checkAddress(row, column);
    const Cell* cell = find(row, column);
    return cell ? cell->text() : QString();
}

bool Worksheet::hasTextPrefix(int row, int column) const
{
    checkAddress(row, column);
    const Cell* cell = find(row, column);
    return cell && cell->textPrefix;
}

void Worksheet::autoFit()
{
    std::map<int, qsizetype> longest;
    for (const auto& [row, cells] : m_rows) {
        for (const Cell& cell : cells) {
            qsizetype& best = longest[cell.column];
            best = std::max(best, qsizetype(cell.shownLength));
        }
    }
    for (const auto& [column, length] : longest)
        if (length > 0)
            m_widths[column] = std::min(kMaxColumnWidth, double(length));
}
