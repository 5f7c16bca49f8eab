#include "frame/KeychainSecretStore.h"

#include <qt6keychain/keychain.h>

#include <QEventLoop>
#include <QTimer>

KeychainSecretStore::KeychainSecretStore(int timeoutMs)
    : m_timeoutMs(timeoutMs)
{}

QString KeychainSecretStore::label(const QString& key)
{
    return QStringLiteral("Corvanel: ") + key;
}

SecretStore::Result KeychainSecretStore::run(QKeychain::Job* job, QString* text)
{
    job->setAutoDelete(true);
    job->setInsecureFallback(false); // a keyring or nothing: the settings file is the caller's fallback

    QEventLoop loop;
    bool finished = false;
    QKeychain::Error error = QKeychain::OtherError;
    // The answer is taken inside the signal: the job deletes itself afterwards. A job that
    // answers after the time-out finds the loop gone and its connection with it.
    QObject::connect(job, &QKeychain::Job::finished, &loop, [&](QKeychain::Job* done) {
        finished = true;
        error = done->error();
        if (text && error == QKeychain::NoError)
            *text = static_cast<QKeychain::ReadPasswordJob*>(done)->textData();
        loop.quit();
    });
    QTimer timeout;
    timeout.setSingleShot(true);
    QObject::connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
    timeout.start(m_timeoutMs);
    job->start();
    if (!finished)
        loop.exec(QEventLoop::AllEvents);

    if (!finished) {
        m_gaveUp = true;
        return Result::Unavailable;
    }
    switch (error) {
    case QKeychain::NoError:
        return Result::Done;
    case QKeychain::EntryNotFound:
        return Result::NotFound;
    default:
        // OtherError covers no session bus, no Secret Service and a locked keyring alike;
        // NoBackendAvailable, AccessDenied and the rest mean the same to the caller.
        m_gaveUp = true;
        return Result::Unavailable;
    }
}

SecretStore::Result KeychainSecretStore::read(const QString& key, QString& secret)
{
    if (m_gaveUp)
        return Result::Unavailable;
    auto* job = new QKeychain::ReadPasswordJob(label(key));
    job->setKey(key);
    QString text;
    const Result result = run(job, &text);
    if (result == Result::Done)
        secret = text;
    return result;
}

SecretStore::Result KeychainSecretStore::write(const QString& key, const QString& secret)
{
    if (m_gaveUp)
        return Result::Unavailable;
    auto* job = new QKeychain::WritePasswordJob(label(key));
    job->setKey(key);
    job->setTextData(secret);
    return run(job, nullptr);
}

SecretStore::Result KeychainSecretStore::remove(const QString& key)
{
    if (m_gaveUp)
        return Result::Unavailable;
    auto* job = new QKeychain::DeletePasswordJob(label(key));
    job->setKey(key);
    const Result result = run(job, nullptr);
    return result == Result::NotFound ? Result::Done : result;
}
