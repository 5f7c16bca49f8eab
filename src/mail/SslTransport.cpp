#include "mail/SslTransport.h"

#include <QSslConfiguration>
#include <QSslError>
#include <QSslSocket>

SslTransport::SslTransport(QObject* parent)
    : ImapTransport(parent)
    , m_socket(std::make_unique<QSslSocket>())
{
    QSslSocket* s = m_socket.get();
    QObject::connect(s, &QIODevice::readyRead, this, &ImapTransport::activity);
    QObject::connect(s, &QAbstractSocket::stateChanged, this, &ImapTransport::activity);
    QObject::connect(s, &QAbstractSocket::errorOccurred, this, &ImapTransport::activity);
    QObject::connect(s, &QSslSocket::encrypted, this, &ImapTransport::activity);
    QObject::connect(s, &QAbstractSocket::connected, this, [this] { setReached(true); });
    QObject::connect(s, &QSslSocket::sslErrors, this, [this](const QList<QSslError>& errors) {
        for (const QSslError& error : errors) {
            m_tlsErrors.append(error.errorString());
            m_tlsErrorCodes.append(error.error());
        }
    });
}

SslTransport::~SslTransport()
{
    m_socket->disconnect(this);
    m_socket->abort();
}

void SslTransport::open(const QString& host, quint16 port, bool tls,
                        const QList<QSslCertificate>& extraAuthorities)
{
    m_tlsErrors.clear();
    m_tlsErrorCodes.clear();
    setReached(false);
    if (!tls) {
        m_socket->connectToHost(host, port);
        return;
    }
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    // The system's store is read once; every connect verifies against the same list.
    static const QList<QSslCertificate> systemAuthorities = QSslConfiguration::systemCaCertificates();
    configuration.setCaCertificates(systemAuthorities + extraAuthorities);
    configuration.setPeerVerifyMode(QSslSocket::VerifyPeer);
    m_socket->setSslConfiguration(configuration);
    m_socket->connectToHostEncrypted(host, port);
}

qint64 SslTransport::write(const QByteArray& bytes)
{
    const qint64 written = m_socket->write(bytes);
    // Hand the command to the network now rather than at the next turn of the event loop.
    m_socket->flush();
    return written;
}

QByteArray SslTransport::read()
{
    // A read-ahead's answers pile up in the socket while messages become rows: taking megabytes
    // at once would put every take in fresh memory, each of its pages a fault. Taken a part at a
    // time, the memory is the same few blocks over and over.
    constexpr qint64 kMaxTake = 64 * 1024;
    return m_socket->read(kMaxTake);
}
qint64 SslTransport::bytesAvailable() const
{
    return m_socket->bytesAvailable();
}
QAbstractSocket::SocketState SslTransport::state() const
{
    return m_socket->state();
}
QString SslTransport::errorString() const
{
    return m_socket->errorString();
}
void SslTransport::abort()
{
    m_socket->abort();
}
