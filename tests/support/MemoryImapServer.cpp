#include "support/MemoryImapServer.h"

#include "support/MemoryTransport.h"

struct MemoryImapServer::Step {
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

MemoryImapServer::MemoryImapServer()
    : m_clock(std::make_shared<ManualClock>())
{
    m_steps.append(std::make_shared<Step>(Step::of(Step::Kind::Accept)));
}

MemoryImapServer::~MemoryImapServer() = default;

void MemoryImapServer::attach(ImapClient& client)
{
    client.setTransportFactory(factory());
    client.setClock(m_clock);
}

ImapClient::TransportFactory MemoryImapServer::factory()
{
    QPointer<MemoryImapServer> self(this);
    return [self]() -> std::unique_ptr<ImapTransport> { return std::make_unique<MemoryTransport>(self); };
}

MemoryImapServer& MemoryImapServer::add(Step step)
{
    m_steps.append(std::make_shared<Step>(std::move(step)));
    advance();
    return *this;
}

MemoryImapServer& MemoryImapServer::send(const QByteArray& bytes)
{
    return add(Step::of(Step::Kind::Send, bytes));
}
MemoryImapServer& MemoryImapServer::sendLine(const QByteArray& line)
{
    return send(line + "\r\n");
}
MemoryImapServer& MemoryImapServer::expect(const QByteArray& line)
{
    return add(Step::of(Step::Kind::Expect, line));
}
MemoryImapServer& MemoryImapServer::drop()
{
    return add(Step::of(Step::Kind::Drop));
}
MemoryImapServer& MemoryImapServer::acceptNext()
{
    return add(Step::of(Step::Kind::Accept));
}
MemoryImapServer& MemoryImapServer::expectClose()
{
    return add(Step::of(Step::Kind::ExpectClose));
}

MemoryImapServer& MemoryImapServer::sendSlowly(const QByteArray& bytes, int chunkSize, int intervalMs)
{
    return add(Step::of(Step::Kind::SendSlowly, bytes, qMax(1, chunkSize), intervalMs));
}

MemoryImapServer& MemoryImapServer::run(std::function<void()> action)
{
    return add(Step::of(Step::Kind::Run, {}, 0, 0, std::move(action)));
}

MemoryImapServer& MemoryImapServer::wait(int ms)
{
    return add(Step::of(Step::Kind::Wait, {}, 0, ms));
}

bool MemoryImapServer::scriptDone() const
{
    return m_next >= m_steps.size() && !m_busy;
}

bool MemoryImapServer::clientClosed() const
{
    return m_currentClosed;
}

qint64 MemoryImapServer::unreadByClient() const
{
    return m_current ? m_current->bytesAvailable() : 0;
}

void MemoryImapServer::opened(MemoryTransport* transport)
{
    m_waiting.append(transport);
    advance();
}

void MemoryImapServer::received(MemoryTransport* transport, const QByteArray& bytes)
{
    m_written += bytes;
    if (transport != m_current)
        return;
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

void MemoryImapServer::closed(MemoryTransport* transport)
{
    if (transport == m_current)
        m_currentClosed = true;
    m_waiting.removeAll(transport);
    advance();
}

bool MemoryImapServer::takeLine(QByteArray& line)
{
    if (!m_current)
        return false;
    QByteArray& buffer = m_current->unread();
    const qsizetype end = buffer.indexOf('\n');
    if (end < 0)
        return false;
    line = buffer.left(end);
    if (line.endsWith('\r'))
        line.chop(1);
    buffer.remove(0, end + 1);
    return true;
}

void MemoryImapServer::sendNextChunk()
{
    if (m_current)
        m_current->deliver(m_slowRest.left(m_chunkSize));
    m_slowRest.remove(0, qMin<qsizetype>(m_chunkSize, m_slowRest.size()));
    if (!m_slowRest.isEmpty() && m_current && !m_currentClosed) {
        m_clock->after(m_chunkIntervalMs, [self = QPointer(this)] {
            if (self)
                self->sendNextChunk();
        });
        return;
    }
    m_slowRest.clear();
    resume();
}

void MemoryImapServer::resume()
{
    m_busy = false;
    advance();
}

void MemoryImapServer::advance()
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
                if (m_current)
                    m_current->closeByServer();
                m_current = m_waiting.takeFirst();
                m_currentClosed = !m_current;
                ++m_accepted;
                ++m_next;
                break;
            case Step::Kind::Send:
                if (step.bytes.startsWith('+') && m_current && !m_current->unread().isEmpty())
                    m_errors.append(QStringLiteral("the client sent data before the continuation request: ") +
                                    QString::fromUtf8(m_current->unread().left(200)));
                if (m_current)
                    m_current->deliver(step.bytes);
                ++m_next;
                break;
            case Step::Kind::Expect: {
                QByteArray line;
                if (!takeLine(line)) {
                    if (m_current && !m_currentClosed) {
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
                    if (m_current)
                        m_current->closeByServer();
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
                m_clock->after(0, [self = QPointer(this)] {
                    if (self)
                        self->sendNextChunk();
                });
                break;
            case Step::Kind::Drop:
                if (m_current)
                    m_current->closeByServer();
                m_current = nullptr;
                ++m_next;
                break;
            case Step::Kind::ExpectClose:
                if (m_current && !m_currentClosed) {
                    blocked = true;
                    break;
                }
                ++m_next;
                break;
            case Step::Kind::Run: {
                m_busy = true;
                ++m_next;
                std::function<void()> action = step.action;
                m_clock->after(0, [self = QPointer(this), action] {
                    if (!self)
                        return;
                    if (action)
                        action();
                    if (self)
                        self->resume();
                });
                break;
            }
            case Step::Kind::Wait:
                m_busy = true;
                ++m_next;
                m_clock->after(step.intervalMs, [self = QPointer(this)] {
                    if (self)
                        self->resume();
                });
                break;
            }
            if (blocked)
                break;
        }
    } while (m_again);
    m_advancing = false;
}
