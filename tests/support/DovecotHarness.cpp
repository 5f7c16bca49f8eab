#include "support/DovecotHarness.h"

#include "support/JwtSigner.h"
#include "support/TestCertificates.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

namespace {

const auto kFolderMode = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup
                         | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther;

quint16 freePort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

QString dovecotProgram()
{
    QString program = QStandardPaths::findExecutable(QStringLiteral("dovecot"));
    if (program.isEmpty())
        program = QStandardPaths::findExecutable(
            QStringLiteral("dovecot"), {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/local/sbin"),
                                        QStringLiteral("/sbin")});
    return program;
}

bool writeFile(const QString& path, const QByteArray& content)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(content);
    return file.commit();
}

} // namespace

const QStringList& DovecotHarness::folderNames()
{
    static const QStringList names{QStringLiteral("Inbox"), QStringLiteral("Drafts"), QStringLiteral("Sent"),
                                   QStringLiteral("Junk"), QStringLiteral("Deleted")};
    return names;
}

std::vector<std::pair<QString, QString>> DovecotHarness::folders() const
{
    if (!m_options.folders.empty())
        return m_options.folders;
    const QStringList specialUse{QString(), QStringLiteral("\\Drafts"), QStringLiteral("\\Sent"),
                                 QStringLiteral("\\Junk"), QStringLiteral("\\Trash")};
    std::vector<std::pair<QString, QString>> list;
    for (int i = 1; i < folderNames().size(); ++i)
        list.emplace_back(folderNames()[i], specialUse[i]);
    return list;
}

DovecotHarness::DovecotHarness() : DovecotHarness(Options()) {}

DovecotHarness::DovecotHarness(const Options& options) : m_options(options)
{
    // A private folder of mode 0700 makes SELECT fail inside the mail process: open it up.
    QFile::setPermissions(m_dir.path(), kFolderMode);

    if (::geteuid() == 0) {
        // Login processes refuse to run as root, mail processes refuse uid 0.
        m_internalUser = m_internalGroup = QStringLiteral("root");
        m_mailUser = QStringLiteral("nobody");
        m_mailGroup = QStringLiteral("nogroup");
        if (const passwd* pw = ::getpwnam("nobody"))
            m_mailUid = int(pw->pw_uid);
        if (const group* gr = ::getgrnam("nogroup"))
            m_mailGid = int(gr->gr_gid);
        else if (const group* gr2 = ::getgrnam("nobody"))
            m_mailGid = int(gr2->gr_gid), m_mailGroup = QStringLiteral("nobody");
    } else {
        const passwd* pw = ::getpwuid(::geteuid());
        const group* gr = ::getgrgid(::getegid());
        m_internalUser = m_mailUser = pw ? QString::fromLocal8Bit(pw->pw_name) : QString();
        m_internalGroup = m_mailGroup = gr ? QString::fromLocal8Bit(gr->gr_name) : QString();
    }
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    if (m_options.bearerTokens) {
        m_tokenSecret.resize(32);
        QRandomGenerator::system()->fillRange(reinterpret_cast<quint32*>(m_tokenSecret.data()),
                                              m_tokenSecret.size() / int(sizeof(quint32)));
    }
}

DovecotHarness::~DovecotHarness() { stop(); }

QString DovecotHarness::caPemPath() const
{
    return m_certificates ? m_certificates->caFile() : QString();
}

QString DovecotHarness::log()
{
    QFile file(m_dir.filePath(QStringLiteral("dovecot.log")));
    QString text;
    if (file.open(QIODevice::ReadOnly))
        text = QString::fromUtf8(file.readAll());
    return text + QString::fromUtf8(m_process.readAll());
}

bool DovecotHarness::run(const QString& program, const QStringList& arguments, QString* output)
{
    QProcess process;
    process.setWorkingDirectory(m_dir.path());
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    const bool finished = process.waitForFinished(60000);
    const QString text = QString::fromLocal8Bit(process.readAll());
    if (output)
        *output = text;
    if (!finished || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        m_error = program + QLatin1Char(' ') + arguments.join(QLatin1Char(' ')) + QLatin1String(" failed: ")
                  + (process.error() == QProcess::FailedToStart ? QStringLiteral("not found") : text);
        return false;
    }
    return true;
}

bool DovecotHarness::makeCertificates()
{
    m_certificates = std::make_unique<TestCertificates>(m_options.subjectAltName);
    if (!m_certificates->ok()) {
        m_error = m_certificates->errorText();
        m_certificates.reset();
        return false;
    }
    return true;
}

QString DovecotHarness::foreignCaPemPath() const
{
    return m_certificates ? m_certificates->foreignCaFile() : QString();
}

