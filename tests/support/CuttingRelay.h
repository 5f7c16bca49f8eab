#pragma once

#include <QList>
#include <QObject>
#include <QPointer>

class QTcpServer;
class QTcpSocket;

// A relay on 127.0.0.1 between a client and a real server that passes every byte through
// untouched (TLS included) and cuts chosen connections once a number of bytes has come from the
// server: connection k (1 for the first accepted) is cut after cutAfter[k - 1] bytes, 0 or a
// missing entry meaning never. Cutting closes both sides at once, as a broken network would.
class CuttingRelay : public QObject {
    Q_OBJECT
public:
    CuttingRelay(quint16 serverPort, QList<qint64> cutAfter, QObject* parent = nullptr);

    quint16 port() const;
    int connectionsAccepted() const { return m_accepted; }
    int connectionsCut() const { return m_cut; }

private:
    void onNewConnection();

    QTcpServer* m_listener = nullptr;
    quint16 m_serverPort = 0;
    QList<qint64> m_cutAfter;
    int m_accepted = 0;
    int m_cut = 0;
};
