#include "frame/AppTitle.h"
#include "frame/ErrorLog.h"
#include "frame/ErrorTail.h"
#include "support/ScriptedMessageBoxes.h"

#include <QTemporaryDir>
#include <QtTest>

class TestErrorHandling : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void boxTextLayout();
    void twoFailuresGiveTwoBoxesInOrderAndLaterStatementsRun();
    void failingConditionEntersTheBranch();
    void emptyDescriptionStillGivesTheBox();
    void foreignExceptionsAreReportedToo();
    void logEntryFormat();
    void logAppendsAndCreates();
    void logIntoMissingFolderWritesNothingAndDoesNotThrow();
    void titleShortening();
};

void TestErrorHandling::boxTextLayout()
{
    ScriptedMessageBoxes boxes;
    ErrorTail tail(boxes, QStringLiteral("Form1"), QStringLiteral("Form_Load"));
    tail.line(777, [] { throw VbError(380, QStringLiteral("Invalid property value")); });
    QCOMPARE(boxes.shown().size(), 1);
    const auto& box = boxes.shown().first();
    QCOMPARE(box.title, QStringLiteral("Application Error"));
    QCOMPARE(box.icon, MessageBoxService::Icon::Exclamation);
    QCOMPARE(box.text, QStringLiteral("Invalid property value\r\nin Tessaline2021/08/31.Form1.Form_Load at line 777\r\r"
                                      "Please email screenshot of this message to ")
                           + ErrorTail::supportAddress());
}

void TestErrorHandling::twoFailuresGiveTwoBoxesInOrderAndLaterStatementsRun()
{
    ScriptedMessageBoxes boxes;
    ErrorTail tail(boxes, QStringLiteral("Form4"), QStringLiteral("PushButton9_Click"));
    QStringList ran;
    tail.line(100, [&] { ran << "100"; });
    tail.line(102, [&] { throw VbError::subscriptOutOfRange(); });
    tail.line(104, [&] { ran << "104"; });
    tail.line(106, [&] { throw VbError::overflow(); });
    tail.line(108, [&] { ran << "108"; });
    QCOMPARE(ran, (QStringList{"100", "104", "108"}));
    const QStringList errors = boxes.errorBoxes();
    QCOMPARE(errors.size(), 2);
    QVERIFY(errors[0].startsWith("Subscript out of range\r\nin Tessaline2021/08/31.Form4.PushButton9_Click at line 102\r\r"));
    QVERIFY(errors[1].startsWith("Overflow\r\nin Tessaline2021/08/31.Form4.PushButton9_Click at line 106\r\r"));
}

void TestErrorHandling::failingConditionEntersTheBranch()
{
    ScriptedMessageBoxes boxes;
    ErrorTail tail(boxes, QStringLiteral("Form1"), QStringLiteral("Form_Load"));
    bool inside = false;
    if (tail.condition(160, []() -> bool { throw VbError::typeMismatch(); }))
        inside = true;
    QVERIFY(inside);
    QCOMPARE(boxes.errorBoxes().size(), 1);
    QVERIFY(boxes.errorBoxes().first().contains("at line 160"));
    // A condition that does not fail answers as it is.
    QVERIFY(!tail.condition(162, [] { return false; }));
    QCOMPARE(boxes.errorBoxes().size(), 1);
}

void TestErrorHandling::emptyDescriptionStillGivesTheBox()
{
    ScriptedMessageBoxes boxes;
    ErrorTail tail(boxes, QStringLiteral("Form1"), QStringLiteral("PushButton11_Click"));
    tail.line(100, [] { throw VbError(0, QString()); });
    QCOMPARE(boxes.errorBoxes().size(), 1);
    QVERIFY(boxes.errorBoxes().first().startsWith("\r\nin Tessaline2021/08/31.Form1.PushButton11_Click at line 100"));
}

void TestErrorHandling::foreignExceptionsAreReportedToo()
{
    ScriptedMessageBoxes boxes;
    ErrorTail tail(boxes, QStringLiteral("Form1"), QStringLiteral("PushButton4_Click"));
    tail.line(104, [] { throw std::runtime_error("out of disk"); });
    QCOMPARE(boxes.errorBoxes().size(), 1);
    QVERIFY(boxes.errorBoxes().first().startsWith("out of disk\r\n"));
}

void TestErrorHandling::logEntryFormat()
{
    const QDateTime when(QDate(2026, 12, 7), QTime(9, 30, 5));
    const QByteArray entry = ErrorLog::entry(QStringLiteral("line one\r\nline two"), when);
    const QList<QByteArray> lines = entry.split('\n');
    // Two lines of the entry, the text's own line break kept inside line 1.
    QVERIFY(entry.endsWith("\r\n" + QByteArray(52, '*') + "\r\n"));
    QVERIFY(entry.contains(" : line one\r\nline two\r\n"));
    QVERIFY(!entry.contains(QByteArray(53, '*')));
    QVERIFY(lines.first().contains("2026"));
}

void TestErrorHandling::logAppendsAndCreates()
{
    QTemporaryDir dir;
    qputenv("TEMP", (dir.path() + QLatin1Char('/')).toLocal8Bit());
    QCOMPARE(ErrorLog::path(), dir.filePath("errorlog.txt"));
    qputenv("TEMP", dir.path().toLocal8Bit());
    QCOMPARE(ErrorLog::path(), dir.filePath("errorlog.txt"));
    ErrorLog::append(QStringLiteral("first"));
    ErrorLog::append(QString());
    ErrorLog::append(QStringLiteral("third"));
    QFile file(ErrorLog::path());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray content = file.readAll();
    QCOMPARE(content.count("\r\n"), 6);
    QCOMPARE(content.count(QByteArray(52, '*') + "\r\n"), 3);
    QVERIFY(content.indexOf(" : first\r\n") < content.indexOf(" : \r\n"));
    QVERIFY(content.indexOf(" : \r\n") < content.indexOf(" : third\r\n"));
    qunsetenv("TEMP");
}

void TestErrorHandling::logIntoMissingFolderWritesNothingAndDoesNotThrow()
{
    QTemporaryDir dir;
    qputenv("TEMP", dir.filePath("no/such/folder").toLocal8Bit());
    ErrorLog::append(QStringLiteral("lost"));
    QVERIFY(!QFile::exists(ErrorLog::path()));
    qunsetenv("TEMP");
    QCOMPARE(ErrorLog::path(), QDir(QDir::tempPath()).filePath("errorlog.txt"));
}

void TestErrorHandling::titleShortening()
{
    QCOMPARE(AppTitle::shortened(QStringLiteral("Corvanel")), QStringLiteral("Corvanel"));
    QCOMPARE(AppTitle::shortened(QStringLiteral("Corvanel Mail Export")), QStringLiteral("Corvanel Mail"));
    // Drops one word, then keeps dropping while longer than 40 characters.
    const QString longName = QStringLiteral("Alpha Beta Gamma Delta Epsilon Zeta Eta Theta Iota");
    const QString shortened = AppTitle::shortened(longName);
    QVERIFY(shortened.size() <= 40);
    QCOMPARE(shortened, QStringLiteral("Alpha Beta Gamma Delta Epsilon Zeta Eta"));
}

QTEST_GUILESS_MAIN(TestErrorHandling)
#include "tst_errorhandling.moc"
