#include "support/ScriptedImapServer.h"

#include "support/MemoryTransport.h"

#include <QHostAddress>
#include <QSslServer>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

struct ScriptedImapServer::Step {
    enum class Kind { Accept, Send, Expect, SendSlowly, Drop, ExpectClose, Run, Wait } kind;
    QByteArray bytes;
    int chunkSize = 0;
    int intervalMs = 0;
    std::function<void()> action;

    static Step of(Kind kind, const QByteArray& bytes = {}, int chunkSize = 0, int intervalMs = 0,
                   std::function<void()> action = {})
    {
        Step step;
        step.kind = kind;
        step.bytes = bytes;
        step.chunkSize = chunkSize;
        step.intervalMs = intervalMs;
        step.action = std::move(action);
        return step;
    }
};

// One connection in responder mode: what the client has sent and not yet been answered, and
// the rest of an answer that goes out slowly.
struct ScriptedImapServer::Conversation {
    QPointer<QTcpSocket> socket;
    int number = 0;
    QByteArray received;
    QByteArray rest;
    int chunkSize = 0;
    int intervalMs = 0;
    bool closeAfter = false;
    bool sending = false;
    QTimer* timer = nullptr;
};

ScriptedImapServer::ScriptedImapServer(Transport transport, QObject* parent)
    : QObject(parent)
{
    if (transport == Transport::Memory) {
        m_clock = std::make_shared<ManualClock>();
    } else {
        m_server = new QTcpServer(this);
        listen();
    }
    m_steps.append(std::make_shared<Step>(Step::of(Step::Kind::Accept)));
}

ScriptedImapServer::ScriptedImapServer(const QSslConfiguration& tls, QObject* parent)
    : QObject(parent)
{
    auto* server = new QSslServer(this);
    server->setSslConfiguration(tls);
    m_server = server;
    listen();
    m_steps.append(std::make_shared<Step>(Step::of(Step::Kind::Accept)));
}

ScriptedImapServer::~ScriptedImapServer() = default;

void ScriptedImapServer::listen()
{
    connect(m_server, &QTcpServer::pendingConnectionAvailable, this,
            &ScriptedImapServer::onPendingConnection);
    if (!m_server->listen(QHostAddress::LocalHost))
        m_errors.append(QStringLiteral("cannot listen: ") + m_server->errorString());
}

void ScriptedImapServer::attach(ImapClient& client)
{
    client.setTransportFactory(factory());
    client.setClock(m_clock);
}

ImapClient::TransportFactory ScriptedImapServer::factory()
{
    QPointer<ScriptedImapServer> self(this);
    return [self]() -> std::unique_ptr<ImapTransport> { return std::make_unique<MemoryTransport>(self); };
}

quint16 ScriptedImapServer::port() const
{
    return m_server ? m_server->serverPort() : 0;
}

ScriptedImapServer& ScriptedImapServer::add(Step step)
{
    m_steps.append(std::make_shared<Step>(std::move(step)));
    if (m_clock)
        advance();
    else // over sockets, steps added while the script is idle run from the event loop
        QTimer::singleShot(0, this, &ScriptedImapServer::advance);
    return *this;
}

ScriptedImapServer& ScriptedImapServer::send(const QByteArray& bytes)
{
    return add(Step::of(Step::Kind::Send, bytes));
}
ScriptedImapServer& ScriptedImapServer::sendLine(const QByteArray& line)
{
    return send(line + "\r\n");
}
ScriptedImapServer& ScriptedImapServer::expect(const QByteArray& line)
{
    return add(Step::of(Step::Kind::Expect, line));
}
ScriptedImapServer& ScriptedImapServer::drop()
{
    return add(Step::of(Step::Kind::Drop));
}
ScriptedImapServer& ScriptedImapServer::acceptNext()
{
    return add(Step::of(Step::Kind::Accept));
}
ScriptedImapServer& ScriptedImapServer::expectClose()
{
    return add(Step::of(Step::Kind::ExpectClose));
}

