#pragma once

#include "frame/SettingsStore.h"

class SecretStore;

// The settings store the program uses: every key lives in the settings file, except the
// secrets (Password, OAuthRefreshToken), which go to a secret store (the desktop keyring), one
// entry per account and secret, named after the account (`User`) so a keyring manager shows
// whose it is. Renaming the account moves its entries.
//
// When the secret store is unavailable, a secret is kept in the settings file as before. A
// secret found in the settings file (written by an earlier version, or while the keyring was
// unavailable) is moved to the secret store the first time it is read, and the key taken out of
// the file. Writing an empty secret removes it from both places.
class SecretSettingsStore : public SettingsStore {
public:
    SecretSettingsStore(SettingsStore& file, SecretStore& secrets);

    std::optional<QString> value(const QString& key) const override;
    void setValue(const QString& key, const QString& value) override;
    void remove(const QString& key) override { setValue(key, QString()); }

    static bool isSecret(const QString& key);
    // The name of the secret store's entry that holds `key` for `account`.
    static QString entryName(const QString& key, const QString& account);

private:
    QString account() const;
    void moveSecrets(const QString& from, const QString& to);

    SettingsStore& m_file;
    SecretStore& m_secrets;
};
