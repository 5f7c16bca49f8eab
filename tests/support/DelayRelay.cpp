#include "support/DelayRelay.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>

#include <deque>
#include <utility>

namespace {
// One direction of a link: what was read from `from`, waiting for its time to be written to `to`.
struct Direction {
    QTcpSocket* from = nullptr;
    QTcpSocket* to = nullptr;
    qint64 delayNs = 0;
    qint64 budget = -1;        // bytes still to pass on; -1: no limit
    qint64 bytesPerSecond = 0; // 0: no limit
    qint64 lastDueNs = 0;      // when the bytes queued last are through
    bool fromClosed = false;
    bool finished = false;                           // `to` has been closed after everything was passed on
    std::deque<std::pair<qint64, QByteArray>> queue; // (due time, bytes)
    QTimer timer;
};
} // namespace

class DelayRelay::Link {
public:
    Link(DelayRelay& relay, QTcpSocket* client)
        : m_relay(relay)
        , m_client(client)
        , m_server(new QTcpSocket(&relay))
    {
        const Options& o = relay.m_options;
        m_up.from = m_client;
        m_up.to = m_server;
        m_up.delayNs = qint64(o.delayToServerMs) * 1000000;
        m_down.from = m_server;
        m_down.to = m_client;
        m_down.delayNs = qint64(o.delayToClientMs) * 1000000;
        m_down.budget = o.dropAfterServerBytes;
        // A chosen connection is cut harder: both sides at once.
        const int number = relay.m_accepted;
        if (number <= o.cutConnections.size() && o.cutConnections.at(number - 1) > 0) {
            m_down.budget = o.cutConnections.at(number - 1);
            m_cutBoth = true;
        }
        m_up.bytesPerSecond = m_down.bytesPerSecond = qMax<qint64>(0, o.bytesPerSecond);
        for (Direction* d : {&m_up, &m_down}) {
            d->timer.setSingleShot(true);
            d->timer.setTimerType(Qt::PreciseTimer);
            QObject::connect(&d->timer, &QTimer::timeout, &m_relay, [this, d] { deliver(*d); });
            QObject::connect(d->from, &QIODevice::readyRead, &m_relay, [this, d] { take(*d); });
            QObject::connect(d->from, &QAbstractSocket::disconnected, &m_relay, [this, d] {
                take(*d);
                d->fromClosed = true;
                deliver(*d);
            });
        }
        QObject::connect(m_server, &QAbstractSocket::errorOccurred, &m_relay,
                         [this](QAbstractSocket::SocketError error) {
                             // A target that cannot be reached: the client's side ends too.
                             if (error != QAbstractSocket::RemoteHostClosedError &&
                                 m_server->state() != QAbstractSocket::ConnectedState)
                                 shut(true);
                         });
        m_server->connectToHost(o.targetHost, o.targetPort);
        if (m_down.budget == 0)
            QTimer::singleShot(0, &m_relay, [this] { shut(false); });
    }

    ~Link()
    {
        m_destroying = true;
        shut(true);
    }

private:
    void take(Direction& d)
    {
        if (d.finished)
            return;
        QByteArray bytes = d.from->readAll();
        if (bytes.isEmpty())
            return;
        const qint64 due = m_relay.m_clock.nsecsElapsed() + d.delayNs;
        if (d.bytesPerSecond <= 0) {
            d.queue.emplace_back(due, std::move(bytes));
        } else {
            // In pieces, each through when the link has carried it.
            constexpr qsizetype kPiece = 16 * 1024;
            for (qsizetype at = 0; at < bytes.size(); at += kPiece) {
                const QByteArray piece = bytes.mid(at, kPiece);
                d.lastDueNs = qMax(due, d.lastDueNs) + piece.size() * 1000000000LL / d.bytesPerSecond;
                d.queue.emplace_back(d.lastDueNs, piece);
            }
        }
        if (!d.timer.isActive())
            schedule(d);
    }

    void schedule(Direction& d)
    {
        const qint64 waitNs = d.queue.front().first - m_relay.m_clock.nsecsElapsed();
        d.timer.start(int(qMax<qint64>(0, (waitNs + 999999) / 1000000)));
    }

    void deliver(Direction& d)
    {
        if (d.finished)
            return;
        const qint64 now = m_relay.m_clock.nsecsElapsed();
        while (!d.queue.empty() && d.queue.front().first <= now) {
            QByteArray bytes = std::move(d.queue.front().second);
            d.queue.pop_front();
            if (d.budget >= 0 && bytes.size() >= d.budget) {
                bytes.truncate(int(d.budget));
                write(d, bytes);
                d.budget = 0;
                shut(false);
                return;
            }
            if (d.budget > 0)
                d.budget -= bytes.size();
            write(d, bytes);
        }
        if (!d.queue.empty()) {
            schedule(d);
        } else if (d.fromClosed) {
            d.finished = true;
            d.to->disconnectFromHost();
            if (m_up.finished && m_down.finished)
                shut(false);
        }
    }

    void write(Direction& d, const QByteArray& bytes)
    {
        if (bytes.isEmpty())
            return;
        d.to->write(bytes);
        if (&d == &m_down)
            m_relay.m_bytesToClients += bytes.size();
    }

    // Ends the link: the client's side cleanly, after what was written to it (or at once with
    // `abortClient`), the server's side at once. The sockets go when they are closed.
    void shut(bool abortClient)
    {
        if (m_shut)
            return;
        m_shut = true;
        if (m_down.budget == 0) {
            ++m_relay.m_cut;
            if (m_cutBoth) {
                m_client->flush(); // what came before the cut
                abortClient = true;
            }
        }
        m_up.finished = m_down.finished = true;
        for (Direction* d : {&m_up, &m_down}) {
            d->timer.stop();
            QObject::disconnect(d->from, nullptr, &m_relay, nullptr);
        }
        for (QTcpSocket* s : {m_client, m_server}) {
            if (s->state() == QAbstractSocket::UnconnectedState)
                s->deleteLater();
            else
                QObject::connect(s, &QAbstractSocket::disconnected, s, &QObject::deleteLater);
        }
        if (abortClient)
            m_client->abort();
        else
            m_client->disconnectFromHost();
        m_server->abort();
        if (!m_destroying)
            m_relay.linkClosed(this);
    }

    DelayRelay& m_relay;
    QTcpSocket* m_client;
    QTcpSocket* m_server;
    Direction m_up;   // client to server
    Direction m_down; // server to client
    bool m_shut = false;
    bool m_destroying = false;
    bool m_cutBoth = false; // a chosen connection: the cut closes both sides at once
};

DelayRelay::DelayRelay(const Options& options, QObject* parent)
    : QObject(parent)
    , m_options(options)
{
    m_clock.start();
    connect(&m_server, &QTcpServer::newConnection, this, &DelayRelay::accept);
}

DelayRelay::~DelayRelay()
{
    m_server.close();
    m_links.clear();
}

bool DelayRelay::listen(quint16 port)
{
    return m_server.listen(QHostAddress::LocalHost, port);
}

void DelayRelay::accept()
{
    while (QTcpSocket* client = m_server.nextPendingConnection()) {
        ++m_accepted;
        m_links.push_back(std::make_unique<Link>(*this, client));
    }
}

void DelayRelay::linkClosed(Link* link)
{
    // Called from inside the link's own handlers: it goes once they have returned.
    QTimer::singleShot(0, this, [this, link] {
        m_links.remove_if([link](const std::unique_ptr<Link>& l) { return l.get() == link; });
    });
}