ScriptedImapServer& ScriptedImapServer::sendSlowly(const QByteArray& bytes, int chunkSize, int intervalMs)
{
    return add(Step::of(Step::Kind::SendSlowly, bytes, qMax(1, chunkSize), intervalMs));
}

ScriptedImapServer& ScriptedImapServer::run(std::function<void()> action)
{
    return add(Step::of(Step::Kind::Run, {}, 0, 0, std::move(action)));
}

ScriptedImapServer& ScriptedImapServer::wait(int ms)
{
    return add(Step::of(Step::Kind::Wait, {}, 0, ms));
}

bool ScriptedImapServer::scriptDone() const
{
    return m_next >= m_steps.size() && !m_busy;
}

qint64 ScriptedImapServer::unreadByClient() const
{
    return m_memory ? m_memory->bytesAvailable() : 0;
}

void ScriptedImapServer::later(int ms, std::function<void()> action)
{
    QPointer<ScriptedImapServer> self(this);
    auto guarded = [self, action = std::move(action)] {
        if (self)
            action();
    };
    if (m_clock)
        m_clock->after(ms, std::move(guarded));
    else
        QTimer::singleShot(ms, this, std::move(guarded));
}

// --- the current connection, whichever transport carries it

QByteArray* ScriptedImapServer::unread()
{
    if (m_memory)
        return &m_memory->unread();
    return m_socket ? &m_socketUnread : nullptr;
}

bool ScriptedImapServer::currentOpen() const
{
    if (m_memory)
        return !m_currentClosed;
    return m_socket && m_socket->state() == QAbstractSocket::ConnectedState && !m_currentClosed;
}

void ScriptedImapServer::deliver(const QByteArray& bytes)
{
    if (m_memory)
        m_memory->deliver(bytes);
    else if (m_socket)
        m_socket->write(bytes);
}

// Closes the current connection: at once, or (over a socket) once what was sent is out.
void ScriptedImapServer::closeCurrent(bool flush)
{
    if (m_memory)
        m_memory->closeByServer();
    else if (m_socket && flush)
        m_socket->disconnectFromHost();
    else if (m_socket)
        m_socket->abort();
}

void ScriptedImapServer::takeNext()
{
    closeCurrent(false);
    const QPointer<QObject> next = m_waiting.takeFirst();
    m_memory = qobject_cast<MemoryTransport*>(next.data());
    m_socket = qobject_cast<QTcpSocket*>(next.data());
    m_socketUnread.clear();
    m_currentClosed = !next;
    ++m_accepted;
    if (m_socket && m_socket->bytesAvailable() > 0)
        m_socketUnread += m_socket->readAll();
}

bool ScriptedImapServer::takeLine(QByteArray& line)
{
    QByteArray* buffer = unread();
    if (!buffer)
        return false;
    const qsizetype end = buffer->indexOf('\n');
    if (end < 0)
        return false;
    line = buffer->left(end);
    if (line.endsWith('\r'))
        line.chop(1);
    buffer->remove(0, end + 1);
    return true;
}

// --- the memory transports

void ScriptedImapServer::opened(MemoryTransport* transport)
{
    m_waiting.append(transport);
    advance();
}

void ScriptedImapServer::received(MemoryTransport* transport, const QByteArray& bytes)
{
    m_written += bytes;
    if (transport == m_memory)
        clientData(bytes);
}

void ScriptedImapServer::closed(MemoryTransport* transport)
{
    if (transport == m_memory)
        m_currentClosed = true;
    m_waiting.removeAll(transport);
    advance();
}

// --- the sockets

