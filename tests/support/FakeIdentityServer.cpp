#include "support/FakeIdentityServer.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

namespace {

constexpr qsizetype kMaxRequestBytes = 1024 * 1024;

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

} // namespace

QString FakeIdentityServer::Request::field(const QString& name) const
{
    const QUrlQuery form(QString::fromUtf8(body));
    return form.queryItemValue(name, QUrl::FullyDecoded);
}

QStringList FakeIdentityServer::Request::fieldNames() const
{
    QStringList names;
    for (const auto& item : QUrlQuery(QString::fromUtf8(body)).queryItems(QUrl::FullyDecoded))
        names.append(item.first);
    return names;
}

FakeIdentityServer::FakeIdentityServer(QObject* parent)
    : QObject(parent)
    , m_server(new QTcpServer(this))
{
    m_clock.start();
    connect(m_server, &QTcpServer::pendingConnectionAvailable, this, &FakeIdentityServer::onNewConnection);
    if (!m_server->listen(QHostAddress::LocalHost))
        m_errors.append(QStringLiteral("cannot listen: ") + m_server->errorString());
}

FakeIdentityServer::~FakeIdentityServer()
{
    for (const QPointer<QTcpSocket>& socket : m_hanging) {
        if (socket)
            socket->abort();
    }
}

quint16 FakeIdentityServer::port() const
{
    return m_server->serverPort();
}

QString FakeIdentityServer::authority() const
{
    return QStringLiteral("http://127.0.0.1:%1/consumers").arg(port());
}

FakeIdentityServer& FakeIdentityServer::add(const QByteArray& path, const Scripted& scripted)
{
    m_script[path].append(scripted);
    return *this;
}

FakeIdentityServer& FakeIdentityServer::answer(const QByteArray& path, int status, const QByteArray& body)
{
    return add(path, Scripted{Scripted::Kind::Answer, status, body});
}

FakeIdentityServer& FakeIdentityServer::drop(const QByteArray& path)
{
    return add(path, Scripted{Scripted::Kind::Drop, 0, {}});
}

FakeIdentityServer& FakeIdentityServer::hang(const QByteArray& path)
{
    return add(path, Scripted{Scripted::Kind::Hang, 0, {}});
}

QList<FakeIdentityServer::Request> FakeIdentityServer::requestsTo(const QByteArray& path) const
{
    QList<Request> matching;
    for (const Request& request : m_requests) {
        if (request.path == path)
            matching.append(request);
    }
    return matching;
}

int FakeIdentityServer::unusedAnswers() const
{
    int count = 0;
    for (const QList<Scripted>& queue : m_script)
        count += int(queue.size());
    return count;
}

void FakeIdentityServer::onNewConnection()
{
    while (QTcpSocket* socket = m_server->nextPendingConnection()) {
        socket->setParent(this);
        connect(socket, &QIODevice::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QAbstractSocket::disconnected, this, [this, socket] {
            m_buffers.remove(socket);
            socket->deleteLater();
        });
        m_buffers.insert(socket, QByteArray());
        if (socket->bytesAvailable() > 0)
            onReadyRead(socket);
    }
}

void FakeIdentityServer::onReadyRead(QTcpSocket* socket)
{
    if (!m_buffers.contains(socket))
        return; // already answered: anything more is not read
    QByteArray& buffer = m_buffers[socket];
    buffer += socket->readAll();
    if (buffer.size() > kMaxRequestBytes) {
        m_errors.append(QStringLiteral("request too large"));
        socket->abort();
        return;
    }
    const qsizetype headerEnd = buffer.indexOf("\r\n\r\n");
    if (headerEnd < 0)
        return;
    const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
    Request request;
    const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
    if (requestLine.size() != 3 || !requestLine[2].startsWith("HTTP/1.")) {
        m_errors.append(QStringLiteral("not an HTTP/1.x request line: ") +
                        QString::fromLatin1(lines.first()));
        socket->abort();
        return;
    }
    request.method = requestLine[0];
    request.path = requestLine[1];
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon > 0)
            request.headers.insert(line.left(colon).trimmed().toLower(), line.mid(colon + 1).trimmed());
    }
    const qsizetype length = request.headers.value("content-length", "0").toLongLong();
    if (buffer.size() < headerEnd + 4 + length)
        return; // the body is still on its way
    request.body = buffer.mid(headerEnd + 4, length);
    request.atMs = m_clock.elapsed();
    m_buffers.remove(socket);
    m_requests.append(request);
    respond(socket, request);
}

void FakeIdentityServer::respond(QTcpSocket* socket, const Request& request)
{
    QList<Scripted>& queue = m_script[request.path];
    Scripted scripted;
    if (queue.isEmpty()) {
        m_errors.append(QStringLiteral("nothing scripted for request %1 to %2")
                            .arg(m_requests.size())
                            .arg(QString::fromLatin1(request.path)));
        scripted = Scripted{Scripted::Kind::Answer, 500, "{\"error\":\"server_error\"}"};
    } else {
        scripted = queue.takeFirst();
    }
    switch (scripted.kind) {
    case Scripted::Kind::Drop:
        socket->abort();
        return;
    case Scripted::Kind::Hang:
        m_hanging.append(socket);
        return;
    case Scripted::Kind::Answer:
        break;
    }
    QByteArray response =
        "HTTP/1.1 " + QByteArray::number(scripted.status) + ' ' + reasonPhrase(scripted.status) + "\r\n";
    response += "Content-Type: application/json; charset=utf-8\r\n";
    response += "Content-Length: " + QByteArray::number(scripted.body.size()) + "\r\n";
    response += "Connection: close\r\n\r\n";
    response += scripted.body;
    socket->write(response);
    socket->disconnectFromHost();
}
