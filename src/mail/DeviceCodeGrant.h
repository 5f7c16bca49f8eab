#pragma once

#include "mail/OAuthError.h"
#include "mail/OAuthSettings.h"
#include "mail/OAuthTokens.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <functional>

class QNetworkAccessManager;
class QNetworkReply;

// Gets OAuth tokens with the device authorization grant (RFC 8628) and renews them with the
// refresh token, over Qt Network on the user-interface thread.
//
// Signal-based: start(), refresh() and ensureFresh() return at once; the work goes on in the
// event loop and ends with exactly one succeeded() or failed(), then finished(). A sign-in first
// gives promptReady() with the code the user types at the verification address, then asks the
// token endpoint every `interval` seconds (longer by 5 s after each slow_down) until the user has
// signed in, declined, or the code has expired. cancel() ends any of them at once with
// Cancelled. Callers that prefer to wait (renewal inside the connect step, say) call
// waitForFinished(), which runs a local event loop that leaves user input alone.
//
// Nothing here shows tokens: failure details carry only what the service said about its refusal.
class DeviceCodeGrant : public QObject {
    Q_OBJECT
public:
    // What the user needs to complete the sign-in in a browser.
    struct Prompt {
        QString userCode;
        QUrl verificationUri;
        QUrl verificationUriComplete; // with the code filled in; empty when the service gave none
        QString message;              // the service's own instructions, when it gives them
        int expiresInSeconds = 0;
    };

    explicit DeviceCodeGrant(const OAuthSettings& settings, QObject* parent = nullptr);
    ~DeviceCodeGrant() override;

    // How long one second of the service's interval and code lifetime lasts here: 1000 ms in use;
    // tests make it shorter so that they need not wait.
    void setMillisecondsPerSecond(int ms);
    // Where token lifetimes are measured from (the system clock in use).
    void setClock(std::function<QDateTime()> now);
    // Longest wait for one answer of the service (30 s unless set); then Unreachable.
    void setRequestTimeoutMs(int ms);

    void start();
    void refresh(const QString& refreshToken);
    // Succeeds with `current` as it is while its access token is still good, otherwise renews it.
    void ensureFresh(const OAuthTokens& current);
    void cancel();
    // Runs the event loop (without user input) until the running operation has finished; true when
    // it succeeded. Returns at once when nothing runs.
    bool waitForFinished();

    bool isRunning() const { return m_phase != Phase::Idle; }
    OAuthTokens tokens() const { return m_tokens; }
    OAuthError error() const { return m_error; }
    QString errorDetail() const { return m_errorDetail; }
    // The reason in words for the user: the advice for a known refusal of the service, or
    // the text of error().
    QString errorText() const { return m_errorAdvice.isEmpty() ? oauthErrorText(m_error) : m_errorAdvice; }
    Prompt prompt() const { return m_prompt; }
    int pollIntervalSeconds() const { return m_intervalSeconds; }

Q_SIGNALS:
    void promptReady(const DeviceCodeGrant::Prompt& prompt);
    void succeeded(const OAuthTokens& tokens);
    void failed(OAuthError error, const QString& detail);
    void finished();

private:
    enum class Phase { Idle, RequestingCode, WaitingToPoll, Polling, Refreshing };
    struct Answer;

    bool begin(Phase phase);
    void post(const QUrl& url, const QList<std::pair<QString, QString>>& fields);
    void onReplyFinished(QNetworkReply* reply);
    void onDeviceCode(const Answer& answer);
    void onTokenAnswer(const Answer& answer);
    void schedulePoll();
    void poll();
    void succeed(const OAuthTokens& tokens);
    void fail(OAuthError error, const QString& detail = QString());
    void finishLater(std::function<void()> finish);
    void stopNetwork();

    OAuthSettings m_settings;
    QNetworkAccessManager* m_network = nullptr;
    QPointer<QNetworkReply> m_reply;
    QTimer m_pollTimer;
    int m_msPerSecond = 1000;
    int m_requestTimeoutMs = 30000;
    std::function<QDateTime()> m_now;

    Phase m_phase = Phase::Idle;
    quint64 m_run = 0; // tells a late callback of an earlier operation from the present one
    QString m_deviceCode;
    int m_intervalSeconds = 0;
    QElapsedTimer m_codeAge;
    QString m_refreshTokenUsed;
    Prompt m_prompt;
    OAuthTokens m_tokens;
    OAuthError m_error = OAuthError::None;
    QString m_errorDetail;
    QString m_errorAdvice;
};