bool DovecotHarness::writeConfig()
{
    const QString root = m_dir.path();
    const bool asRoot = ::geteuid() == 0;
    QString mailboxes;
    for (const auto& [name, specialUse] : folders()) {
        mailboxes += QStringLiteral("  mailbox \"%1\" {\n").arg(name);
        if (!specialUse.isEmpty())
            mailboxes += QStringLiteral("    special_use = %1\n").arg(specialUse);
        mailboxes += QStringLiteral("    auto = subscribe\n  }\n");
    }

    QString config;
    config += QStringLiteral("base_dir = %1/run\n").arg(root);
    config += QStringLiteral("state_dir = %1/state\n").arg(root);
    config += QStringLiteral("log_path = %1/dovecot.log\n").arg(root);
    config += QStringLiteral("listen = 127.0.0.1\n"
                             "protocols = imap\n");
    config += QStringLiteral("default_internal_user = %1\n").arg(m_internalUser);
    config += QStringLiteral("default_internal_group = %1\n").arg(m_internalGroup);
    config += QStringLiteral("default_login_user = %1\n").arg(asRoot ? QStringLiteral("nobody") : m_internalUser);
    config += QStringLiteral("ssl = yes\n");
    config += QStringLiteral("ssl_cert = <%1\n")
                  .arg(m_certificates->certificateFile(TestCertificates::Server::Trusted));
    config +=
        QStringLiteral("ssl_key = <%1\n").arg(m_certificates->keyFile(TestCertificates::Server::Trusted));
    config += QStringLiteral("disable_plaintext_auth = no\n"
                             "auth_failure_delay = 0\n"
                             "mail_location = maildir:~/Maildir\n");
    config += m_options.bearerTokens ? QStringLiteral("auth_mechanisms = plain login xoauth2 oauthbearer\n")
                                     : QStringLiteral("auth_mechanisms = plain login\n");
    config += QStringLiteral("service imap-login {\n"
                             "  inet_listener imap {\n"
                             "    port = %1\n"
                             "  }\n"
                             "  inet_listener imaps {\n"
                             "    port = %2\n"
                             "    ssl = yes\n"
                             "  }\n")
                  .arg(m_imapPort)
                  .arg(m_imapsPort);
    if (!asRoot)
        config += QStringLiteral("  chroot =\n");
    config += QStringLiteral("}\n");
    if (!asRoot)
        config += QStringLiteral("service anvil {\n  chroot =\n}\n");
    if (m_options.bearerTokens) {
        // Tokens are checked first and only for the token mechanisms; passwords only for the others.
        config += QStringLiteral("passdb {\n"
                                 "  driver = oauth2\n"
                                 "  mechanisms = xoauth2 oauthbearer\n"
                                 "  args = %1/oauth2.conf\n"
                                 "}\n")
                      .arg(root);
    }
    config += QStringLiteral("passdb {\n"
                             "  driver = passwd-file\n")
              + (m_options.bearerTokens ? QStringLiteral("  mechanisms = plain login\n") : QString())
              + QStringLiteral("  args = scheme=PLAIN %1/users/%u\n"
                             "}\n"
                             "userdb {\n"
                             "  driver = passwd-file\n"
                             "  args = %1/users/%u\n"
                             "  default_fields = uid=%2 gid=%3\n"
                             "}\n")
                  .arg(root, m_mailUser, m_mailGroup);
    config += QStringLiteral("namespace inbox {\n"
                             "  inbox = yes\n"
                             "  separator = /\n")
              + mailboxes + QStringLiteral("}\n");
    return writeFile(m_dir.filePath(QStringLiteral("dovecot.conf")), config.toUtf8());
}

// The secret the server checks tokens with, and how it checks them: locally, with the key file
// keys/<azp or "default">/<algorithm>/<kid or "default">, which holds the secret in base64.
bool DovecotHarness::writeTokenKeys()
{
    const QString root = m_dir.path();
    const QString keyDir = root + QStringLiteral("/keys/default/HS256");
    if (!QDir().mkpath(keyDir))
        return false;
    for (const QString& path : {root + QStringLiteral("/keys"), root + QStringLiteral("/keys/default"), keyDir})
        QFile::setPermissions(path, kFolderMode);
    const QByteArray settings = "introspection_mode = local\n"
                                "local_validation_key_dict = fs:posix:prefix=" + root.toUtf8() + "/keys/\n"
                                "username_attribute = sub\n";
    return writeFile(keyDir + QStringLiteral("/default"), m_tokenSecret.toBase64())
           && writeFile(m_dir.filePath(QStringLiteral("oauth2.conf")), settings);
}

QByteArray DovecotHarness::bearerToken(const QString& subject, const QDateTime& expires) const
{
    const QJsonObject claims{{QStringLiteral("sub"), subject},
                             {QStringLiteral("iat"), QDateTime::currentSecsSinceEpoch()},
                             {QStringLiteral("exp"), expires.toSecsSinceEpoch()}};
    return JwtSigner::hs256(m_tokenSecret, claims);
}

QString DovecotHarness::homeOf(const QString& user) const
{
    // Account names may hold '@' and dots; the folder name only needs to be unique.
    return m_dir.filePath(QStringLiteral("home/") + QString::fromLatin1(user.toUtf8().toHex()));
}

