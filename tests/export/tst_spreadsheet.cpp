// The export's spreadsheet object model and the .xlsx files it writes, read back with openpyxl.

#include "FakeSpreadsheetDesktop.h"
#include "XlsxContents.h"
#include "export/AutomationFactory.h"
#include "export/Columns.h"
#include "export/DateNumberFormat.h"
#include "export/ExcelApplication.h"
#include "export/Range.h"
#include "export/SystemSpreadsheetDesktop.h"
#include "export/Workbook.h"
#include "export/WorkbookFile.h"
#include "export/Worksheet.h"
#include "frame/VbError.h"
#include "frame/GeneralDate.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QtTest>

#include <optional>

namespace {

// Points the user's temporary folder somewhere else for one test.
class TempFolderOverride {
public:
    explicit TempFolderOverride(const QString& path)
        : m_saved(qgetenv("TMPDIR"))
    {
        qputenv("TMPDIR", QFile::encodeName(path));
    }
    ~TempFolderOverride() { qputenv("TMPDIR", m_saved); }

private:
    QByteArray m_saved;
};

QString repeated(QChar ch, qsizetype n) { return QString(n, ch); }

}  // namespace

class TestSpreadsheet : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_temp;
    FakeSpreadsheetDesktop m_desktop;
    std::optional<TempFolderOverride> m_tempFolder;

    // Creates an application, lets `fill` write into its sheet, shows it and reads the file.
    template <class Fill> XlsxContents exportSheet(Fill&& fill)
    {
        AutomationFactory factory(m_desktop);
        const std::shared_ptr<ExcelApplication> app
            = factory.CreateObject(QStringLiteral("Excel.Application"));
        const std::shared_ptr<Workbook> book = app->Workbooks().add();
        fill(book->ActiveSheet());
        app->setVisible(true);
        return XlsxContents::read(book->FullName());
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_temp.isValid());
        m_tempFolder.emplace(m_temp.path());
    }

    void creationFollowsTheDesktop()
    {
        FakeSpreadsheetDesktop desktop;
        AutomationFactory factory(desktop);
        QVERIFY(factory.CreateObject(QStringLiteral("Excel.Application")));
        QVERIFY(factory.CreateObject(QStringLiteral("excel.application")));

        desktop.available = false;
        try {
            factory.CreateObject(QStringLiteral("Excel.Application"));
            QFAIL("created without a program for .xlsx");
        } catch (const VbError& error) {
            QCOMPARE(error.number(), 429);
            QCOMPARE(error.description(), QStringLiteral("ActiveX component can't create object"));
        }
        desktop.available = true;
        QVERIFY_THROWS_EXCEPTION(VbError, factory.CreateObject(QStringLiteral("Word.Application")));
        QVERIFY(desktop.opened.isEmpty());
    }

    void cellsHoldTextInMemory()
    {
        Worksheet sheet;
        sheet.cells(2, 3) = QStringLiteral("header");
        QCOMPARE(sheet.cells(2, 3).Value(), QStringLiteral("header"));
        sheet.cells(2, 3).setValue(QStringLiteral("replaced"));
        sheet.cells(2, 1).setValue(QStringLiteral("first"));  // before an existing cell of the row
        sheet.cells(1, 5).setValue(QString());
        QCOMPARE(sheet.cells(2, 3).Value(), QStringLiteral("replaced"));
        QCOMPARE(sheet.cells(2, 1).Value(), QStringLiteral("first"));
        QCOMPARE(sheet.cells(9, 9).Value(), QString());
        QCOMPARE(sheet.cellCount(), qsizetype(3));

        sheet.cells(3, 1).setValue(QStringLiteral("'=quoted"));
        QCOMPARE(sheet.cells(3, 1).Value(), QStringLiteral("=quoted"));
        QVERIFY(sheet.hasTextPrefix(3, 1));
        QVERIFY(!sheet.hasTextPrefix(2, 1));

        // Cells hold their text as UTF-8, except where a surrogate stands alone: every text comes
        // back as given.
        const QString odd = QStringLiteral("nul[") + QChar(0) + QStringLiteral("] \U0001F600 Grüße 東京 ");
        const QString lone = odd + QChar(0xDC00) + QStringLiteral(" end") + QChar(0xD83D);
        const QString longest = QString(32767 - odd.size(), QLatin1Char('x')) + odd;
        sheet.cells(4, 1).setValue(odd);
        sheet.cells(4, 2).setValue(lone);
        sheet.cells(4, 3).setValue(longest);
        QCOMPARE(sheet.cells(4, 1).Value(), odd);
        QCOMPARE(sheet.cells(4, 2).Value(), lone);
        QCOMPARE(sheet.cells(4, 3).Value(), longest);
    }

    void addressesStayInsideTheSheet()
    {
        Worksheet sheet;
        sheet.cells(Worksheet::kRowCount, Worksheet::kColumnCount).setValue(QStringLiteral("corner"));
        QCOMPARE(Worksheet::address(Worksheet::kRowCount, Worksheet::kColumnCount),
                 QStringLiteral("XFD1048576"));
        QCOMPARE(Worksheet::address(2, 6), QStringLiteral("F2"));
        QCOMPARE(Worksheet::address(1, 27), QStringLiteral("AA1"));
        for (const auto& [row, column] : {std::pair{0, 1}, {1, 0}, {1, 16385}, {1048577, 1}}) {
            try {
                sheet.cells(row, column);
                QFAIL(qPrintable(QStringLiteral("cell (%1, %2) accepted").arg(row).arg(column)));
            } catch (const VbError& error) {
                QCOMPARE(error.number(), 1004);
                QVERIFY(error.description().contains(QString::number(column)));
            }
        }
    }

    void aCellHoldsAtMost32767Characters()
    {
        Worksheet sheet;
        sheet.cells(2, 2).setValue(QStringLiteral("before"));
        try {
            sheet.cells(2, 2).setValue(repeated(u'x', 32768));
            QFAIL("32,768 characters accepted");
        } catch (const VbError& error) {
            QCOMPARE(error.number(), 1004);
            QVERIFY2(error.description().contains(QStringLiteral("B2")), qPrintable(error.description()));
            QVERIFY(error.description().contains(QStringLiteral("32768")));
        }
        QCOMPARE(sheet.cells(2, 2).Value(), QStringLiteral("before"));

        // Counted in UTF-16 code units: 16,384 characters outside the BMP are 32,768 units.
        QString wide;
        for (int i = 0; i < 16384; ++i)
            wide += QStringLiteral("\U0001F600");
        QVERIFY_THROWS_EXCEPTION(VbError, sheet.cells(3, 1).setValue(wide));

        // The leading apostrophe is not part of the value.
        const XlsxContents file = exportSheet([](Worksheet& s) {
            s.cells(1, 1).setValue(repeated(u'a', 32767));
            s.cells(1, 2).setValue(QLatin1Char('\'') + repeated(u'b', 32767));
        });
        QVERIFY2(file.ok, qPrintable(file.error));
        QCOMPARE(file.text(1, 1), repeated(u'a', 32767));
        QCOMPARE(file.text(1, 2), repeated(u'b', 32767));
        QCOMPARE(file.cell(1, 2)->numberFormat, QStringLiteral("@"));
    }

    void everyCellIsWrittenAsText()
    {
        const QStringList values
            = {QStringLiteral("123"),  QStringLiteral("2026-12-07"), QStringLiteral("=SUM(A1)"),
               QStringLiteral("TRUE"), QStringLiteral("1E5"),        QStringLiteral("  12:30  "),
               QStringLiteral("#N/A"), QStringLiteral("-0.5%")};
        const XlsxContents file = exportSheet([&](Worksheet& sheet) {
            for (int c = 1; c <= values.size(); ++c)
                sheet.cells(1, c).setValue(values[c - 1]);
            sheet.cells(2, 1).setValue(QStringLiteral("'=quoted"));
            sheet.cells(2, 2).setValue(QStringLiteral("'0042"));
            sheet.cells(2, 3).setValue(QStringLiteral("'"));
            sheet.cells(2, 4).setValue(QStringLiteral("it's"));
        });
        QVERIFY2(file.ok, qPrintable(file.error));
        QCOMPARE(file.sheets, 1);
        for (int c = 1; c <= values.size(); ++c) {
            const XlsxContents::Cell* cell = file.cell(1, c);
            QVERIFY(cell);
            QCOMPARE(cell->raw, values[c - 1]);
            QCOMPARE(cell->dataType, QStringLiteral("s"));
            QCOMPARE(cell->numberFormat, QStringLiteral("General"));
        }
        QCOMPARE(file.cell(2, 1)->raw, QStringLiteral("=quoted"));
        QCOMPARE(file.cell(2, 1)->dataType, QStringLiteral("s"));
        QCOMPARE(file.cell(2, 1)->numberFormat, QStringLiteral("@"));
        QCOMPARE(file.cell(2, 2)->raw, QStringLiteral("0042"));
        QCOMPARE(file.cell(2, 2)->numberFormat, QStringLiteral("@"));
        QVERIFY(file.cell(2, 3)->isNull);  // an apostrophe alone: empty text cell
        QCOMPARE(file.cell(2, 3)->numberFormat, QStringLiteral("@"));
        QCOMPARE(file.cell(2, 4)->raw, QStringLiteral("it's"));
        QCOMPARE(file.cell(2, 4)->numberFormat, QStringLiteral("General"));
    }

    void numberFormatsShowTheGeneralDateText_data()
    {
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<QString>("dateTime");  // empty: no number format shows the same text
        QTest::addColumn<QString>("dateOnly");
        QTest::newRow("C") << QLocale::c() << "d mmm yyyy hh:mm:ss"
                           << "d mmm yyyy";
        QTest::newRow("en_US") << QLocale(QLocale::English, QLocale::UnitedStates) << "m/d/yyyy h:mm:ss AM/PM"
                               << "m/d/yyyy";
        QTest::newRow("en_GB") << QLocale(QLocale::English, QLocale::UnitedKingdom) << "dd/mm/yyyy hh:mm:ss"
                               << "dd/mm/yyyy";
        QTest::newRow("de_DE") << QLocale(QLocale::German, QLocale::Germany) << "dd.mm.yyyy hh:mm:ss"
                               << "dd.mm.yyyy";
        // Literal words between the fields; minutes still follow the hour.
        QTest::newRow("fr_CA") << QLocale(QLocale::French, QLocale::Canada)
                               << "yyyy-mm-dd hh\" h \"mm\" min \"ss\" s\""
                               << "yyyy-mm-dd";
        QTest::newRow("ja_JP") << QLocale(QLocale::Japanese, QLocale::Japan)
                               << "yyyy/mm/dd h\"時\"mm\"分\"ss\"秒\""
                               << "yyyy/mm/dd";
    }

    void numberFormatsShowTheGeneralDateText()
    {
        QFETCH(QLocale, locale);
        QFETCH(QString, dateTime);
        QFETCH(QString, dateOnly);
        QCOMPARE(DateNumberFormat::forGeneralDate(true, locale).value_or(QString()), dateTime);
        QCOMPARE(DateNumberFormat::forGeneralDate(false, locale).value_or(QString()), dateOnly);
    }

    void patternsANumberFormatCannotCarry()
    {
        const QLocale c = QLocale::c();
        QVERIFY(!DateNumberFormat::fromPattern(u"HH:mm:ss.zzz", c));  // fractions of a second
        QVERIFY(!DateNumberFormat::fromPattern(u"h:mm ap", c));  // a small-letter marker
        QVERIFY(!DateNumberFormat::fromPattern(u"HH:mm AP", c));  // 24 hours beside a marker
        QVERIFY(!DateNumberFormat::fromPattern(u"mm/dd", c));  // minutes that read as a month
        QVERIFY(!DateNumberFormat::fromPattern(u"HH:MM", c));  // a month that reads as minutes
        QVERIFY(!DateNumberFormat::fromPattern(u"h:mm AP", QLocale(QLocale::Japanese, QLocale::Japan)));
        // Month and day names of another language than the spreadsheet's English ones.
        const QLocale french(QLocale::French, QLocale::France);
        QVERIFY(!DateNumberFormat::fromPattern(u"d MMM yyyy", french));
        QVERIFY(!DateNumberFormat::fromPattern(u"dddd d", french));
        QCOMPARE(DateNumberFormat::fromPattern(u"dd/MM/yyyy", french), QStringLiteral("dd/mm/yyyy"));
        QCOMPARE(DateNumberFormat::fromPattern(u"d 'de' MMMM 'o''clock'", c),
                 QStringLiteral("d\" de \"mmmm\" o'clock\""));
        QCOMPARE(DateNumberFormat::fromPattern(u"d '\"' M", c), QStringLiteral("d\\ \\\"\\ m"));
    }

    void datesInTheGeneralFormBecomeDateCells_data()
    {
        QTest::addColumn<QLocale>("locale");
        QTest::newRow("C") << QLocale::c();
        QTest::newRow("en_US") << QLocale(QLocale::English, QLocale::UnitedStates);
        QTest::newRow("de_DE") << QLocale(QLocale::German, QLocale::Germany);
        QTest::newRow("fr_CA") << QLocale(QLocale::French, QLocale::Canada);
        QTest::newRow("ja_JP") << QLocale(QLocale::Japanese, QLocale::Japan);
    }

    void datesInTheGeneralFormBecomeDateCells()
    {
        QFETCH(QLocale, locale);
        const QDateTime evening(QDate(2021, 3, 1), QTime(22, 13, 50));
        const QDateTime morning(QDate(2026, 12, 7), QTime(9, 5, 7));
        const QDateTime midnight(QDate(1999, 1, 31), QTime(0, 0));
        const QStringList texts = {GeneralDate::format(evening, locale), GeneralDate::format(morning, locale),
                                   GeneralDate::format(midnight, locale)};
        const XlsxContents file = exportSheet([&](Worksheet& sheet) {
            for (int c = 1; c <= texts.size(); ++c)
                sheet.setDateValue(1, c, texts[c - 1], locale);
            // Not the general form, or not as the form writes it: text as given.
            sheet.setDateValue(2, 1, QStringLiteral("1/2"), locale);
            sheet.setDateValue(2, 2, QStringLiteral("yesterday"), locale);
            sheet.setDateValue(2, 3, texts[0] + QLatin1Char(' '), locale);
            sheet.setDateValue(2, 4, QString(), locale);
            sheet.setDateValue(2, 5, GeneralDate::format(QDateTime(QDate(1850, 5, 1), QTime(10, 0)), locale),
                               locale);
            sheet.setDateValue(2, 6, QStringLiteral("'") + texts[0], locale);
            QCOMPARE(sheet.cells(1, 1).Value(), texts[0]);
            sheet.Columns().AutoFit();
        });
        QVERIFY2(file.ok, qPrintable(file.error));
        const QDateTime values[] = {evening, morning, midnight};
        for (int c = 1; c <= 3; ++c) {
            const XlsxContents::Cell* cell = file.cell(1, c);
            QVERIFY(cell);
            QCOMPARE(cell->dataType, QStringLiteral("d"));
            QCOMPARE(QDateTime::fromString(cell->raw, Qt::ISODate), values[c - 1]);
            QCOMPARE(cell->shown, texts[c - 1]);
        }
        QVERIFY(file.cell(1, 3)->numberFormat != file.cell(1, 1)->numberFormat);  // the date alone
        QCOMPARE(file.cell(1, 1)->numberFormat, file.cell(1, 2)->numberFormat);
        for (int c = 1; c <= 6; ++c) {
            const XlsxContents::Cell* cell = file.cell(2, c);
            QVERIFY(!cell || cell->isNull || cell->dataType == QLatin1String("s"));
        }
        QCOMPARE(file.text(2, 1), QStringLiteral("1/2"));
        QCOMPARE(file.text(2, 3), texts[0] + QLatin1Char(' '));
        QCOMPARE(file.text(2, 6), texts[0]);
        QCOMPARE(file.cell(2, 6)->numberFormat, QStringLiteral("@"));
        // The column is fitted to the text the date shows.
        QVERIFY(file.widths.count(QStringLiteral("A")));
    }

    void charactersXmlCannotCarryKeepTheFileValid()
    {
        const QString controls = QStringLiteral("nul[") + QChar(0) + QStringLiteral("] soh[") + QChar(1)
                                 + QStringLiteral("] ff[\f] esc[\x1b] tab[\t] lf[\n] cr[\r] us[")
                                 + QChar(0x1F) + QStringLiteral("]");
        const QString nonCharacters = QStringLiteral("fffe[") + QChar(0xFFFE) + QStringLiteral("] ffff[")
                                      + QChar(0xFFFF) + QStringLiteral("]");
        const QString loneSurrogates = QStringLiteral("high[") + QChar(0xD83D) + QStringLiteral("] low[")
                                       + QChar(0xDE00) + QStringLiteral("] end") + QChar(0xD800);
        const QString literal = QStringLiteral("literal _x0041_ and _x005F_ and _xZZ12_ and _x12");

        const XlsxContents file = exportSheet([&](Worksheet& sheet) {
            sheet.cells(1, 1).setValue(controls);
            sheet.cells(1, 2).setValue(nonCharacters);
            sheet.cells(1, 3).setValue(loneSurrogates);
            sheet.cells(1, 4).setValue(literal);
            sheet.cells(1, 5).setValue(QStringLiteral("'") + controls);
        });
        QVERIFY2(file.ok, qPrintable(file.error));
        // Escaped as _xHHHH_: a spreadsheet program shows the original characters.
        QCOMPARE(file.text(1, 1), controls);
        QVERIFY(file.cell(1, 1)->raw.contains(QStringLiteral("nul[_x0000_]")));
        QVERIFY(file.cell(1, 1)->raw.contains(QStringLiteral("esc[_x001B_]")));
        QCOMPARE(file.text(1, 2), nonCharacters);
        // Lone surrogates are no characters: they become the replacement character.
        const QString replaced = QStringLiteral("high[\uFFFD] low[\uFFFD] end\uFFFD");
        QCOMPARE(file.text(1, 3), replaced);
        // A literal escape sequence reads back as itself, not as the character it names.
        QCOMPARE(file.text(1, 4), literal);
        QCOMPARE(file.text(1, 5), controls);
        QCOMPARE(file.cell(1, 5)->numberFormat, QStringLiteral("@"));
    }

    void escapingNeverPushesACellPastItsLimit()
    {
        // 32,767 characters of which many must be escaped: the escaped form would be too long,
        // so these characters are replaced instead and the cell keeps its length.
        QString text = repeated(u'a', 32767);
        for (int i = 0; i < 32767; i += 100)
            text[i] = QChar(0x0C);
        const XlsxContents file = exportSheet([&](Worksheet& sheet) { sheet.cells(1, 1).setValue(text); });
        QVERIFY2(file.ok, qPrintable(file.error));
        QString expected = text;
        expected.replace(QChar(0x0C), QChar(0xFFFD));
        QCOMPARE(file.text(1, 1), expected);
    }

    void autoFitUsesTheLongestTextUpTo255()
    {
        const XlsxContents file = exportSheet([](Worksheet& sheet) {
            sheet.cells(1, 1).setValue(QStringLiteral("short"));
            sheet.cells(2, 1).setValue(QStringLiteral("a longer text"));
            sheet.cells(1, 2).setValue(repeated(u'x', 300));
            sheet.cells(1, 3).setValue(QStringLiteral("\U0001F600\U0001F600\U0001F600"));  // three characters
            sheet.cells(1, 4).setValue(QString());                                         // nothing to fit
            sheet.Columns().AutoFit();
        });
        QVERIFY2(file.ok, qPrintable(file.error));
        QCOMPARE(file.widths.size(), size_t(3));
        // openpyxl reports the stored width, which libxlsxwriter pads by a fixed amount.
        const double padding = file.widths.at(QStringLiteral("A")) - 13;
        QVERIFY(padding >= 0 && padding < 1);
        QCOMPARE(file.widths.at(QStringLiteral("B")), 255 + padding);
        QCOMPARE(file.widths.at(QStringLiteral("C")), 3 + padding);
    }

    void aNewFileNeverReplacesAnExistingOne()
    {
        QTemporaryDir folder;
        const QString taken = folder.filePath(QStringLiteral("Export.xlsx"));
        {
            QFile file(taken);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("keep me");
        }
        const QString second = WorkbookFile::createUnique(folder.path(), QStringLiteral("Export"));
        QCOMPARE(second, folder.filePath(QStringLiteral("Export-2.xlsx")));
        QCOMPARE(WorkbookFile::createUnique(folder.path(), QStringLiteral("Export")),
                 folder.filePath(QStringLiteral("Export-3.xlsx")));
        QFile kept(taken);
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), QByteArray("keep me"));
    }

