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
//
// Responder mode (respondWith) is for conversations a script cannot spell out in advance: any
// number of connections, each greeted at once, and every client line answered by a function,
// however often the client repeats its commands. Answers can go out in slow chunks; lines that
// arrive while an answer is still going out wait their turn, as a real server reads them.
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

    // How an answer of the responder goes out: at once (chunkSize 0) or chunkSize bytes every
    // intervalMs; `close` ends the connection once it is out.
    struct Reply {
        QByteArray bytes;
        int chunkSize = 0;
        int intervalMs = 0;
        bool close = false;
    };
    // Called with the connection's number (1 for the first accepted) and one client line
    // without its CRLF.
    using Responder = std::function<Reply(int connection, const QByteArray& line)>;
    // Switches to responder mode: every connection gets `greeting`, then its lines are answered
    // by `responder`. The script steps are not used from then on.
    FakeImapServer& respondWith(const Reply& greeting, Responder responder);
    // Client lines answered by the responder so far, over all connections.
    int linesAnswered() const { return m_linesAnswered; }

    bool scriptDone() const;
    QStringList errors() const { return m_errors; }
    int connectionsAccepted() const { return m_accepted; }
    bool clientClosed() const { return m_clientClosed; }

private:
    struct Step;
    struct Conversation;
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
    Responder m_responder;
    Reply m_greeting;
    QList<std::shared_ptr<Conversation>> m_conversations;
    int m_linesAnswered = 0;

    void converse(QTcpSocket* socket);
    void answerNext(const std::shared_ptr<Conversation>& conversation);
    void reply(const std::shared_ptr<Conversation>& conversation, const Reply& answer);
};
