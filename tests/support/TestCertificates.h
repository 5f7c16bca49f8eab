#pragma once

#include <QSslConfiguration>
#include <QString>
#include <QTemporaryDir>

// The test CA, one for every TLS test and the private Dovecot: certificates made with the openssl
// command into a temporary folder, a test CA, a server certificate signed by it (for
// localhost/127.0.0.1 unless other names are asked for), one signed by a CA nobody trusts, and
// one for another host name signed by the test CA.
class TestCertificates {
public:
    enum class Server { Trusted, UnknownAuthority, OtherHostName };

    explicit TestCertificates(const QString& trustedAltNames = QStringLiteral("DNS:localhost,IP:127.0.0.1"));

    bool ok() const { return m_error.isEmpty(); }
    QString errorText() const { return m_error; }
    QString caFile() const;        // PEM of the test CA
    QString foreignCaFile() const; // PEM of the CA nobody trusts (it signed UnknownAuthority)
    // PEM files of the certificate and the key of the chosen kind.
    QString certificateFile(Server kind) const;
    QString keyFile(Server kind) const;
    // Server side: certificate and key of the chosen kind.
    QSslConfiguration serverConfiguration(Server kind) const;

private:
    bool openssl(const QStringList& arguments);
    bool makeCa(const QString& name, const QString& subject);
    bool makeServer(const QString& name, const QString& ca, const QString& subject, const QString& altNames);
    QString path(const QString& file) const { return m_dir.filePath(file); }
    static QString nameOf(Server kind);

    QTemporaryDir m_dir;
    QString m_error;
};
