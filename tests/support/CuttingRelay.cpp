#include "support/CuttingRelay.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

#include <memory>

CuttingRelay::CuttingRelay(quint16 serverPort, QList<qint64> cutAfter, QObject* parent)
    : QObject(parent)
    , m_listener(new QTcpServer(this))
    , m_serverPort(serverPort)
    , m_cutAfter(std::move(cutAfter))
{
    connect(m_listener, &QTcpServer::newConnection, this, &CuttingRelay::onNewConnection);
    m_listener->listen(QHostAddress::LocalHost);
}

quint16 CuttingRelay::port() const
{
    return m_listener->serverPort();
}

void CuttingRelay::onNewConnection()
{
    while (QTcpSocket* client = m_listener->nextPendingConnection()) {
        client->setParent(this);
        ++m_accepted;
        const qint64 limit = m_accepted <= m_cutAfter.size() ? m_cutAfter.at(m_accepted - 1) : 0;
        auto* server = new QTcpSocket(this);
        auto fromServer = std::make_shared<qint64>(0);
        auto pending = std::make_shared<QByteArray>(); // client bytes before the server is reached
        const QPointer<QTcpSocket> c = client;
        const QPointer<QTcpSocket> s = server;
        const auto closeBoth = [c, s] {
            if (c)
                c->abort();
            if (s)
                s->abort();
        };
        connect(server, &QTcpSocket::connected, this, [s, pending] {
            s->write(*pending);
            pending->clear();
        });
        connect(client, &QIODevice::readyRead, this, [c, s, pending] {
            const QByteArray data = c->readAll();
            if (s && s->state() == QAbstractSocket::ConnectedState)
                s->write(data);
            else
                *pending += data;
        });
        connect(server, &QIODevice::readyRead, this, [this, c, s, fromServer, limit, closeBoth] {
            QByteArray data = s->readAll();
            if (limit > 0 && *fromServer + data.size() >= limit) {
                // Half of what would cross the limit still goes through: the cut falls mid-stream.
                data = data.left(qMax<qint64>(0, limit - *fromServer));
                if (c)
                    c->write(data);
                if (c)
                    c->flush();
                ++m_cut;
                closeBoth();
                return;
            }
            *fromServer += data.size();
            if (c)
                c->write(data);
        });
        connect(client, &QAbstractSocket::disconnected, this, [closeBoth] { closeBoth(); });
        connect(server, &QAbstractSocket::disconnected, this, [closeBoth] { closeBoth(); });
        server->connectToHost(QHostAddress::LocalHost, m_serverPort);
    }
}
