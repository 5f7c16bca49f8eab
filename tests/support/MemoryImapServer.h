#pragma once

#include "mail/ImapClient.h"
#include "support/ManualClock.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QStringList>

#include <functional>
#include <memory>

class MemoryTransport;

// A scripted IMAP server without sockets: the client's transports are in-memory streams and
// time is a ManualClock, so conversations are exact and take no real time. The script works
// like FakeImapServer's: `expect` takes the client's next line (a mismatch is recorded and the
// connection dropped), `send` answers at once, `sendSlowly` answers chunk by chunk on the
// clock, `run` acts during the client's next wait, `wait` lets time pass. Everything the
// client wrote is kept in order (written()).
//
// By default the client must speak only when the script expects it; with pipelining allowed
// it may send commands ahead and the script reads them as it gets to them.
class MemoryImapServer : public QObject {
    Q_OBJECT
public:
    MemoryImapServer();
    ~MemoryImapServer() override;

    // Points the client at this server: its transports and its clock.
    void attach(ImapClient& client);
    ImapClient::TransportFactory factory();
    ManualClock& clock() { return *m_clock; }
    std::shared_ptr<ManualClock> sharedClock() { return m_clock; }
    void allowPipelining(bool allow) { m_pipelining = allow; }

    // Script steps. The first connection is accepted before the first step runs.
    MemoryImapServer& send(const QByteArray& bytes);
    MemoryImapServer& sendLine(const QByteArray& line); // adds CRLF
    MemoryImapServer& expect(const QByteArray& line);   // one client line without its CRLF
    MemoryImapServer& sendSlowly(const QByteArray& bytes, int chunkSize, int intervalMs);
    MemoryImapServer& drop();                            // close the connection
    MemoryImapServer& acceptNext();                      // wait for the client's next connection
    MemoryImapServer& expectClose();                     // wait until the client closes
    MemoryImapServer& run(std::function<void()> action); // act during the client's next wait
    MemoryImapServer& wait(int ms);                      // let time pass before the next step

    bool scriptDone() const;
    QStringList errors() const { return m_errors; }
    int connectionsAccepted() const { return m_accepted; }
    bool clientClosed() const;
    QByteArray written() const { return m_written; }
    // Bytes sent to the client that it has not read yet, on the current connection.
    qint64 unreadByClient() const;

    // From the transports.
    void opened(MemoryTransport* transport);
    void received(MemoryTransport* transport, const QByteArray& bytes);
    void closed(MemoryTransport* transport);

private:
    struct Step;
    MemoryImapServer& add(Step step);
    void advance();
    bool takeLine(QByteArray& line);
    void sendNextChunk();
    void resume();

    std::shared_ptr<ManualClock> m_clock;
    QList<std::shared_ptr<Step>> m_steps;
    qsizetype m_next = 0;
    bool m_busy = false; // a slow send, a wait or an action is pending on the clock
    bool m_advancing = false;
    bool m_again = false;
    bool m_pipelining = false;
    QList<QPointer<MemoryTransport>> m_waiting; // opened, not yet accepted
    QPointer<MemoryTransport> m_current;
    QByteArray m_slowRest;
    int m_chunkSize = 0;
    int m_chunkIntervalMs = 0;
    QByteArray m_written;
    QStringList m_errors;
    int m_accepted = 0;
    bool m_currentClosed = false;
};
