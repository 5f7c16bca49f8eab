#pragma once

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QString>

#include <map>
#include <utility>

// The first sheet of a .xlsx file as openpyxl reads it, through tests/export/read_xlsx.py
// run by Debian's /usr/bin/python3 (which sees python3-openpyxl).
class XlsxContents {
public:
    struct Cell {
        QString raw;   // as stored in the file
        QString text;   // with the file format's _xHHHH_ escapes decoded
        QString shown;  // a date cell: the text its number format displays; otherwise `text`
        bool isNull = true;
        QString dataType;
        QString numberFormat;
    };

    static XlsxContents read(const QString& path)
    {
        XlsxContents contents;
        QProcess reader;
        reader.start(QStringLiteral("/usr/bin/python3"),
                     {QStringLiteral(CORVANEL_SOURCE_DIR "/tests/export/read_xlsx.py"), path});
        if (!reader.waitForFinished(120000) || reader.exitStatus() != QProcess::NormalExit
            || reader.exitCode() != 0) {
            contents.error = QStringLiteral("reader failed on %1: %2")
                                 .arg(path, QString::fromUtf8(reader.readAllStandardError()));
            return contents;
        }
        QJsonParseError parseError;
        contents.json = reader.readAllStandardOutput();
        const QJsonDocument document = QJsonDocument::fromJson(contents.json, &parseError);
        if (parseError.error != QJsonParseError::NoError) {
            contents.error = parseError.errorString();
            return contents;
        }
        const QJsonObject root = document.object();
        contents.sheets = root.value(QStringLiteral("sheets")).toInt();
        contents.maxRow = root.value(QStringLiteral("max_row")).toInt();
        contents.maxColumn = root.value(QStringLiteral("max_column")).toInt();
        for (const QJsonValue value : root.value(QStringLiteral("cells")).toArray()) {
            const QJsonObject o = value.toObject();
            Cell cell;
            cell.isNull = o.value(QStringLiteral("raw")).isNull();
            cell.raw = o.value(QStringLiteral("raw")).toString();
            cell.text = o.value(QStringLiteral("text")).toString();
            cell.shown = o.value(QStringLiteral("shown")).toString();
            cell.dataType = o.value(QStringLiteral("data_type")).toString();
            cell.numberFormat = o.value(QStringLiteral("number_format")).toString();
            contents
                .cells[{o.value(QStringLiteral("row")).toInt(), o.value(QStringLiteral("column")).toInt()}]
                = cell;
        }
        const QJsonObject widths = root.value(QStringLiteral("widths")).toObject();
        for (auto it = widths.begin(); it != widths.end(); ++it)
            contents.widths[it.key()] = it.value().toDouble();
        contents.ok = true;
        return contents;
    }

    // The decoded text of a cell; empty for a cell with no value.
    QString text(int row, int column) const
    {
        const auto it = cells.find({row, column});
        return it == cells.end() ? QString() : it->second.text;
    }
    const Cell* cell(int row, int column) const
    {
        const auto it = cells.find({row, column});
        return it == cells.end() ? nullptr : &it->second;
    }
    // Cells of `row` that hold a value.
    int valuesInRow(int row) const
    {
        int n = 0;
        for (const auto& [at, c] : cells)
            if (at.first == row && !c.isNull)
                ++n;
        return n;
    }

    bool ok = false;
    QString error;
    int sheets = 0;
    int maxRow = 0;
    int maxColumn = 0;
    std::map<std::pair<int, int>, Cell> cells;
    std::map<QString, double> widths;  // by column letter

    // The reader's whole output: equal for two files whose sheets read back the same.
    QByteArray json;

    bool operator==(const XlsxContents& other) const { return ok && other.ok && json == other.json; }
};
