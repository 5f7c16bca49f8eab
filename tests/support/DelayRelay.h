#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <QTcpServer>

#include <list>
#include <memory>

// A TCP relay on 127.0.0.1 that makes loopback behave like a slow or breaking link, for tests
// and benchmarks. Every connection accepted on its port is joined to a new connection to the
// target (for example a DovecotHarness port). Bytes pass both ways unchanged and in their
// order; each chunk read from one side is written to the other after a fixed one-way delay
// for that direction, so a command and its reply cost delayToServerMs + delayToClientMs on top
// of loopback, whatever their size. TLS passes through untouched.
//
// Narrow link: with bytesPerSecond > 0, each direction also takes the time its bytes need at
// that rate, after the delay and behind the bytes before them.
//
// Breaking link: with dropAfterServerBytes >= 0, each connection passes on exactly that many
// bytes from the server to the client (counted from the greeting on), then closes the client's
// side cleanly after those bytes and aborts the server's side: the client sees the connection
// end in the middle of whatever the server was sending. 0 drops it before the greeting.
//
// Cut connections: with cutConnections, connection k (1 for the first accepted) is cut once
// cutConnections[k - 1] bytes have come from the server (0 or a missing entry: never). The
// bytes up to the cut still reach the client, then both sides are closed at once, as a broken
// network would. Other connections pass untouched.
//
// The relay runs on the thread that owns it: its timers and sockets need that thread's event
// loop. A client in the same thread works as long as it waits for the network in an event loop
// (as the IMAP component does); a client that blocks needs the relay in another process, see
// bench/delay_relay.cpp.
class DelayRelay : public QObject {
public:
    struct Options {
        QString targetHost = QStringLiteral("127.0.0.1");
        quint16 targetPort = 0;
        int delayToServerMs = 25;
        int delayToClientMs = 25;
        qint64 dropAfterServerBytes = -1; // -1: never
        QList<qint64> cutConnections;     // per connection, in the order accepted
        // Each direction carries at most this many bytes a second (0: no limit), as a link of
        // that bandwidth would: bytes queue behind the ones before them.
        qint64 bytesPerSecond = 0;
    };

    explicit DelayRelay(const Options& options, QObject* parent = nullptr);
    ~DelayRelay() override;

    // Listens on 127.0.0.1 (port 0: a free one); false when the port cannot be had.
    bool listen(quint16 port = 0);
    quint16 port() const { return m_server.serverPort(); }

    int connectionsAccepted() const { return m_accepted; }
    int connectionsOpen() const { return int(m_links.size()); }
    qint64 bytesToClients() const { return m_bytesToClients; }
    // Connections ended by dropAfterServerBytes or cutConnections.
    int connectionsCut() const { return m_cut; }

    class Link; // one relayed connection (DelayRelay.cpp)

private:
    void accept();
    void linkClosed(Link* link);

    Options m_options;
    QTcpServer m_server;
    QElapsedTimer m_clock;
    std::list<std::unique_ptr<Link>> m_links;
    int m_accepted = 0;
    int m_cut = 0;
    qint64 m_bytesToClients = 0;
    friend class Link;
};