void ScriptedImapServer::onPendingConnection()
{
    while (QTcpSocket* socket = m_server->nextPendingConnection()) {
        socket->setParent(this);
        if (m_responder) {
            converse(socket);
            continue;
        }
        connect(socket, &QIODevice::readyRead, this, [this, socket] {
            if (socket != m_socket)
                return;
            const QByteArray bytes = socket->readAll();
            m_written += bytes;
            m_socketUnread += bytes;
            clientData(bytes);
        });
        connect(socket, &QAbstractSocket::disconnected, this, [this, socket] {
            if (socket != m_socket)
                return;
            m_currentClosed = true;
            advance();
        });
        m_waiting.append(socket);
    }
    if (!m_responder)
        advance();
}

// --- the script

void ScriptedImapServer::clientData(const QByteArray& bytes)
{
    const bool expecting =
        m_next < m_steps.size() && !m_busy &&
        (m_steps[m_next]->kind == Step::Kind::Expect || m_steps[m_next]->kind == Step::Kind::ExpectClose);
    if (!expecting && !m_pipelining) {
        m_errors.append(m_next >= m_steps.size()
                            ? QStringLiteral("unexpected data after the script ended: ") +
                                  QString::fromUtf8(bytes.left(200))
                            : QStringLiteral("the client sent data while the server was still answering: ") +
                                  QString::fromUtf8(bytes.left(200)));
    }
    advance();
}

void ScriptedImapServer::sendNextChunk()
{
    deliver(m_slowRest.left(m_chunkSize));
    m_slowRest.remove(0, qMin<qsizetype>(m_chunkSize, m_slowRest.size()));
    if (!m_slowRest.isEmpty() && currentOpen()) {
        later(m_chunkIntervalMs, [this] { sendNextChunk(); });
        return;
    }
    m_slowRest.clear();
    resume();
}

void ScriptedImapServer::resume()
{
    m_busy = false;
    advance();
}

void ScriptedImapServer::advance()
{
    if (m_advancing) {
        m_again = true; // a step's effect came back here: the loop below carries on
        return;
    }
    m_advancing = true;
    do {
        m_again = false;
        while (!m_busy && m_next < m_steps.size()) {
            Step& step = *m_steps[m_next];
            bool blocked = false;
            switch (step.kind) {
            case Step::Kind::Accept:
                if (m_waiting.isEmpty()) {
                    blocked = true;
                    break;
                }
                takeNext();
                ++m_next;
                break;
            case Step::Kind::Send:
                if (step.bytes.startsWith('+') && unread() && !unread()->isEmpty())
                    m_errors.append(QStringLiteral("the client sent data before the continuation request: ") +
                                    QString::fromUtf8(unread()->left(200)));
                deliver(step.bytes);
                ++m_next;
                break;
            case Step::Kind::Expect: {
                QByteArray line;
                if (!takeLine(line)) {
                    if (currentOpen()) {
                        blocked = true;
                        break;
                    }
                    m_errors.append(QStringLiteral("the connection closed while expecting: ") +
                                    QString::fromUtf8(step.bytes));
                    m_next = m_steps.size();
                    break;
                }
                if (line != step.bytes) {
                    m_errors.append(QStringLiteral("expected \"%1\" but the client sent \"%2\"")
                                        .arg(QString::fromUtf8(step.bytes), QString::fromUtf8(line)));
                    closeCurrent(false);
                    m_next = m_steps.size();
                    break;
                }
                ++m_next;
                break;
            }
            case Step::Kind::SendSlowly:
                m_busy = true;
                m_slowRest = step.bytes;
                m_chunkSize = step.chunkSize;
                m_chunkIntervalMs = step.intervalMs;
                ++m_next;
                later(0, [this] { sendNextChunk(); });
                break;
            case Step::Kind::Drop:
                closeCurrent(true);
                m_memory = nullptr;
                m_socket = nullptr;
                ++m_next;
                break;
            case Step::Kind::ExpectClose:
                if (currentOpen()) {
                    blocked = true;
                    break;
                }
                ++m_next;
                break;
            case Step::Kind::Run: {
                ++m_next;
                std::function<void()> action = step.action;
                if (!m_clock) { // over sockets the action runs at once
                    if (action)
                        action();
                    break;
                }
                m_busy = true; // in memory it runs during the client's next wait
                later(0, [this, action] {
                    QPointer<ScriptedImapServer> self(this);
                    if (action)
                        action();
                    if (self)
                        resume();
                });
                break;
            }
            case Step::Kind::Wait:
                m_busy = true;
                ++m_next;
                later(step.intervalMs, [this] { resume(); });
                break;
            }
            if (blocked)
                break;
        }
    } while (m_again);
    m_advancing = false;
}

