#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <optional>

// A private desktop keyring for one test program: a session bus of its own (with no services
// to activate, so a keyring that is gone stays gone), then GNOME Keyring on it with a login
// keyring unlocked, in a temporary home. start() points this process's session bus at it, so
// it must run before anything in the process connects to a session bus (a failed attempt, with
// no bus there, does no harm). The destructor stops both.
class KeyringHarness {
public:
    KeyringHarness() = default;
    ~KeyringHarness();
    KeyringHarness(const KeyringHarness&) = delete;
    KeyringHarness& operator=(const KeyringHarness&) = delete;

    // Empty when dbus-daemon, gnome-keyring-daemon, secret-tool or libsecret is missing: the
    // reason to skip.
    static QString missingPackages();

    // Starts the bus and the keyring and waits (bounded) until the keyring owns its bus name.
    bool start();
    bool isRunning() const { return !m_address.isEmpty(); }
    QString errorText() const { return m_error; }
    // A path inside the harness's temporary folder.
    QString path(const QString& name) const { return m_dir.filePath(name); }

    // The keyring stops answering (SIGSTOP) and answers again (SIGCONT).
    void freeze();
    void thaw();
    // The keyring ends; the bus stays, with nobody serving secrets.
    void stopKeyring();

    // The secret QtKeychain stored for `service` and `key`, looked up with secret-tool;
    // nothing when there is no such entry.
    std::optional<QString> lookup(const QString& service, const QString& key);
    // The entry's label as a keyring manager shows it (from secret-tool search).
    QString label(const QString& service, const QString& key);
    // Whether any file under the keyring's home or `folder` holds `text` as plain bytes.
    bool anyFileHolds(const QString& folder, const QByteArray& text) const;

private:
    bool secretsOwned();
    QProcessEnvironment environment() const;

    QTemporaryDir m_dir;
    QProcess m_bus;
    QProcess m_keyring;
    QString m_address;
    QString m_error;
};
