// Retrieval throughput: N messages of about 4 KB in a private Dovecot, fetched over TLS by
// the mail session's extraction (one whole-message fetch per command, each read into a message
// object, logged and reported) and, in the same run, by a plain Python imaplib loop doing one
// FETCH n (BODY.PEEK[]) per command.
//
//     bench_retrieval [messages=2000] [rounds=5]
//
// The imaplib loop waits for a round trip per message, and on a shared machine that wait
// varies by half from round to round; the best round of each is compared.
//
// Slow link: the same, through a relay on 127.0.0.1 that delays every chunk by half the round
// trip in each direction (bench/delay_relay, keeping byte order), between the clients and
// Dovecot. It compares "2a. Get All Emails" in the window with an imaplib loop of one FETCH per
// message and with one pipelined imaplib FETCH 1:N, all through the same relay in one run. The
// window goes twice: first while the server still works out each message's structure, then with
// it cached; the ratio is printed for the better and for the first, with the CPU time the
// program spent per message in each (the part of the time that is the client's own work).
//
//     bench_retrieval --slow-link [messages=1000] [rtt-ms=50]
//
// Realistic inbox: N messages of the realistic mix of tests/support/MessageGenerator (45 %
// newsletters with a text and an HTML part, 35 % personal plain text, 15 % with a 50-600 KB
// attachment, 5 % HTML only). "2a. Get All Emails" in the window and one pipelined imaplib
// FETCH 1:N (BODY.PEEK[]) go through the relay (no delay unless asked), which counts the bytes
// the server sent; printed beside the bytes of the messages' text and HTML parts, with the peak
// memory of the process (VmHWM) after the listing.
//
//     bench_retrieval --real [messages=2000] [--slow-link] [--rtt-ms 50] [--bytes-per-second 5000000]
//                     [--rounds 1]
//
// --slow-link sets a 50 ms round trip and 5 MB/s unless the other options say otherwise.

#include "ProcessMemory.h"
#include "frame/ErrorLog.h"
#include "mail/ClsChilkatImap.h"
#include "mail/ImapClient.h"
#include "retrieval/MessageListModel.h"
#include "support/DovecotHarness.h"
#include "support/MainWindowFixture.h"
#include "support/MessageGenerator.h"
#include "support/ScriptedMessageBoxes.h"
#include "ui/ProgramStart.h"

#include <QApplication>
#include <QPushButton>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

#include <sys/resource.h>

