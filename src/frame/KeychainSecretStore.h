#pragma once

#include "frame/SecretStore.h"

namespace QKeychain {
class Job;
}

// Secrets in the desktop keyring (the Secret Service: GNOME Keyring, KWallet, KeePassXC)
// through QtKeychain. An entry's QtKeychain service is its label, which keyring managers show:
// "Corvanel: " and the key (QtKeychain labels an entry with its service). QtKeychain's jobs
// answer asynchronously: each call waits for its answer in a local event loop, so the window
// keeps processing its events, and gives up after a few seconds. After the first failure or
// time-out the keyring counts as unavailable for the rest of the run, so that no later call
// waits again for a keyring that does not answer.
class KeychainSecretStore : public SecretStore {
public:
    explicit KeychainSecretStore(int timeoutMs = 5000);

    Result read(const QString& key, QString& secret) override;
    Result write(const QString& key, const QString& secret) override;
    Result remove(const QString& key) override;

    bool gaveUp() const { return m_gaveUp; }
    static QString label(const QString& key);

private:
    // Starts the job (which deletes itself once it finishes), waits for it; `text` receives a
    // read job's secret.
    Result run(QKeychain::Job* job, QString* text);

    int m_timeoutMs;
    bool m_gaveUp = false;
};
