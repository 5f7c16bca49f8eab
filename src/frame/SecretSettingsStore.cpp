#include "frame/SecretSettingsStore.h"

#include "frame/SecretStore.h"
#include "frame/SettingsKeys.h"

SecretSettingsStore::SecretSettingsStore(SettingsStore& file, SecretStore& secrets)
    : m_file(file)
    , m_secrets(secrets)
{}

bool SecretSettingsStore::isSecret(const QString& key)
{
    return key == SettingsKeys::Password.key() || key == SettingsKeys::OAuthRefreshToken.key();
}

QString SecretSettingsStore::entryName(const QString& key, const QString& account)
{
    const QString who = account.isEmpty() ? QStringLiteral("(no account name)") : account;
    if (key == SettingsKeys::OAuthRefreshToken.key())
        return QStringLiteral("%1 (Microsoft sign-in)").arg(who);
    return QStringLiteral("%1 (password)").arg(who);
}

QString SecretSettingsStore::account() const
{
    return m_file.get(SettingsKeys::User);
}

std::optional<QString> SecretSettingsStore::value(const QString& key) const
{
    if (!isSecret(key))
        return m_file.value(key);
    const std::optional<QString> inFile = m_file.value(key);
    const QString entry = entryName(key, account());
    if (inFile && !inFile->isEmpty()) {
        if (m_secrets.write(entry, *inFile) == SecretStore::Result::Done)
            m_file.remove(key);
        return inFile;
    }
    QString secret;
    if (m_secrets.read(entry, secret) == SecretStore::Result::Done)
        return secret;
    return inFile;
}

void SecretSettingsStore::setValue(const QString& key, const QString& value)
{
    if (key == SettingsKeys::User.key()) {
        const QString before = account();
        m_file.setValue(key, value);
        if (before != value)
            moveSecrets(before, value);
        return;
    }
    if (!isSecret(key)) {
        m_file.setValue(key, value);
        return;
    }
    const QString entry = entryName(key, account());
    if (value.isEmpty()) {
        m_secrets.remove(entry);
        m_file.remove(key);
        return;
    }
    if (m_secrets.write(entry, value) == SecretStore::Result::Done) {
        m_file.remove(key);
        return;
    }
    m_file.setValue(key, value);
}

void SecretSettingsStore::moveSecrets(const QString& from, const QString& to)
{
    for (const SettingsKey& key : {SettingsKeys::Password, SettingsKeys::OAuthRefreshToken}) {
        QString secret;
        if (m_secrets.read(entryName(key.key(), from), secret) != SecretStore::Result::Done)
            continue;
        if (m_secrets.write(entryName(key.key(), to), secret) == SecretStore::Result::Done)
            m_secrets.remove(entryName(key.key(), from));
        else
            m_file.setValue(key.key(), secret); // the keyring stopped answering: keep it in the file
    }
}
