#pragma once

#include "mail/ImapTransport.h"

#include <memory>

class QSslSocket;

// The program's transport: a QSslSocket, plain or TLS with the peer verified.
class SslTransport : public ImapTransport {
    Q_OBJECT
public:
    explicit SslTransport(QObject* parent = nullptr);
    ~SslTransport() override;

    void open(const QString& host, quint16 port, bool tls,
              const QList<QSslCertificate>& extraAuthorities) override;
    qint64 write(const QByteArray& bytes) override;
    QByteArray read() override;
    qint64 bytesAvailable() const override;
    QAbstractSocket::SocketState state() const override;
    QString errorString() const override;
    QStringList tlsErrors() const override { return m_tlsErrors; }
    QList<QSslError::SslError> tlsErrorCodes() const override { return m_tlsErrorCodes; }
    void abort() override;

private:
    std::unique_ptr<QSslSocket> m_socket;
    QStringList m_tlsErrors;
    QList<QSslError::SslError> m_tlsErrorCodes;
};
