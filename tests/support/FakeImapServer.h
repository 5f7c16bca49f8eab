#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSslConfiguration>
#include <QStringList>

#include <functional>
#include <memory>

class QTcpServer;
class QTcpSocket;
class QTimer;

// A scripted IMAP server on 127.0.0.1 for tests: it plays an exact conversation, step by step,
// on the connection it accepted. `expect` waits for the client's next line and records a
// mismatch (and drops the connection, so the client fails fast); `send` answers. It can also
// send in slow chunks, drop the connection, or simply stop answering (the script ends there).
// The client must speak only when the script expects it: data arriving while the server is
// still sending, or after the script has ended, is recorded as an error.
// With a TLS configuration it listens with QSslServer and encrypts every connection.
class FakeImapServer : public QObject {
    Q_OBJECT
public:
    explicit FakeImapServer(QObject* parent = nullptr);
    explicit FakeImapServer(const QSslConfiguration& tls, QObject* parent = nullptr);
    ~FakeImapServer() override;

    quint16 port() const;

    // Script steps. The first connection is accepted before the first step runs.
    FakeImapServer& send(const QByteArray& bytes);
    FakeImapServer& sendLine(const QByteArray& line);  // adds CRLF
    FakeImapServer& expect(const QByteArray& line);    // one client line without its CRLF
    FakeImapServer& sendSlowly(const QByteArray& bytes, int chunkSize, int intervalMs);
    FakeImapServer& drop();                             // close the connection after flushing
    FakeImapServer& acceptNext();                       // wait for the client's next connection
    FakeImapServer& expectClose();                      // wait until the client closes
    FakeImapServer& run(std::function<void()> action);  // do something at this point

    bool scriptDone() const;
    QStringList errors() const { return m_errors; }
    int connectionsAccepted() const { return m_accepted; }
    bool clientClosed() const { return m_clientClosed; }

private:
    struct Step;
    void listen();
    void advance();
    void onPendingConnection();
    void onReadyRead(QTcpSocket* socket);
    void onDisconnected(QTcpSocket* socket);
    void sendNextChunk();
    FakeImapServer& add(Step step);
    bool takeLine(QByteArray& line);

    QTcpServer* m_server = nullptr;
    QList<QTcpSocket*> m_waiting;  // accepted, not yet in use
    QPointer<QTcpSocket> m_socket;
    QByteArray m_buffer;
    QList<std::shared_ptr<Step>> m_steps;
    qsizetype m_next = 0;
    bool m_busy = false;  // a slow send is going on
    QTimer* m_chunkTimer = nullptr;
    QByteArray m_slowRest;
    int m_chunkSize = 0;
    int m_chunkIntervalMs = 0;
    QStringList m_errors;
    int m_accepted = 0;
    bool m_clientClosed = false;
    bool m_advancing = false;
};
