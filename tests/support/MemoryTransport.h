#pragma once

#include "mail/ImapTransport.h"

#include <QPointer>

class ScriptedImapServer;

// An in-memory connection to a ScriptedImapServer: what the client writes goes to the server's
// script at once, what the script sends waits here until the client reads it.
class MemoryTransport : public ImapTransport {
    Q_OBJECT
public:
    explicit MemoryTransport(ScriptedImapServer* server);
    ~MemoryTransport() override;

    void open(const QString& host, quint16 port, bool tls,
              const QList<QSslCertificate>& extraAuthorities) override;
    qint64 write(const QByteArray& bytes) override;
    QByteArray read() override;
    qint64 bytesAvailable() const override { return m_incoming.size(); }
    QAbstractSocket::SocketState state() const override { return m_state; }
    QString errorString() const override { return m_error; }
    QStringList tlsErrors() const override { return {}; }
    void abort() override;

    // The server's side.
    void deliver(const QByteArray& bytes);
    void closeByServer();
    QByteArray& unread() { return m_written; } // client bytes the script has not read yet
    bool closedByClient() const { return m_closedByClient; }
    QString host() const { return m_host; }

private:
    QPointer<ScriptedImapServer> m_server;
    QByteArray m_incoming;
    QByteArray m_written;
    QAbstractSocket::SocketState m_state = QAbstractSocket::UnconnectedState;
    QString m_error;
    QString m_host;
    bool m_closedByClient = false;
};
