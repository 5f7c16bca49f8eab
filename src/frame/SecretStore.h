#pragma once

#include <QString>

// Where secrets are kept apart from the settings file: the desktop keyring in the program, a
// memory store in tests. Every call answers within a bounded time.
class SecretStore {
public:
    enum class Result {
        Done,       // written, removed, or read into the secret
        NotFound,   // nothing is stored under the key
        Unavailable // no keyring, locked, refused, or no answer in time: keep the secret elsewhere
    };

    virtual ~SecretStore() = default;

    virtual Result read(const QString& key, QString& secret) = 0;
    virtual Result write(const QString& key, const QString& secret) = 0;
    // Removing a key that holds nothing is Done.
    virtual Result remove(const QString& key) = 0;
};
