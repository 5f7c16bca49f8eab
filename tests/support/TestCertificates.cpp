#include "support/TestCertificates.h"

#include <QFile>
#include <QProcess>
#include <QSslCertificate>
#include <QSslKey>

TestCertificates::TestCertificates(const QString& trustedAltNames)
{
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary folder");
        return;
    }
    (void)(makeCa(QStringLiteral("ca"), QStringLiteral("/CN=Corvanel Test CA")) &&
           makeCa(QStringLiteral("unknown-ca"), QStringLiteral("/CN=Unknown Test CA")) &&
           makeServer(QStringLiteral("trusted"), QStringLiteral("ca"), QStringLiteral("/CN=localhost"),
                      trustedAltNames) &&
           makeServer(QStringLiteral("unknown"), QStringLiteral("unknown-ca"),
                      QStringLiteral("/CN=localhost"), QStringLiteral("DNS:localhost,IP:127.0.0.1")) &&
           makeServer(QStringLiteral("otherhost"), QStringLiteral("ca"), QStringLiteral("/CN=other.example"),
                      QStringLiteral("DNS:other.example")));
}

bool TestCertificates::openssl(const QStringList& arguments)
{
    QProcess process;
    process.setWorkingDirectory(m_dir.path());
    process.start(QStringLiteral("openssl"), arguments);
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        m_error = QStringLiteral("openssl %1 failed: %2")
                      .arg(arguments.join(QLatin1Char(' ')),
                           QString::fromLocal8Bit(process.readAllStandardError()) + process.errorString());
        return false;
    }
    return true;
}

bool TestCertificates::makeCa(const QString& name, const QString& subject)
{
    return openssl({"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-days",
                    "2", "-subj", subject, "-addext", "basicConstraints=critical,CA:TRUE", "-addext",
                    "keyUsage=critical,keyCertSign,cRLSign", "-keyout", name + ".key", "-out",
                    name + ".crt"});
}

bool TestCertificates::makeServer(const QString& name, const QString& ca, const QString& subject,
                                  const QString& altNames)
{
    QFile extensions(path(name + ".ext"));
    if (!extensions.open(QIODevice::WriteOnly)) {
        m_error = QStringLiteral("cannot write ") + extensions.fileName();
        return false;
    }
    extensions.write(QStringLiteral("subjectAltName=%1\nbasicConstraints=CA:FALSE\n"
                                    "keyUsage=digitalSignature\nextendedKeyUsage=serverAuth\n")
                         .arg(altNames)
                         .toUtf8());
    extensions.close();
    return openssl({"req", "-new", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-subj",
                    subject, "-keyout", name + ".key", "-out", name + ".csr"}) &&
           openssl({"x509", "-req", "-in", name + ".csr", "-CA", ca + ".crt", "-CAkey", ca + ".key",
                    "-CAcreateserial", "-days", "2", "-extfile", name + ".ext", "-out", name + ".crt"});
}

QString TestCertificates::caFile() const { return path(QStringLiteral("ca.crt")); }
QString TestCertificates::foreignCaFile() const
{
    return path(QStringLiteral("unknown-ca.crt"));
}

QString TestCertificates::nameOf(Server kind)
{
    return kind == Server::Trusted            ? QStringLiteral("trusted")
           : kind == Server::UnknownAuthority ? QStringLiteral("unknown")
                                              : QStringLiteral("otherhost");
}

QString TestCertificates::certificateFile(Server kind) const
{
    return path(nameOf(kind) + ".crt");
}
QString TestCertificates::keyFile(Server kind) const
{
    return path(nameOf(kind) + ".key");
}

QSslConfiguration TestCertificates::serverConfiguration(Server kind) const
{
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    const QList<QSslCertificate> certificates = QSslCertificate::fromPath(certificateFile(kind));
    if (!certificates.isEmpty())
        configuration.setLocalCertificate(certificates.first());
    QFile key(keyFile(kind));
    if (key.open(QIODevice::ReadOnly))
        configuration.setPrivateKey(QSslKey(key.readAll(), QSsl::Ec));
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
    return configuration;
}
