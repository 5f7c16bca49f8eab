#include "frame/CmdOutput.h"
#include "frame/CommandOutputDecoder.h"
#include "frame/VbError.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <cerrno>
#include <csignal>
#include <sys/types.h>

// The command runner against real child processes (/bin/sh, /bin/cat) on this machine.
class TestCmdOutput : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    QString writeFile(const QString& name, const QByteArray& bytes) {
        const QString path = m_dir.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    // Output far beyond one 1024-byte read comes back whole and in the order written.
    void longOutputWholeAndInOrder() {
        QByteArray expected;
        for (int i = 0; i < 1000; ++i)
            expected += QByteArray::number(i).rightJustified(4, '0') + '\n';
        QCOMPARE(expected.size(), 5000);

        CmdOutput runner;
        const QString out = runner.GetCommandOutput(
            QStringLiteral(
                "/bin/sh -c \"i=0; while [ $i -lt 1000 ]; do printf '%04d\\n' $i; i=$((i+1)); done\""),
            true, false, false);
        QCOMPARE(out.size(), 5000);
        QCOMPARE(out, QString::fromLatin1(expected));
    }

    void channels_data() {
        QTest::addColumn<bool>("out");
        QTest::addColumn<bool>("err");
        QTest::addColumn<QString>("expected");
        QTest::newRow("standard output only") << true << false << QStringLiteral("one\nthree\n");
        QTest::newRow("standard error only") << false << true << QStringLiteral("two\n");
        // Both channels share one pipe, so they arrive in the order the child wrote them.
        QTest::newRow("both") << true << true << QStringLiteral("one\ntwo\nthree\n");
    }
    void channels() {
        QFETCH(bool, out);
        QFETCH(bool, err);
        QFETCH(QString, expected);
        CmdOutput runner;
        QCOMPARE(runner.GetCommandOutput(QStringLiteral("/bin/sh -c \"echo one; echo two >&2; echo three\""),
                                         out, err, false),
                 expected);
    }

    void neitherChannelIsInvalidProcedureCallAndStartsNothing() {
        const QString marker = m_dir.filePath(QStringLiteral("started"));
        CmdOutput runner;
        try {
            runner.GetCommandOutput(QStringLiteral("/bin/sh -c \"touch '%1'\"").arg(marker), false, false,
                                    false);
            QFAIL("no error raised");
        } catch (const VbError& error) {
            QCOMPARE(error.number(), 5);
        }
        // The same command with a capture flag does start: the marker proves the command works.
        QVERIFY(!QFile::exists(marker));
        runner.GetCommandOutput(QStringLiteral("/bin/sh -c \"touch '%1'\"").arg(marker), true, false, false);
        QVERIFY(QFile::exists(marker));
    }

    void programThatCannotStart_data() {
        QTest::addColumn<QString>("commandLine");
        QTest::newRow("missing program") << QStringLiteral("/no/such/program-corvanel -x");
        QTest::newRow("missing program on PATH") << QStringLiteral("corvanel-no-such-command 1 2");
        QTest::newRow("empty command line") << QString();
        QTest::newRow("not executable") << writeFile(QStringLiteral("plain.txt"), "echo no\n");
    }
    void programThatCannotStart() {
        QFETCH(QString, commandLine);
        CmdOutput runner;
        QCOMPARE(runner.GetCommandOutput(commandLine, true, false, true),
                 QStringLiteral("Failed to create process, check the path of the command line."));
    }

    // é, € and an emoji each straddle a 1024-byte read boundary of the output.
    void multiByteCharactersAcrossReads() {
        QByteArray bytes(1023, 'a');
        bytes += "\xC3\xA9"; // é at 1023..1024
        bytes += QByteArray(2047 - bytes.size(), 'b');
        bytes += "\xE2\x82\xAC"; // € at 2047..2049
        bytes += QByteArray(3070 - bytes.size(), 'c');
        bytes += "\xF0\x9F\x98\x80"; // U+1F600 at 3070..3073
        bytes += "\n";
        const QString path = writeFile(QStringLiteral("utf8.txt"), bytes);

        CmdOutput runner;
        const QString out =
            runner.GetCommandOutput(QStringLiteral("/bin/cat \"%1\"").arg(path), true, false, true);
        QCOMPARE(out, QString::fromUtf8(bytes));
        QVERIFY(!out.contains(QChar::ReplacementCharacter));
        QCOMPARE(out.mid(1023, 1), QStringLiteral("é"));
    }

    void decoderKeepsSplitCharactersWhole() {
        const QByteArray bytes = "x\xC3\xA9y\xE2\x82\xACz\xF0\x9F\x98\x80";
        CommandOutputDecoder decoder(false);
        QString text;
        for (char c : bytes)
            text += decoder.decode(QByteArrayView(&c, 1));
        text += decoder.finish();
        QCOMPARE(text, QString::fromUtf8(bytes));
    }

    void decoderMarksCharacterCutOffAtTheEnd() {
        CommandOutputDecoder decoder(true);
        QString text = decoder.decode("ok\xE2\x82");
        QCOMPARE(text, QStringLiteral("ok"));
        text += decoder.finish();
        QCOMPARE(text, QStringLiteral("ok") + QChar(QChar::ReplacementCharacter));
    }

    // The user interface keeps running while the command runs.
    void pendingEventsRunDuringTheCommand() {
        bool inside = false;
        bool ranInside = false;
        QTimer::singleShot(0, this, [&] { ranInside = inside; });
        CmdOutput runner;
        inside = true;
        const QString out =
            runner.GetCommandOutput(QStringLiteral("/bin/sh -c \"echo done\""), true, false, false);
        inside = false;
        QCOMPARE(out, QStringLiteral("done\n"));
        QVERIFY(ranInside);
    }

    // Standard input is closed: a child that reads it ends instead of waiting forever.
    void childReadingInputSeesEndOfInput() {
        CmdOutput runner;
        QCOMPARE(runner.GetCommandOutput(QStringLiteral("/bin/cat"), true, false, false), QString());
    }

    // The child has been reaped when the routine returns: its process id no longer exists.
    void noChildLeftBehind() {
        CmdOutput runner;
        const QString out =
            runner.GetCommandOutput(QStringLiteral("/bin/sh -c \"echo $$\""), true, false, false);
        bool ok = false;
        const pid_t pid = pid_t(out.trimmed().toLongLong(&ok));
        QVERIFY(ok);
        QCOMPARE(::kill(pid, 0), -1);
        QCOMPARE(errno, ESRCH);
    }

    // A child that exits with a failure still gives what it printed.
    void outputOfFailingCommandIsKept() {
        CmdOutput runner;
        QCOMPARE(runner.GetCommandOutput(QStringLiteral("/bin/sh -c \"echo partial; exit 2\""), true, false,
                                         false),
                 QStringLiteral("partial\n"));
    }
};

QTEST_GUILESS_MAIN(TestCmdOutput)
#include "tst_cmdoutput.moc"
