#include "frame/AppTitle.h"
#include "frame/CmdOutput.h"
#include "frame/ConnectivityCheck.h"
#include "frame/VbError.h"

#include "support/ScriptedMessageBoxes.h"

#include <QtTest>

#include <functional>

namespace {
// Answers with a fixed output (or raises) and records how it was called.
class FakeRunner : public CommandRunner {
public:
    struct Call {
        QString commandLine;
        bool out, err, oem;
    };
    QString output;
    std::function<void()> raise;
    QList<Call> calls;

    QString GetCommandOutput(const QString& commandLine, bool captureStdOut, bool captureStdErr,
                             bool oemConvert) override {
        calls.append({commandLine, captureStdOut, captureStdErr, oemConvert});
        if (raise)
            raise();
        return output;
    }
};

const QString kWarning = QStringLiteral("You must be online to use this software accurately.");
} // namespace

class TestConnectivity : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { AppTitle::set(AppTitle::productName()); }

    void pingsOnceWithThePlatformsSyntax() {
        FakeRunner runner;
        ScriptedMessageBoxes boxes;
        CheckInternetConnection(runner, boxes);
        QCOMPARE(runner.calls.size(), 1);
        const FakeRunner::Call call = runner.calls.first();
#if defined(Q_OS_WIN)
        QCOMPARE(call.commandLine, QStringLiteral("ping www.google.com -n 1"));
#elif defined(Q_OS_LINUX)
        QCOMPARE(call.commandLine, QStringLiteral("ping -c 1 -W 3 www.google.com"));
#endif
        QVERIFY(call.out);
        QVERIFY(!call.err);
        QVERIFY(call.oem);
    }

    void warning_data() {
        QTest::addColumn<QString>("output");
        QTest::addColumn<int>("warnings");
        QTest::newRow("empty output") << QString() << 1;
        QTest::newRow("ping missing") << CmdOutput::failureText() << 1;
        QTest::newRow("unknown host")
            << QStringLiteral("ping: www.google.com: Name or service not known\n") << 1;
        QTest::newRow("no reply") << QStringLiteral(
                                         "PING www.google.com (142.250.185.68) 56(84) bytes of data.\n\n"
                                         "--- www.google.com ping statistics ---\n"
                                         "1 packets transmitted, 0 received, 100% packet loss\n")
                                  << 1;
#if defined(Q_OS_WIN)
        QTest::newRow("reply") << QStringLiteral("Reply from 142.250.185.68: bytes=32 time=14ms TTL=117\r\n")
                               << 0;
        QTest::newRow("reply in capitals")
            << QStringLiteral("REPLY FROM 142.250.185.68: BYTES=32 TIME=14MS\r\n") << 0;
#else
        QTest::newRow("reply") << QStringLiteral(
                                      "PING www.google.com (142.250.185.68) 56(84) bytes of data.\n"
                                      "64 bytes from fra16s48-in-f4.1e100.net (142.250.185.68): "
                                      "icmp_seq=1 ttl=117 time=14.2 ms\n")
                               << 0;
        QTest::newRow("reply in other case")
            << QStringLiteral("64 Bytes From 142.250.185.68: icmp_seq=1\n") << 0;
#endif
    }
    void warning() {
        QFETCH(QString, output);
        QFETCH(int, warnings);
        FakeRunner runner;
        runner.output = output;
        ScriptedMessageBoxes boxes;
        CheckInternetConnection(runner, boxes);
        QCOMPARE(boxes.shown().size(), warnings);
        QCOMPARE(boxes.count(kWarning), warnings);
        if (warnings) {
            QCOMPARE(boxes.shown().first().icon, MessageBoxService::Icon::None);
            QCOMPARE(boxes.shown().first().title, QStringLiteral("Corvanel"));
        }
    }

    // The marker of each platform's ping is found whatever its letter case.
    void markersIgnoreLetterCase() {
        QVERIFY(ConnectivityCheck::hasReply(QStringLiteral("Reply from 1.2.3.4: BYTES=32"),
                                            QStringLiteral("bytes=")));
        QVERIFY(ConnectivityCheck::hasReply(QStringLiteral("Reply from 1.2.3.4: Bytes=32"),
                                            QStringLiteral("bytes=")));
        QVERIFY(!ConnectivityCheck::hasReply(QStringLiteral("Pinging host with 32 bytes of data:"),
                                             QStringLiteral("bytes=")));
        QVERIFY(ConnectivityCheck::hasReply(QStringLiteral("64 BYTES FROM 1.2.3.4"),
                                            QStringLiteral("bytes from")));
        QVERIFY(!ConnectivityCheck::hasReply(QStringLiteral("56(84) bytes of data."),
                                             QStringLiteral("bytes from")));
    }

    // The box carries the title current at the time of the check.
    void titleIsTheCurrentApplicationTitle() {
        AppTitle::set(QStringLiteral("Some Other Title"));
        FakeRunner runner;
        ScriptedMessageBoxes boxes;
        CheckInternetConnection(runner, boxes);
        QCOMPARE(boxes.shown().size(), 1);
        QCOMPARE(boxes.shown().first().title, QStringLiteral("Some Other Title"));
    }

    void failingRunnerStillWarnsAndNeverRaises() {
        FakeRunner runner;
        runner.raise = [] { throw VbError::invalidProcedureCall(); };
        ScriptedMessageBoxes boxes;
        CheckInternetConnection(runner, boxes);
        QCOMPARE(boxes.count(kWarning), 1);

        runner.raise = [] { throw std::runtime_error("broken"); };
        boxes.clear();
        CheckInternetConnection(runner, boxes);
        QCOMPARE(boxes.count(kWarning), 1);
    }

    // Through the real runner: with or without ping and network, the check finishes and
    // shows at most the one warning.
    void realPingShowsAtMostOneWarning() {
        CmdOutput runner;
        ScriptedMessageBoxes boxes;
        CheckInternetConnection(runner, boxes);
        QVERIFY(boxes.shown().size() <= 1);
        if (!boxes.shown().isEmpty())
            QCOMPARE(boxes.shown().first().text, kWarning);
    }
};

QTEST_GUILESS_MAIN(TestConnectivity)
#include "tst_connectivity.moc"