// --- responder mode

ScriptedImapServer& ScriptedImapServer::respondWith(const Reply& greeting, Responder responder)
{
    m_greeting = greeting;
    m_responder = std::move(responder);
    // Connections accepted before the switch are answered too.
    const QList<QPointer<QObject>> waiting = m_waiting;
    m_waiting.clear();
    for (const QPointer<QObject>& pending : waiting) {
        if (auto* socket = qobject_cast<QTcpSocket*>(pending.data())) {
            disconnect(socket, nullptr, this, nullptr);
            converse(socket);
        }
    }
    return *this;
}

void ScriptedImapServer::converse(QTcpSocket* socket)
{
    auto conversation = std::make_shared<Conversation>();
    conversation->socket = socket;
    conversation->number = ++m_accepted;
    conversation->timer = new QTimer(socket);
    conversation->timer->setSingleShot(true);
    m_conversations.append(conversation);
    const std::weak_ptr<Conversation> weak = conversation;
    connect(conversation->timer, &QTimer::timeout, this, [this, weak] {
        const auto c = weak.lock();
        if (!c || !c->socket)
            return;
        c->socket->write(c->rest.left(c->chunkSize));
        c->rest.remove(0, qMin<qsizetype>(c->chunkSize, c->rest.size()));
        if (!c->rest.isEmpty()) {
            c->timer->start(c->intervalMs);
            return;
        }
        c->sending = false;
        if (c->closeAfter) {
            c->socket->disconnectFromHost();
            return;
        }
        answerNext(c);
    });
    connect(socket, &QIODevice::readyRead, this, [this, weak] {
        const auto c = weak.lock();
        if (!c || !c->socket)
            return;
        c->received += c->socket->readAll();
        answerNext(c);
    });
    connect(socket, &QAbstractSocket::disconnected, this, [this, weak] {
        const auto c = weak.lock();
        if (!c)
            return;
        c->timer->stop();
        c->sending = false;
        m_conversations.removeAll(c);
    });
    if (socket->bytesAvailable() > 0)
        conversation->received += socket->readAll();
    reply(conversation, m_greeting);
}

void ScriptedImapServer::answerNext(const std::shared_ptr<Conversation>& c)
{
    while (!c->sending && !c->closeAfter && c->socket &&
           c->socket->state() == QAbstractSocket::ConnectedState) {
        const qsizetype end = c->received.indexOf('\n');
        if (end < 0)
            return;
        QByteArray line = c->received.left(end);
        if (line.endsWith('\r'))
            line.chop(1);
        c->received.remove(0, end + 1);
        ++m_linesAnswered;
        reply(c, m_responder(c->number, line));
    }
}

void ScriptedImapServer::reply(const std::shared_ptr<Conversation>& c, const Reply& answer)
{
    if (!c->socket)
        return;
    c->closeAfter = answer.close;
    if (answer.chunkSize <= 0 || answer.bytes.size() <= answer.chunkSize) {
        c->socket->write(answer.bytes);
        if (answer.close)
            c->socket->disconnectFromHost();
        return;
    }
    c->sending = true;
    c->rest = answer.bytes;
    c->chunkSize = answer.chunkSize;
    c->intervalMs = answer.intervalMs;
    c->timer->start(0);
}