bool DovecotHarness::writeUserFile(const QString& user, const QString& password)
{
    // One passwd-file per account: the server keeps what it read from a file for the rest of
    // that second, so a single shared file could hide an account added just after a login.
    // A file of its own is read at the account's first login. Login names are looked up in
    // lower case.
    const QString dir = m_dir.filePath(QStringLiteral("users"));
    QDir().mkpath(dir);
    // user:password:uid:gid:gecos:home:shell; uid and gid come from the defaults.
    const QByteArray line =
        user.toUtf8() + ":{PLAIN}" + password.toUtf8() + ":::" + ":" + homeOf(user).toUtf8() + "::\n";
    return writeFile(dir + QLatin1Char('/') + user.toLower(), line);
}

bool DovecotHarness::addUser(const QString& user, const QString& password)
{
    if (user.isEmpty() || user.contains(QLatin1Char(':')) || password.contains(QLatin1Char(':'))
        || password.contains(QLatin1Char('\n')) || password.contains(QLatin1Char('\r')))
        return false;
    const QString home = homeOf(user);
    if (!QDir().mkpath(home))
        return false;
    QFile::setPermissions(home, kFolderMode);
    if (m_mailUid >= 0)
        (void)::chown(QFile::encodeName(home).constData(), uid_t(m_mailUid), gid_t(m_mailGid));
    auto& writer = m_maildirs[user];
    if (!writer)
        writer = std::make_unique<MaildirWriter>(home + QLatin1String("/Maildir"), m_mailUid, m_mailGid);
    if (!writer->createFolder(QStringLiteral("Inbox")))
        return false;
    for (const auto& [folder, specialUse] : folders())
        if (!writer->createFolder(folder))
            return false;
    m_passwords[user] = password;
    return writeUserFile(user, password);
}

MaildirWriter& DovecotHarness::maildir(const QString& user)
{
    const QString name = user.isEmpty() ? defaultUser() : user;
    auto& writer = m_maildirs[name];
    if (!writer)
        writer = std::make_unique<MaildirWriter>(homeOf(name) + QLatin1String("/Maildir"), m_mailUid, m_mailGid);
    return *writer;
}

QString DovecotHarness::writeMessage(const QString& folder, const QByteArray& raw, const QString& flags,
                                     const QString& user, const QDateTime& received)
{
    return maildir(user).write(folder, raw, flags, received);
}

bool DovecotHarness::isSeen(const QString& folder, const QString& unique, const QString& user)
{
    return maildir(user).isSeen(folder, unique);
}

bool DovecotHarness::start()
{
    if (isRunning())
        return true;
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary folder");
        return false;
    }
    const QString program = dovecotProgram();
    if (program.isEmpty()) {
        m_error = QStringLiteral("dovecot is not installed (package dovecot-imapd)");
        return false;
    }
    if (!m_certificates && !makeCertificates())
        return false;
    if (m_options.bearerTokens && !writeTokenKeys()) {
        m_error = QStringLiteral("cannot write the token keys");
        return false;
    }
    if (m_passwords.find(defaultUser()) == m_passwords.end() && !addUser(defaultUser(), defaultPassword())) {
        m_error = QStringLiteral("cannot create the default account");
        return false;
    }
    for (const char* sub : {"run", "state"}) {
        const QString path = m_dir.filePath(QString::fromLatin1(sub));
        QDir().mkpath(path);
        QFile::setPermissions(path, kFolderMode);
    }
    // A port taken between choosing and binding ends the server at once: choose again.
    for (int attempt = 0; attempt < 3; ++attempt) {
        m_imapPort = freePort();
        m_imapsPort = freePort();
        while (m_imapsPort == m_imapPort)
            m_imapsPort = freePort();
        if (!writeConfig()) {
            m_error = QStringLiteral("cannot write dovecot.conf");
            return false;
        }
        m_process.setWorkingDirectory(m_dir.path());
        m_process.start(program, {QStringLiteral("-F"), QStringLiteral("-c"),
                                  m_dir.filePath(QStringLiteral("dovecot.conf"))});
        if (!m_process.waitForStarted(10000)) {
            m_error = QStringLiteral("dovecot did not start: ") + m_process.errorString();
            return false;
        }
        if (waitUntilReady())
            return true;
        stop();
    }
    m_error = QStringLiteral("dovecot did not become ready:\n") + log();
    return false;
}

bool DovecotHarness::waitUntilReady()
{
    const QDeadlineTimer deadline(15000);
    for (const quint16 port : {m_imapsPort, m_imapPort}) {
        for (;;) {
            if (m_process.state() != QProcess::Running || deadline.hasExpired())
                return false;
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, port);
            if (probe.waitForConnected(250)) {
                probe.abort();
                break;
            }
            probe.abort();
            // A refused connection returns at once: give the server a moment before the next try.
            m_process.waitForFinished(20);
        }
    }
    return true;
}

bool DovecotHarness::isRunning() const { return m_process.state() != QProcess::NotRunning; }

void DovecotHarness::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(15000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}
