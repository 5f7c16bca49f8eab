#pragma once

#include <QAbstractSocket>
#include <QByteArray>
#include <QList>
#include <QObject>
#include <QSslCertificate>
#include <QSslError>
#include <QString>
#include <QStringList>

// The byte stream the IMAP client talks over. In the program it is a QSslSocket (SslTransport);
// tests put an in-memory stream in its place. Reads never block: the client waits for
// `activity` (new data, a change of state, an error) through its clock.
class ImapTransport : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // Starts connecting; with `tls` the server's certificate must chain to the system's store
    // or to one of `extraAuthorities` and name the host.
    virtual void open(const QString& host, quint16 port, bool tls,
                      const QList<QSslCertificate>& extraAuthorities) = 0;
    // Hands all of `bytes` to the network at once; the count written, or -1.
    virtual qint64 write(const QByteArray& bytes) = 0;
    // Takes what has arrived, or a part of it when much has (the rest waits for the next call).
    virtual QByteArray read() = 0;
    virtual qint64 bytesAvailable() const = 0;
    virtual QAbstractSocket::SocketState state() const = 0;
    virtual QString errorString() const = 0;
    // Why the server's certificate was refused, if it was.
    virtual QStringList tlsErrors() const = 0;
    // The same, as codes (which check failed); empty for transports without TLS.
    virtual QList<QSslError::SslError> tlsErrorCodes() const { return {}; }
    // Closes at once, dropping whatever is unsent or unread.
    virtual void abort() = 0;
    // Whether the last open got as far as a connection (before any TLS handshake).
    bool reached() const { return m_reached; }

protected:
    void setReached(bool reached) { m_reached = reached; }

private:
    bool m_reached = false;

public:
Q_SIGNALS:
    void activity();
};