#ifdef Q_OS_LINUX
    void theRealDesktopLooksForASpreadsheetProgram()
    {
        const QByteArray savedPath = qgetenv("PATH");
        const auto restore = qScopeGuard([&] { qputenv("PATH", savedPath); });
        QTemporaryDir bin;
        const auto script = [&](const QString& name, const QByteArray& body) {
            QFile file(bin.filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write("#!/bin/sh\n" + body);
            file.close();
            file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        };
        qputenv("PATH", QFile::encodeName(bin.path()));
        SystemSpreadsheetDesktop desktop;
        QVERIFY(!desktop.canOpenXlsx());

        // xdg-mime names no default program.
        script(QStringLiteral("xdg-mime"), "exit 0\n");
        QVERIFY(!desktop.canOpenXlsx());

        // xdg-mime names one for exactly the xlsx type.
        script(
            QStringLiteral("xdg-mime"),
            "[ \"$1 $2 $3\" = \"query default "
            "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet\" ] && echo calc.desktop\n");
        QCOMPARE(SystemSpreadsheetDesktop::xdgDefaultApplication(), QStringLiteral("calc.desktop"));
        QVERIFY(desktop.canOpenXlsx());

        QVERIFY(QFile::remove(bin.filePath(QStringLiteral("xdg-mime"))));
        QVERIFY(!desktop.canOpenXlsx());
        script(QStringLiteral("gnumeric"), "exit 0\n");
        QVERIFY(desktop.canOpenXlsx());
    }
#endif
};

QTEST_GUILESS_MAIN(TestSpreadsheet)
#include "tst_spreadsheet.moc"
