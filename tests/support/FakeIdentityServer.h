#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QUrlQuery>

class QTcpServer;
class QTcpSocket;

// A scripted OAuth sign-in service on 127.0.0.1 for tests, speaking just enough HTTP/1.1: it reads
// one request per connection (request line, headers, a body of Content-Length bytes), answers it
// with the next answer scripted for that path, and closes the connection. Each path has its own
// queue of answers, used in order. An answer can also drop the connection without a word, or
// keep it open and never answer. A request for which nothing is scripted is recorded as an error
// and answered 500.
class FakeIdentityServer : public QObject {
    Q_OBJECT
public:
    struct Request {
        QByteArray method;
        QByteArray path;
        QMap<QByteArray, QByteArray> headers; // names in lower case
        QByteArray body;
        qint64 atMs = 0; // when it arrived, counted from the server's start

        // A field of an application/x-www-form-urlencoded body, decoded.
        QString field(const QString& name) const;
        QStringList fieldNames() const;
    };

    explicit FakeIdentityServer(QObject* parent = nullptr);
    ~FakeIdentityServer() override;

    quint16 port() const;
    // The base address to configure as the sign-in authority ("http://127.0.0.1:<port>/consumers").
    QString authority() const;
    static QByteArray deviceCodePath() { return "/consumers/oauth2/v2.0/devicecode"; }
    static QByteArray tokenPath() { return "/consumers/oauth2/v2.0/token"; }

    FakeIdentityServer& answer(const QByteArray& path, int status, const QByteArray& body);
    FakeIdentityServer& drop(const QByteArray& path); // close the connection instead of answering
    FakeIdentityServer& hang(const QByteArray& path); // keep the connection, never answer

    QList<Request> requests() const { return m_requests; }
    QList<Request> requestsTo(const QByteArray& path) const;
    QStringList errors() const { return m_errors; }
    int unusedAnswers() const;

private:
    struct Scripted {
        enum class Kind { Answer, Drop, Hang } kind = Kind::Answer;
        int status = 200;
        QByteArray body;
    };
    struct Connection {
        QPointer<QTcpSocket> socket;
        QByteArray buffer;
        bool handled = false;
    };

    FakeIdentityServer& add(const QByteArray& path, const Scripted& scripted);
    void onNewConnection();
    void onReadyRead(QTcpSocket* socket);
    void respond(QTcpSocket* socket, const Request& request);

    QTcpServer* m_server = nullptr;
    QElapsedTimer m_clock;
    QMap<QByteArray, QList<Scripted>> m_script;
    QMap<QTcpSocket*, QByteArray> m_buffers;
    QList<QPointer<QTcpSocket>> m_hanging;
    QList<Request> m_requests;
    QStringList m_errors;
};
