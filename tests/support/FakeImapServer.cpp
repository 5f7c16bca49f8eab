#include "support/FakeImapServer.h"

#include <QHostAddress>
#include <QSslServer>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

struct FakeImapServer::Step {
    enum class Kind { Accept, Send, Expect, SendSlowly, Drop, ExpectClose, Run } kind;
    QByteArray bytes;
    int chunkSize = 0;
    int intervalMs = 0;
    std::function<void()> action;

    static Step of(Kind kind, const QByteArray& bytes = {})
    {
        Step step;
        step.kind = kind;
        step.bytes = bytes;
        return step;
    }
};

// One connection in responder mode: what the client has sent and not yet been answered, and
// the rest of an answer that goes out slowly.
struct FakeImapServer::Conversation {
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

FakeImapServer::FakeImapServer(QObject* parent)
    : QObject(parent)
    , m_server(new QTcpServer(this))
{
    listen();
}

FakeImapServer::FakeImapServer(const QSslConfiguration& tls, QObject* parent)
    : QObject(parent)
{
    auto* server = new QSslServer(this);
    server->setSslConfiguration(tls);
    m_server = server;
    listen();
}

FakeImapServer::~FakeImapServer() = default;

void FakeImapServer::listen()
{
    m_chunkTimer = new QTimer(this);
    m_chunkTimer->setSingleShot(true);
    connect(m_chunkTimer, &QTimer::timeout, this, &FakeImapServer::sendNextChunk);
    connect(m_server, &QTcpServer::pendingConnectionAvailable, this, &FakeImapServer::onPendingConnection);
    if (!m_server->listen(QHostAddress::LocalHost))
        m_errors.append(QStringLiteral("cannot listen: ") + m_server->errorString());
    m_steps.append(std::make_shared<Step>(Step::of(Step::Kind::Accept)));
}

quint16 FakeImapServer::port() const { return m_server->serverPort(); }

FakeImapServer& FakeImapServer::add(Step step)
{
    m_steps.append(std::make_shared<Step>(std::move(step)));
    // Steps added while the script is idle run as soon as they can.
    QTimer::singleShot(0, this, &FakeImapServer::advance);
    return *this;
}

FakeImapServer& FakeImapServer::send(const QByteArray& bytes)
{
    return add(Step::of(Step::Kind::Send, bytes));
}
FakeImapServer& FakeImapServer::sendLine(const QByteArray& line) { return send(line + "\r\n"); }
FakeImapServer& FakeImapServer::expect(const QByteArray& line)
{
    return add(Step::of(Step::Kind::Expect, line));
}
FakeImapServer& FakeImapServer::drop() { return add(Step::of(Step::Kind::Drop)); }
FakeImapServer& FakeImapServer::acceptNext() { return add(Step::of(Step::Kind::Accept)); }
FakeImapServer& FakeImapServer::expectClose() { return add(Step::of(Step::Kind::ExpectClose)); }

FakeImapServer& FakeImapServer::sendSlowly(const QByteArray& bytes, int chunkSize, int intervalMs)
{
    Step step = Step::of(Step::Kind::SendSlowly, bytes);
    step.chunkSize = qMax(1, chunkSize);
    step.intervalMs = intervalMs;
    return add(std::move(step));
}

FakeImapServer& FakeImapServer::run(std::function<void()> action)
{
    Step step = Step::of(Step::Kind::Run);
    step.action = std::move(action);
    return add(std::move(step));
}

bool FakeImapServer::scriptDone() const { return m_next >= m_steps.size() && !m_busy; }

void FakeImapServer::onPendingConnection()
{
    while (QTcpSocket* socket = m_server->nextPendingConnection()) {
        socket->setParent(this);
        if (m_responder) {
            converse(socket);
            continue;
        }
        connect(socket, &QIODevice::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QAbstractSocket::disconnected, this, [this, socket] { onDisconnected(socket); });
        m_waiting.append(socket);
    }
    if (!m_responder)
        advance();
}

FakeImapServer& FakeImapServer::respondWith(const Reply& greeting, Responder responder)
{
    m_greeting = greeting;
    m_responder = std::move(responder);
    // Connections accepted before the switch are answered too.
    const QList<QTcpSocket*> waiting = m_waiting;
    m_waiting.clear();
    for (QTcpSocket* socket : waiting) {
        disconnect(socket, nullptr, this, nullptr);
        converse(socket);
    }
    return *this;
}

void FakeImapServer::converse(QTcpSocket* socket)
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

void FakeImapServer::answerNext(const std::shared_ptr<Conversation>& c)
{
    while (!c->sending && !c->closeAfter && c->socket
           && c->socket->state() == QAbstractSocket::ConnectedState) {
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

void FakeImapServer::reply(const std::shared_ptr<Conversation>& c, const Reply& answer)
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

bool FakeImapServer::takeLine(QByteArray& line)
{
    const qsizetype end = m_buffer.indexOf('\n');
    if (end < 0)
        return false;
    line = m_buffer.left(end);
    if (line.endsWith('\r'))
        line.chop(1);
    m_buffer.remove(0, end + 1);
    return true;
}

void FakeImapServer::onReadyRead(QTcpSocket* socket)
{
    if (socket != m_socket)
        return;
    const QByteArray data = socket->readAll();
    m_buffer += data;
    const bool expecting =
        m_next < m_steps.size() && !m_busy &&
        (m_steps[m_next]->kind == Step::Kind::Expect || m_steps[m_next]->kind == Step::Kind::ExpectClose);
    if (!expecting) {
        m_errors.append(m_next >= m_steps.size()
                            ? QStringLiteral("unexpected data after the script ended: ") +
                                  QString::fromUtf8(data.left(200))
                            : QStringLiteral("the client sent data while the server was still answering: ") +
                                  QString::fromUtf8(data.left(200)));
    }
    advance();
}

void FakeImapServer::onDisconnected(QTcpSocket* socket)
{
    if (socket != m_socket)
        return;
    m_clientClosed = true;
    advance();
}

void FakeImapServer::sendNextChunk()
{
    if (!m_socket) {
        m_busy = false;
        m_slowRest.clear();
        advance();
        return;
    }
    m_socket->write(m_slowRest.left(m_chunkSize));
    m_slowRest.remove(0, qMin<qsizetype>(m_chunkSize, m_slowRest.size()));
    if (!m_slowRest.isEmpty()) {
        m_chunkTimer->start(m_chunkIntervalMs);
        return;
    }
    m_busy = false;
    advance();
}

void FakeImapServer::advance()
{
    if (m_advancing)
        return;  // an action of a step may come back here: the loop below carries on
    m_advancing = true;
    while (!m_busy && m_next < m_steps.size()) {
        Step& step = *m_steps[m_next];
        switch (step.kind) {
        case Step::Kind::Accept: {
            if (m_waiting.isEmpty()) {
                m_advancing = false;
                return;
            }
            if (m_socket)
                m_socket->abort();
            m_socket = m_waiting.takeFirst();
            m_buffer.clear();
            m_clientClosed = false;
            ++m_accepted;
            ++m_next;
            if (m_socket->bytesAvailable() > 0)
                m_buffer += m_socket->readAll();
            break;
        }
        case Step::Kind::Send:
            if (step.bytes.startsWith('+') && !m_buffer.isEmpty())
                m_errors.append(QStringLiteral("the client sent data before the continuation request: ") +
                                QString::fromUtf8(m_buffer.left(200)));
            if (m_socket)
                m_socket->write(step.bytes);
            ++m_next;
            break;
        case Step::Kind::Expect: {
            QByteArray line;
            if (!takeLine(line)) {
                if (m_socket && m_socket->state() == QAbstractSocket::ConnectedState) {
                    m_advancing = false;
                    return;
                }
                m_errors.append(QStringLiteral("the connection closed while expecting: ") +
                                QString::fromUtf8(step.bytes));
                m_next = m_steps.size();
                break;
            }
            if (line != step.bytes) {
                m_errors.append(QStringLiteral("expected \"%1\" but the client sent \"%2\"")
                                    .arg(QString::fromUtf8(step.bytes), QString::fromUtf8(line)));
                if (m_socket)
                    m_socket->abort();
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
            m_chunkTimer->start(0);
            break;
        case Step::Kind::Drop:
            if (m_socket)
                m_socket->disconnectFromHost();
            m_socket = nullptr;
            ++m_next;
            break;
        case Step::Kind::ExpectClose:
            if (m_socket && m_socket->state() == QAbstractSocket::ConnectedState && !m_clientClosed) {
                m_advancing = false;
                return;
            }
            ++m_next;
            break;
        case Step::Kind::Run:
            ++m_next;
            if (step.action)
                step.action();
            break;
        }
    }
    m_advancing = false;
}
