#include "support/MemoryTransport.h"

#include "support/ScriptedImapServer.h"

MemoryTransport::MemoryTransport(ScriptedImapServer* server)
    : m_server(server)
{}

MemoryTransport::~MemoryTransport()
{
    if (m_state != QAbstractSocket::UnconnectedState)
        abort();
}

void MemoryTransport::open(const QString& host, quint16, bool, const QList<QSslCertificate>&)
{
    m_host = host;
    if (!m_server) {
        m_error = QStringLiteral("Connection refused");
        return;
    }
    m_state = QAbstractSocket::ConnectedState;
    setReached(true);
    m_server->opened(this);
}

qint64 MemoryTransport::write(const QByteArray& bytes)
{
    if (m_state != QAbstractSocket::ConnectedState)
        return -1;
    m_written += bytes;
    if (m_server)
        m_server->received(this, bytes);
    return bytes.size();
}

QByteArray MemoryTransport::read()
{
    QByteArray bytes;
    bytes.swap(m_incoming);
    return bytes;
}

void MemoryTransport::abort()
{
    m_incoming.clear();
    if (m_state == QAbstractSocket::UnconnectedState)
        return;
    m_state = QAbstractSocket::UnconnectedState;
    m_closedByClient = true;
    if (m_server)
        m_server->closed(this);
}

void MemoryTransport::deliver(const QByteArray& bytes)
{
    if (m_state != QAbstractSocket::ConnectedState)
        return;
    m_incoming += bytes;
    Q_EMIT activity();
}

void MemoryTransport::closeByServer()
{
    if (m_state == QAbstractSocket::UnconnectedState)
        return;
    m_state = QAbstractSocket::UnconnectedState;
    m_error = QStringLiteral("The remote host closed the connection");
    Q_EMIT activity();
}
