#pragma once

#include <QSslConfiguration>
#include <QString>
#include <QTemporaryDir>

// Certificates made for TLS tests with the openssl command into a temporary folder: a test CA,
// server certificates for localhost/127.0.0.1 signed by it, one signed by a CA nobody trusts,
// and one for another host name signed by the test CA.
class TestCertificates {
public:
    enum class Server { Trusted, UnknownAuthority, OtherHostName };

    TestCertificates();

    bool ok() const { return m_error.isEmpty(); }
    QString errorText() const { return m_error; }
    QString caFile() const;  // PEM of the test CA
    // Server side: certificate and key of the chosen kind.
    QSslConfiguration serverConfiguration(Server kind) const;

private:
    bool openssl(const QStringList& arguments);
    bool makeCa(const QString& name, const QString& subject);
    bool makeServer(const QString& name, const QString& ca, const QString& subject, const QString& altNames);
    QString path(const QString& file) const { return m_dir.filePath(file); }

    QTemporaryDir m_dir;
    QString m_error;
};