namespace {

struct Stored {
    QString From, FromName, FromAddress, Subject, ReceivedDate, PlainTextBody, HTMLTextBody;
    int uID;
};

// Seconds for one extraction of messages 1..count, or a negative value when not all arrived.
double corvanelRound(DovecotHarness& server, ImapClient& component, ScriptedMessageBoxes& boxes, int count)
{
    std::vector<Stored> stored;
    stored.reserve(size_t(count));
    auto session = std::make_shared<clsChilkatIMAP>(boxes);
    session->setChilkatIMAPObject(&component);
    session->setSSL(true);
    session->setPORT(server.imapsPort());
    session->setIMAPServer(DovecotHarness::host());
    session->setUsername(DovecotHarness::defaultUser());
    session->setPassword(DovecotHarness::defaultPassword());
    session->setCurrentLocation(1);
    session->setMaxRecord(count);
    QObject::connect(session.get(), &clsChilkatIMAP::MailExtractListing,
                     [&stored](const QString& From, const QString& FromName, const QString& FromAddress,
                               const QString& Subject, const QString& ReceivedDate, const QString& PlainTextBody,
                               const QString& HTMLTextBody, int uID) {
                         stored.push_back(
                             {From, FromName, FromAddress, Subject, ReceivedDate, PlainTextBody, HTMLTextBody, uID});
                     });
    QElapsedTimer clock;
    clock.start();
    session->StartMailExtraction(QStringLiteral("Inbox"));
    const double seconds = clock.nsecsElapsed() / 1e9;
    if (int(stored.size()) != count || !boxes.shown().isEmpty()) {
        std::fprintf(stderr, "corvanel: %d of %d messages, %d boxes\n", int(stored.size()), count,
                     int(boxes.shown().size()));
        return -1;
    }
    return seconds;
}

// CPU seconds this process has used so far, user and system.
double processCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Seconds for "2a. Get All Emails" in the main window, shown, from the click until the handler has
// finished: count, reconnect, every message into a row and a record, the counts refreshed. The
// CPU seconds the program spent meanwhile go to `cpu` when asked.
double windowRound(DovecotHarness& server, int count, quint16 port = 0, double* cpu = nullptr)
{
    MainWindowFixture window;
    window.pointTo(server);
    if (port)
        window.settings.preset("Port", QString::number(port));
    Form1& form = window.load();
    form.show(); // as users have it: every row and progress step is painted
    if (!window.connectAs(DovecotHarness::defaultUser(), DovecotHarness::defaultPassword()))
        return -1;
    QElapsedTimer clock;
    clock.start();
    const double cpuBefore = processCpuSeconds();
    form.PushButton3->click();
    const double seconds = clock.nsecsElapsed() / 1e9;
    if (cpu)
        *cpu = processCpuSeconds() - cpuBefore;
    if (form.list().count() != count || window.boxes.texts() != QStringList{QStringLiteral("Done.")}) {
        std::fprintf(stderr, "window: %d of %d rows, boxes: %s\n", form.list().count(), count,
                     qPrintable(window.boxes.texts().join(QStringLiteral(" | "))));
        return -1;
    }
    return seconds;
}

double imaplibRound(DovecotHarness& server, int count, quint16 port = 0, bool pipelined = false)
{
    QProcess python;
    python.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QStringList arguments{QStringLiteral(CORVANEL_SOURCE_DIR "/bench/imaplib_loop.py"),
                          QStringLiteral("--port"),
                          QString::number(port ? port : server.imapsPort()),
                          QStringLiteral("--ca"),
                          server.caPemPath(),
                          QStringLiteral("--user"),
                          DovecotHarness::defaultUser(),
                          QStringLiteral("--password"),
                          DovecotHarness::defaultPassword(),
                          QStringLiteral("--count"),
                          QString::number(count)};
    if (pipelined)
        arguments << QStringLiteral("--pipelined");
    python.start(QStringLiteral("/usr/bin/python3"), arguments);
    if (!python.waitForFinished(600000) || python.exitCode() != 0)
        return -1;
    // "imaplib <messages> <seconds> <rate>"
    const QList<QByteArray> fields = python.readAllStandardOutput().trimmed().split(' ');
    if (fields.size() != 4 || fields[1].toInt() != count)
        return -1;
    return fields[2].toDouble();
}

// Starts bench/delay_relay in front of the server's TLS port; returns its port, 0 on failure.
quint16 startRelay(QProcess& relay, DovecotHarness& server, int rttMs)
{
    relay.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    relay.start(QCoreApplication::applicationDirPath() + QStringLiteral("/delay_relay"),
                {QStringLiteral("--target-port"), QString::number(server.imapsPort()),
                 QStringLiteral("--rtt-ms"), QString::number(rttMs)});
    if (!relay.waitForStarted(10000))
        return 0;
    while (!relay.canReadLine())
        if (!relay.waitForReadyRead(10000))
            return 0;
    const QByteArray line = relay.readLine().trimmed(); // "listening <port>"
    return line.startsWith("listening ") ? quint16(line.mid(10).toUInt()) : 0;
}

int slowLink(DovecotHarness& server, int count, int rttMs, double averageBytes)
{
    QProcess relay;
    const quint16 port = startRelay(relay, server, rttMs);
    if (!port) {
        std::fprintf(stderr, "cannot start the relay\n");
        return 1;
    }
    std::printf(
        "slow link: %d ms round trip through a delaying relay on 127.0.0.1, %d messages, %.0f bytes on "
        "average, TLS\n",
        rttMs, count, averageBytes);
    std::fflush(stdout);
    const double pipelined = imaplibRound(server, count, port, true);
    std::printf("Python imaplib, one FETCH 1:%d:       %s\n", count,
                pipelined < 0 ? "failed"
                              : qPrintable(QString::asprintf("%.0f messages/s", count / pipelined)));
    std::fflush(stdout);
    // Twice: the first time the server works out every message's structure, the second time it
    // has them cached, as servers that clients ask for structures usually have.
    double firstCpu = 0, secondCpu = 0;
    const double first = windowRound(server, count, port, &firstCpu);
    const double second = first < 0 ? -1 : windowRound(server, count, port, &secondCpu);
    const double window = second < 0 ? -1 : std::min(first, second);
    std::printf("Corvanel \"2a. Get All Emails\":      %s\n",
                window < 0 ? "failed"
                           : qPrintable(QString::asprintf("%.0f messages/s first, %.0f messages/s second "
                                                          "(the program's CPU: %.0f and %.0f us per message)",
                                                          count / first, count / second, firstCpu * 1e6 / count,
                                                          secondCpu * 1e6 / count)));
    std::fflush(stdout);
    const double loop = imaplibRound(server, count, port);
    std::printf("Python imaplib, one FETCH per message: %s\n",
                loop < 0 ? "failed" : qPrintable(QString::asprintf("%.0f messages/s", count / loop)));
    relay.terminate();
    relay.waitForFinished(5000);
    if (pipelined < 0 || window < 0 || loop < 0)
        return 1;
    std::printf("ratio window / pipelined imaplib:      %.2f best of the two (target >= 0.6), %.2f first\n",
                pipelined / window, pipelined / first);
    std::printf("ratio window / imaplib loop:           %.2f\n", loop / window);
    return 0;
}

// The relay's count of bytes passed on to clients so far; -1 when it does not answer.
qint64 relayBytes(QProcess& relay)
{
    relay.write("bytes\n");
    QByteArray line;
    while (!line.endsWith('\n')) {
        if (!relay.canReadLine() && !relay.waitForReadyRead(10000))
            return -1;
        line = relay.readLine();
    }
    const QList<QByteArray> fields = line.trimmed().split(' ');
    return fields.size() == 2 && fields[0] == "bytes" ? fields[1].toLongLong() : -1;
}

struct RealOptions {
    int count = 2000;
    int rttMs = 0;
    qint64 bytesPerSecond = 0;
    int rounds = 1;
};

int realInbox(DovecotHarness& server, const RealOptions& o, qint64 storedBytes, qint64 textBytes,
              const int (&kinds)[4])
{
    QProcess relay;
    relay.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    relay.start(QCoreApplication::applicationDirPath() + QStringLiteral("/delay_relay"),
                {QStringLiteral("--target-port"), QString::number(server.imapsPort()),
                 QStringLiteral("--rtt-ms"), QString::number(o.rttMs), QStringLiteral("--bytes-per-second"),
                 QString::number(o.bytesPerSecond)});
    quint16 port = 0;
    if (relay.waitForStarted(10000)) {
        while (!relay.canReadLine() && relay.waitForReadyRead(10000)) {
        }
        const QByteArray line = relay.readLine().trimmed();
        port = line.startsWith("listening ") ? quint16(line.mid(10).toUInt()) : 0;
    }
    if (!port) {
        std::fprintf(stderr, "cannot start the relay\n");
        return 1;
    }
    const double mib = 1024.0 * 1024.0;
    std::printf(
        "realistic inbox: %d messages (%d newsletters, %d personal, %d with an attachment, %d HTML only), "
        "%.1f MiB stored, %.1f MiB of text and HTML parts; relay %d ms round trip, %s, TLS\n",
        o.count, kinds[0], kinds[1], kinds[2], kinds[3], storedBytes / mib, textBytes / mib, o.rttMs,
        o.bytesPerSecond > 0 ? qPrintable(QString::asprintf("%.1f MB/s", o.bytesPerSecond / 1e6))
                             : "no bandwidth cap");
    std::fflush(stdout);
    double bestWindow = 0, bestImaplib = 0;
    qint64 windowBytes = -1, imaplibBytes = -1;
    for (int round = 1; round <= o.rounds; ++round) {
        const qint64 before = relayBytes(relay);
        const double pipelined = imaplibRound(server, o.count, port, true);
        const qint64 between = relayBytes(relay);
        const double window = windowRound(server, o.count, port);
        const qint64 peak = processMemoryKiB();
        const qint64 after = relayBytes(relay);
        if (pipelined < 0 || window < 0 || before < 0 || between < 0 || after < 0) {
            std::fprintf(stderr, "round %d failed\n", round);
            return 1;
        }
        imaplibBytes = between - before;
        windowBytes = after - between;
        std::printf(
            "round %d: window %.0f messages/s, %.1f MiB from the server (%.2fx the text parts), peak memory "
            "(VmHWM) after listing %.0f MiB; imaplib FETCH 1:%d %.0f messages/s, %.1f MiB\n",
            round, o.count / window, windowBytes / mib, double(windowBytes) / textBytes, peak / 1024.0,
            o.count, o.count / pipelined, imaplibBytes / mib);
        std::fflush(stdout);
        bestWindow = std::max(bestWindow, o.count / window);
        bestImaplib = std::max(bestImaplib, o.count / pipelined);
    }
    relay.closeWriteChannel();
    relay.terminate();
    relay.waitForFinished(5000);
    std::printf("Corvanel \"2a. Get All Emails\":    %.0f messages/s (best of %d)\n", bestWindow, o.rounds);
    std::printf("Python imaplib, one FETCH 1:%d: %.0f messages/s (best of %d)\n", o.count, bestImaplib,
                o.rounds);
    std::printf("bytes from the server / text parts: %.2f (target <= 1.3); imaplib %.2f\n",
                double(windowBytes) / textBytes, double(imaplibBytes) / textBytes);
    std::printf("ratio window / pipelined imaplib:   %.2f (target >= 2 at 50 ms and 5 MB/s)\n",
                bestWindow / bestImaplib);
    std::printf("peak memory (VmHWM) after listing:  %.0f MiB\n", processMemoryKiB() / 1024.0);
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    ProgramStart::Application<QApplication> app(argc, argv); // as Corvanel starts
    QStringList args = app.arguments().mid(1);
    const bool slow = args.removeAll(QStringLiteral("--slow-link")) > 0;
    const bool real = args.removeAll(QStringLiteral("--real")) > 0;
    RealOptions realOptions;
    if (real) {
        realOptions.rttMs = slow ? 50 : 0;
        realOptions.bytesPerSecond = slow ? 5000000 : 0;
        const auto take = [&args](const QString& name, qint64 fallback) {
            const qsizetype at = args.indexOf(name);
            if (at < 0 || at + 1 >= args.size())
                return fallback;
            const qint64 value = args.at(at + 1).toLongLong();
            args.remove(at, 2);
            return value;
        };
        realOptions.rttMs = int(take(QStringLiteral("--rtt-ms"), realOptions.rttMs));
        realOptions.bytesPerSecond = take(QStringLiteral("--bytes-per-second"), realOptions.bytesPerSecond);
        realOptions.rounds = std::max(1, int(take(QStringLiteral("--rounds"), 1)));
        realOptions.count = !args.isEmpty() ? std::max(1, args.at(0).toInt()) : 2000;
    }
    const int count = !args.isEmpty() ? std::max(1, args.at(0).toInt()) : (slow ? 1000 : 2000);
    const int rounds = args.size() > 1 ? std::max(1, args.at(1).toInt()) : 5;
    const int rttMs = args.size() > 1 ? std::max(0, args.at(1).toInt()) : 50;

    QTemporaryDir logFolder;
    qputenv("TEMP", QFile::encodeName(logFolder.path()));

    DovecotHarness server;
    if (!server.start()) {
        std::fprintf(stderr, "Dovecot: %s\n", qPrintable(server.errorText()));
        return 1;
    }
    if (real) {
        qint64 stored = 0, text = 0;
        int kinds[4] = {0, 0, 0, 0};
        for (int n = 1; n <= realOptions.count; ++n) {
            const MessageGenerator::Generated m = MessageGenerator::realistic(n);
            stored += m.raw.size();
            text += m.textPartBytes;
            ++kinds[int(m.kind)];
            if (server.writeMessage(QStringLiteral("Inbox"), m.raw).isEmpty()) {
                std::fprintf(stderr, "cannot write message %d\n", n);
                return 1;
            }
        }
        return realInbox(server, realOptions, stored, text, kinds);
    }
    qint64 bytes = 0;
    for (int n = 1; n <= count; ++n) {
        const QByteArray raw = MessageGenerator::uniform(n);
        bytes += raw.size();
        if (server.writeMessage(QStringLiteral("Inbox"), raw).isEmpty()) {
            std::fprintf(stderr, "cannot write message %d\n", n);
            return 1;
        }
    }
    if (slow)
        return slowLink(server, count, rttMs, double(bytes) / count);
    std::printf("%d messages, %.0f bytes on average, %d rounds each, TLS on 127.0.0.1\n", count,
                double(bytes) / count, rounds);

    ImapClient component;
    component.setCaCertificatesFile(server.caPemPath());
    ScriptedMessageBoxes boxes;

    // Alternate the two so that both see the same server state; keep the best round of each.
    double bestCorvanel = 0, bestPython = 0, bestWindow = 0;
    for (int round = 1; round <= rounds; ++round) {
        QFile::remove(ErrorLog::path());
        const double c = corvanelRound(server, component, boxes, count);
        const double p = imaplibRound(server, count);
        const double w = windowRound(server, count);
        if (c < 0 || p < 0 || w < 0) {
            std::fprintf(stderr, "round %d failed\n", round);
            return 1;
        }
        std::printf("round %d: Corvanel %.3f s (%.0f msg/s), window %.3f s (%.0f msg/s), imaplib %.3f s (%.0f msg/s)\n",
                    round, c, count / c, w, count / w, p, count / p);
        std::fflush(stdout);
        bestCorvanel = std::max(bestCorvanel, count / c);
        bestPython = std::max(bestPython, count / p);
        bestWindow = std::max(bestWindow, count / w);
    }
    std::printf("Corvanel StartMailExtraction: %.0f messages/s\n", bestCorvanel);
    std::printf("Corvanel \"2a. Get All Emails\":  %.0f messages/s (list rows and records included)\n", bestWindow);
    std::printf("Python imaplib FETCH loop:    %.0f messages/s\n", bestPython);
    std::printf("ratio Corvanel / imaplib:     %.2f (target >= 1.5)\n", bestCorvanel / bestPython);
    std::printf("ratio window / imaplib:       %.2f (target >= 1.5)\n", bestWindow / bestPython);
    return 0;
}
