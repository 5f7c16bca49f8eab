#include "export/XlsxWriter.h"

#include "export/Worksheet.h"
#include "export/XlsxText.h"
#include "frame/VbError.h"

#include <QDir>
#include <QFile>

#include <xlsxwriter.h>

#include <vector>

namespace {

VbError writeError(const QString& path, const QString& reason)
{
    return VbError(75, QStringLiteral("Cannot write the workbook file \"%1\": %2")
                           .arg(QDir::toNativeSeparators(path), reason));
}

}  // namespace

void XlsxWriter::write(const Worksheet& sheet, const QString& path)
{
    const QByteArray fileName = QFile::encodeName(path);
    QByteArray tmpdir = QFile::encodeName(QDir::tempPath());
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    options.tmpdir = tmpdir.data();

    lxw_workbook* book = workbook_new_opt(fileName.constData(), &options);
    if (!book)
        throw writeError(path, QStringLiteral("the workbook could not be created"));
    lxw_worksheet* out = workbook_add_worksheet(book, nullptr);
    if (!out) {
        lxw_workbook_free(book);
        QFile::remove(path);
        throw writeError(path, QStringLiteral("no temporary file for the worksheet in \"%1\"")
                                   .arg(QDir::toNativeSeparators(QDir::tempPath())));
    }
    lxw_format* textFormat = workbook_add_format(book);
    format_set_num_format(textFormat, "@");
    std::vector<lxw_format*> dateFormats;
    for (const QString& numberFormat : sheet.numberFormats()) {
        dateFormats.push_back(workbook_add_format(book));
        format_set_num_format(dateFormats.back(), numberFormat.toUtf8().constData());
    }

    for (const auto& [column, width] : sheet.columnWidths())
        worksheet_set_column(out, lxw_col_t(column - 1), lxw_col_t(column - 1), width, nullptr);

    QString failure;
    for (const auto& [row, cells] : sheet.rows()) {
        for (const Worksheet::Cell& cell : cells) {
            lxw_error error;
            if (cell.numberFormat > 0) {
                const QDate day = cell.date.date();
                const QTime time = cell.date.time();
                lxw_datetime when{day.year(),  day.month(),   day.day(),
                                  time.hour(), time.minute(), time.second() + time.msec() / 1000.0};
                error = worksheet_write_datetime(out, lxw_row_t(row - 1), lxw_col_t(cell.column - 1), &when,
                                                 dateFormats[size_t(cell.numberFormat - 1)]);
            } else {
                const QByteArray text = XlsxText::forCell(cell.text());
                error = worksheet_write_string(out, lxw_row_t(row - 1), lxw_col_t(cell.column - 1),
                                               text.constData(), cell.textPrefix ? textFormat : nullptr);
            }
            if (error != LXW_NO_ERROR && failure.isEmpty())
                failure
                    = QStringLiteral("cell %1: %2")
                          .arg(Worksheet::address(row, cell.column), QString::fromUtf8(lxw_strerror(error)));
        }
    }

    const lxw_error closed = workbook_close(book);
    if (closed != LXW_NO_ERROR)
        failure = QString::fromUtf8(lxw_strerror(closed));
    if (!failure.isEmpty()) {
        QFile::remove(path);
        throw writeError(path, failure);
    }
}
