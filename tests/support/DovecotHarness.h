#pragma once

#include "support/MaildirWriter.h"

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <map>
#include <memory>
#include <utility>
#include <vector>

class TestCertificates;

// A private Dovecot IMAP server for one test program: it runs in the foreground from a
// temporary folder, listens on 127.0.0.1 on two free ports (implicit TLS and plain), presents
// a server certificate issued at start by the test CA (TestCertificates), and serves Maildir accounts
// from passwd files. Every account has the folders Inbox, Drafts, Sent, Junk and Deleted
// (hierarchy separator "/"). The destructor stops the server.
//
// Run as root (as CI does) the server's own processes run as root and the mail processes as
// nobody:nogroup; run as another user, everything runs as that user.
class DovecotHarness {
public:
    struct Options {
        // Names the server certificate is issued for (its subjectAltName).
        QString subjectAltName = QStringLiteral("DNS:localhost,IP:127.0.0.1");
        // Also accept OAuth 2.0 bearer tokens (SASL XOAUTH2 and OAUTHBEARER): JWTs signed with
        // HS256 under this server's secret (bearerToken()), checked by the server itself. Password
        // sign-in then stays with PLAIN and LOGIN.
        bool bearerTokens = false;
        // The folders of every account besides the inbox, each with the special-use attribute
        // (RFC 6154) the server announces for it, or none; empty: Drafts, Sent, Junk and
        // Deleted with \Drafts, \Sent, \Junk and \Trash.
        std::vector<std::pair<QString, QString>> folders;
    };

    DovecotHarness();
    explicit DovecotHarness(const Options& options);
    ~DovecotHarness();
    DovecotHarness(const DovecotHarness&) = delete;
    DovecotHarness& operator=(const DovecotHarness&) = delete;

    // Makes certificates, configuration and the default account, starts the server and waits
    // (bounded) until both ports accept connections. On failure errorText() says why.
    bool start();
    // TERM, then waits for the server to end (KILL when it does not).
    void stop();
    bool isRunning() const;
    QString errorText() const { return m_error; }
    QString log();  // the server's log so far, with anything it wrote before opening it

    static QString host() { return QStringLiteral("127.0.0.1"); }
    quint16 imapsPort() const { return m_imapsPort; }
    quint16 imapPort() const { return m_imapPort; }
    QString caPemPath() const; // the CA that issued the server certificate (the test CA)
    // A CA that issued nothing this server presents.
    QString foreignCaPemPath() const;
    QString rootPath() const { return m_dir.path(); }

    static const QStringList& folderNames();  // Inbox, Drafts, Sent, Junk, Deleted
    static QString defaultUser() { return QStringLiteral("ann.tester@corvanel.test"); }
    static QString defaultPassword() { return QStringLiteral("Tr0ub4dor-3"); }

    // A bearer token for `subject` (the login name it is good for) that expires at `expires`,
    // signed with this server's secret; with Options::bearerTokens the server accepts it.
    QByteArray bearerToken(const QString& subject, const QDateTime& expires) const;
    QByteArray tokenSecret() const { return m_tokenSecret; }

    // Adds an account with its five empty folders; it can log in at once, also while the
    // server runs. (A new password for an existing account counts from the next second on.)
    // Any text without ':' or a line break is a usable password, spaces, quotes, backslashes
    // and non-ASCII letters included.
    bool addUser(const QString& user, const QString& password);

    // The Maildir of an account (the default account when user is empty).
    MaildirWriter& maildir(const QString& user = QString());
    // Stores a message in a folder of an account; returns its unique name (empty on failure).
    QString writeMessage(const QString& folder, const QByteArray& raw, const QString& flags = QString(),
                         const QString& user = QString(), const QDateTime& received = QDateTime());
    bool isSeen(const QString& folder, const QString& unique, const QString& user = QString());

private:
    bool run(const QString& program, const QStringList& arguments, QString* output = nullptr);
    bool makeCertificates();
    bool writeConfig();
    bool writeTokenKeys();
    bool writeUserFile(const QString& user, const QString& password);
    bool waitUntilReady();
    QString homeOf(const QString& user) const;
    std::vector<std::pair<QString, QString>> folders() const;  // with their special uses

    Options m_options;
    QTemporaryDir m_dir;
    QProcess m_process;
    QString m_error;
    quint16 m_imapsPort = 0;
    quint16 m_imapPort = 0;
    std::unique_ptr<TestCertificates> m_certificates;
    int m_mailUid = -1;
    int m_mailGid = -1;
    QString m_mailUser;
    QString m_mailGroup;
    QString m_internalUser;
    QString m_internalGroup;
    QByteArray m_tokenSecret;
    std::map<QString, QString> m_passwords;
    std::map<QString, std::unique_ptr<MaildirWriter>> m_maildirs;
};
