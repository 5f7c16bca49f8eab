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
// message and with one pipelined imaplib FETCH 1:N, all through the same relay in one run.
//
//     bench_retrieval --slow-link [messages=1000] [rtt-ms=50]

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

// Seconds for "2a. Get All Emails" in the main window, shown, from the click until the handler has
// finished: count, reconnect, every message into a row and a record, the counts refreshed.
double windowRound(DovecotHarness& server, int count, quint16 port = 0)
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
    form.PushButton3->click();
    const double seconds = clock.nsecsElapsed() / 1e9;
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
    const double window = windowRound(server, count, port);
    std::printf("Corvanel \"2a. Get All Emails\":      %s\n",
                window < 0 ? "failed" : qPrintable(QString::asprintf("%.0f messages/s", count / window)));
    std::fflush(stdout);
    const double loop = imaplibRound(server, count, port);
    std::printf("Python imaplib, one FETCH per message: %s\n",
                loop < 0 ? "failed" : qPrintable(QString::asprintf("%.0f messages/s", count / loop)));
    relay.terminate();
    relay.waitForFinished(5000);
    if (pipelined < 0 || window < 0 || loop < 0)
        return 1;
    std::printf("ratio window / pipelined imaplib:      %.2f (target >= 0.30)\n", pipelined / window);
    std::printf("ratio window / imaplib loop:           %.2f\n", loop / window);
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    ProgramStart::Application<QApplication> app(argc, argv); // as Corvanel starts
    QStringList args = app.arguments().mid(1);
    const bool slow = args.removeAll(QStringLiteral("--slow-link")) > 0;
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
