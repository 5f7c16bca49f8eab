// The delaying relay of tests/support/DelayRelay.h as a program of its own, for clients that
// must not share its event loop (a benchmark timing the window, a Python script):
//
//     delay_relay --target-port P [--target-host 127.0.0.1] [--rtt-ms 50 | --delay-ms D]
//                 [--port 0] [--drop-after-server-bytes N] [--bytes-per-second B]
//
// --rtt-ms splits the round trip evenly over the two directions; --delay-ms sets the one-way
// delay of each direction; --bytes-per-second caps each direction's bandwidth. It prints
// "listening <port>" once it accepts connections and runs until it is terminated. Each line
// "bytes" on its standard input is answered with "bytes <n>": the bytes passed on to clients
// so far.
#include "support/DelayRelay.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>

#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption targetHost("target-host", "Host to relay to.", "host", "127.0.0.1");
    const QCommandLineOption targetPort("target-port", "Port to relay to.", "port");
    const QCommandLineOption rtt("rtt-ms", "Round trip added, half per direction.", "ms", "50");
    const QCommandLineOption delay("delay-ms", "One-way delay per direction.", "ms");
    const QCommandLineOption port("port", "Port to listen on (0: a free one).", "port", "0");
    const QCommandLineOption drop("drop-after-server-bytes",
                                  "Cut each connection after N bytes from the server.", "N", "-1");
    const QCommandLineOption bandwidth("bytes-per-second", "Bandwidth of each direction (0: no limit).", "B",
                                       "0");
    parser.addOptions({targetHost, targetPort, rtt, delay, port, drop, bandwidth});
    parser.process(app);

    DelayRelay::Options options;
    options.targetHost = parser.value(targetHost);
    options.targetPort = quint16(parser.value(targetPort).toUInt());
    const int oneWay = parser.isSet(delay) ? parser.value(delay).toInt() : parser.value(rtt).toInt() / 2;
    options.delayToServerMs = options.delayToClientMs = qMax(0, oneWay);
    options.dropAfterServerBytes = parser.value(drop).toLongLong();
    options.bytesPerSecond = parser.value(bandwidth).toLongLong();
    if (options.targetPort == 0) {
        std::fprintf(stderr, "delay_relay: --target-port is required\n");
        return 2;
    }
    DelayRelay relay(options);
    if (!relay.listen(quint16(parser.value(port).toUInt()))) {
        std::fprintf(stderr, "delay_relay: cannot listen\n");
        return 1;
    }
    std::printf("listening %u\n", unsigned(relay.port()));
    std::fflush(stdout);
    QSocketNotifier input(0, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char line[64];
        if (!std::fgets(line, sizeof line, stdin)) {
            input.setEnabled(false); // the reader has gone; keep relaying
            return;
        }
        std::printf("bytes %lld\n", static_cast<long long>(relay.bytesToClients()));
        std::fflush(stdout);
    });
    return app.exec();
}
