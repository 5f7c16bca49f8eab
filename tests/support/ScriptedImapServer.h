#pragma once

#include "mail/ImapClient.h"
#include "support/ManualClock.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSslConfiguration>
#include <QStringList>

#include <functional>
#include <memory>

class MemoryTransport;
class QTcpServer;
class QTcpSocket;

// A scripted IMAP server for tests: it plays an exact conversation, step by step, on the
// connection it accepted. `expect` takes the client's next line (a mismatch is recorded and the
// connection dropped, so the client fails fast), `send` answers, `sendSlowly` answers chunk by
// chunk, `run` acts at that point, `wait` lets time pass. Everything the client wrote is kept in
// order (written()).
//
// One engine, two transports:
// - Memory (the default): the client's transports are in-memory streams and time is a
//   ManualClock, so conversations are exact and take no real time; `run` acts during the
//   client's next wait.
// - Tcp: it listens on 127.0.0.1, and with a TLS configuration it encrypts every connection
//   (QSslServer); timers are real and `run` acts at once.
//
// By default the client must speak only when the script expects it: data arriving while the
// server is still answering, or after the script has ended, is recorded as an error. With
// pipelining allowed it may send commands ahead and the script reads them as it gets to them.
//
// Responder mode (respondWith, Tcp only) is for conversations a script cannot spell out in
// advance: any number of connections, each greeted at once, and every client line answered by
// a function, however often the client repeats its commands. Answers can go out in slow chunks;
// lines that arrive while an answer is still going out wait their turn, as a real server reads
// them.
class ScriptedImapServer : public QObject {
    Q_OBJECT
public:
    enum class Transport { Memory, Tcp };
    static constexpr Transport Memory = Transport::Memory;
    static constexpr Transport Tcp = Transport::Tcp;

    explicit ScriptedImapServer(Transport transport = Transport::Memory, QObject* parent = nullptr);
    // Tcp with TLS on every connection.
    explicit ScriptedImapServer(const QSslConfiguration& tls, QObject* parent = nullptr);
    ~ScriptedImapServer() override;

    // Memory: points the client at this server, its transports and its clock.
    void attach(ImapClient& client);
    ImapClient::TransportFactory factory();
    ManualClock& clock() { return *m_clock; }
    std::shared_ptr<ManualClock> sharedClock() { return m_clock; }
    // Tcp: the port it listens on.
    quint16 port() const;

    void allowPipelining(bool allow) { m_pipelining = allow; }

    // Script steps. The first connection is accepted before the first step runs.
    ScriptedImapServer& send(const QByteArray& bytes);
    ScriptedImapServer& sendLine(const QByteArray& line); // adds CRLF
    ScriptedImapServer& expect(const QByteArray& line);   // one client line without its CRLF
    ScriptedImapServer& sendSlowly(const QByteArray& bytes, int chunkSize, int intervalMs);
    ScriptedImapServer& drop();                            // close the connection (after flushing)
    ScriptedImapServer& acceptNext();                      // wait for the client's next connection
    ScriptedImapServer& expectClose();                     // wait until the client closes
    ScriptedImapServer& run(std::function<void()> action); // act at this point
    ScriptedImapServer& wait(int ms);                      // let time pass before the next step

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
    ScriptedImapServer& respondWith(const Reply& greeting, Responder responder);
    // Client lines answered by the responder so far, over all connections.
    int linesAnswered() const { return m_linesAnswered; }

    bool scriptDone() const;
    QStringList errors() const { return m_errors; }
    int connectionsAccepted() const { return m_accepted; }
    bool clientClosed() const { return m_currentClosed; }
    QByteArray written() const { return m_written; }
    // Bytes sent to the client that it has not read yet, on the current connection (Memory).
    qint64 unreadByClient() const;

    // From the memory transports.
    void opened(MemoryTransport* transport);
    void received(MemoryTransport* transport, const QByteArray& bytes);
    void closed(MemoryTransport* transport);

private:
    struct Step;
    struct Conversation;
    ScriptedImapServer& add(Step step);
    void listen();
    void advance();
    void later(int ms, std::function<void()> action);
    bool takeLine(QByteArray& line);
    QByteArray* unread();
    bool currentOpen() const;
    void deliver(const QByteArray& bytes);
    void closeCurrent(bool flush);
    void takeNext();
    void clientData(const QByteArray& bytes);
    void sendNextChunk();
    void resume();

    void onPendingConnection();
    void converse(QTcpSocket* socket);
    void answerNext(const std::shared_ptr<Conversation>& conversation);
    void reply(const std::shared_ptr<Conversation>& conversation, const Reply& answer);

    std::shared_ptr<ManualClock> m_clock; // Memory only
    QTcpServer* m_server = nullptr;       // Tcp only
    QList<std::shared_ptr<Step>> m_steps;
    qsizetype m_next = 0;
    bool m_busy = false; // a slow send, a wait or an action is pending
    bool m_advancing = false;
    bool m_again = false;
    bool m_pipelining = false;
    QList<QPointer<QObject>> m_waiting; // opened, not yet accepted
    QPointer<MemoryTransport> m_memory; // the current connection, one of the two
    QPointer<QTcpSocket> m_socket;
    QByteArray m_socketUnread; // client bytes the script has not read yet (Tcp)
    bool m_currentClosed = false;
    QByteArray m_slowRest;
    int m_chunkSize = 0;
    int m_chunkIntervalMs = 0;
    QByteArray m_written;
    QStringList m_errors;
    int m_accepted = 0;

    Responder m_responder;
    Reply m_greeting;
    QList<std::shared_ptr<Conversation>> m_conversations;
    int m_linesAnswered = 0;
};
