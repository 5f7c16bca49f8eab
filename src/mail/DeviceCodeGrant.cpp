#include "mail/DeviceCodeGrant.h"

#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonValue>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

namespace {

const QString kDeviceCodeGrantType = QStringLiteral("urn:ietf:params:oauth:grant-type:device_code");
// RFC 8628: poll every 5 s unless the service says otherwise; 5 s more after each slow_down.
constexpr int kDefaultIntervalSeconds = 5;
constexpr int kSlowDownSeconds = 5;
constexpr int kMaxDetailChars = 400;

// A whole number that the service may send as a JSON number or as digits in a string; -1 otherwise.
qint64 wholeNumber(const QJsonValue& value)
{
    if (value.isDouble()) {
        const double number = value.toDouble();
        return number >= 0 && number < 1e12 ? qint64(number) : -1;
    }
    if (value.isString()) {
        bool ok = false;
        const qint64 number = value.toString().trimmed().toLongLong(&ok);
        return ok && number >= 0 ? number : -1;
    }
    return -1;
}

QString limited(const QString& text)
{
    const QString simple = text.simplified();
    return simple.size() > kMaxDetailChars ? simple.left(kMaxDetailChars) + QStringLiteral("...") : simple;
}

} // namespace

// One answer of the service: its HTTP status (0 when none came) and its body read as JSON.
struct DeviceCodeGrant::Answer {
    int status = 0;
    QString networkText;
    bool isJsonObject = false;
    QJsonObject json;

    bool isSuccess() const { return status >= 200 && status < 300; }
    QString errorCode() const { return json.value(QStringLiteral("error")).toString(); }
    // The service's refusal as it worded it.
    QString describeError() const
    {
        const QString description = json.value(QStringLiteral("error_description")).toString();
        return limited(description.isEmpty() ? errorCode()
                                             : errorCode() + QStringLiteral(": ") + description);
    }
};

DeviceCodeGrant::DeviceCodeGrant(const OAuthSettings& settings, QObject* parent)
    : QObject(parent)
    , m_settings(settings)
    , m_network(new QNetworkAccessManager(this))
    , m_now([] { return QDateTime::currentDateTimeUtc(); })
{
    m_pollTimer.setSingleShot(true);
    m_pollTimer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_pollTimer, &QTimer::timeout, this, &DeviceCodeGrant::poll);
}

DeviceCodeGrant::~DeviceCodeGrant()
{
    ++m_run;
    stopNetwork();
}

void DeviceCodeGrant::setMillisecondsPerSecond(int ms)
{
    m_msPerSecond = qMax(1, ms);
}
void DeviceCodeGrant::setClock(std::function<QDateTime()> now)
{
    m_now = std::move(now);
}
void DeviceCodeGrant::setRequestTimeoutMs(int ms)
{
    m_requestTimeoutMs = qMax(1, ms);
}

bool DeviceCodeGrant::begin(Phase phase)
{
    if (isRunning())
        return false; // one operation at a time; the running one goes on
    ++m_run;
    m_phase = phase;
    m_error = OAuthError::None;
    m_errorDetail.clear();
    m_errorAdvice.clear();
    m_tokens = OAuthTokens();
    m_prompt = Prompt();
    m_deviceCode.clear();
    m_refreshTokenUsed.clear();
    m_intervalSeconds = 0;
    return true;
}

void DeviceCodeGrant::start()
{
    if (!begin(Phase::RequestingCode))
        return;
    if (const OAuthError problem = m_settings.problem(); problem != OAuthError::None) {
        finishLater([this, problem] { fail(problem); });
        return;
    }
    post(m_settings.deviceCodeUrl(),
         {{QStringLiteral("client_id"), m_settings.clientId}, {QStringLiteral("scope"), m_settings.scopes}});
}

void DeviceCodeGrant::refresh(const QString& refreshToken)
{
    if (!begin(Phase::Refreshing))
        return;
    if (refreshToken.isEmpty()) {
        finishLater([this] {
            fail(OAuthError::Expired, QStringLiteral("There is no refresh token to renew with."));
        });
        return;
    }
    if (const OAuthError problem = m_settings.problem(); problem != OAuthError::None) {
        finishLater([this, problem] { fail(problem); });
        return;
    }
    m_refreshTokenUsed = refreshToken;
    post(m_settings.tokenUrl(), {{QStringLiteral("grant_type"), QStringLiteral("refresh_token")},
                                 {QStringLiteral("client_id"), m_settings.clientId},
                                 {QStringLiteral("refresh_token"), refreshToken},
                                 {QStringLiteral("scope"), m_settings.scopes}});
}

void DeviceCodeGrant::ensureFresh(const OAuthTokens& current)
{
    if (current.isExpired(m_now())) {
        refresh(current.refreshToken);
        return;
    }
    if (!begin(Phase::Refreshing))
        return;
    finishLater([this, current] { succeed(current); });
}

void DeviceCodeGrant::cancel()
{
    if (isRunning())
        fail(OAuthError::Cancelled);
}

bool DeviceCodeGrant::waitForFinished()
{
    if (isRunning()) {
        QEventLoop loop;
        QObject::connect(this, &DeviceCodeGrant::finished, &loop, &QEventLoop::quit);
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    return m_error == OAuthError::None && !m_tokens.accessToken.isEmpty();
}

void DeviceCodeGrant::finishLater(std::function<void()> finish)
{
    // Outcomes known at once still arrive from the event loop, like every other outcome, so that
    // the caller's connections are in place whichever way the operation ends.
    QTimer::singleShot(0, this, [this, run = m_run, finish = std::move(finish)] {
        if (run == m_run && isRunning())
            finish();
    });
}

void DeviceCodeGrant::post(const QUrl& url, const QList<std::pair<QString, QString>>& fields)
{
    QByteArray body;
    for (const auto& [name, value] : fields) {
        if (!body.isEmpty())
            body += '&';
        body += QUrl::toPercentEncoding(name) + '=' + QUrl::toPercentEncoding(value);
    }
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader,
                      QByteArrayLiteral("application/x-www-form-urlencoded"));
    request.setRawHeader(QByteArrayLiteral("Accept"), QByteArrayLiteral("application/json"));
    request.setTransferTimeout(m_requestTimeoutMs);
    QNetworkReply* reply = m_network->post(request, body);
    m_reply = reply;
    QObject::connect(reply, &QNetworkReply::finished, this, [this, reply] { onReplyFinished(reply); });
}

void DeviceCodeGrant::stopNetwork()
{
    m_pollTimer.stop();
    if (QNetworkReply* reply = m_reply) {
        m_reply = nullptr; // its finished signal, raised by abort(), is then ignored
        reply->abort();
        reply->deleteLater();
    }
}

void DeviceCodeGrant::onReplyFinished(QNetworkReply* reply)
{
    reply->deleteLater();
    if (reply != m_reply)
        return; // aborted, or an answer to an operation that has ended
    m_reply = nullptr;

    Answer answer;
    answer.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (answer.status == 0) {
        fail(OAuthError::Unreachable, reply->error() == QNetworkReply::OperationCanceledError
                                          ? QStringLiteral("No answer within %1 ms.").arg(m_requestTimeoutMs)
                                          : reply->errorString());
        return;
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(reply->readAll(), &parseError);
    answer.isJsonObject = parseError.error == QJsonParseError::NoError && document.isObject();
    answer.json = document.object();
    if (!answer.isJsonObject) {
        const QString detail =
            QStringLiteral("HTTP %1 without a JSON object (%2).")
                .arg(answer.status)
                .arg(parseError.error == QJsonParseError::NoError ? QStringLiteral("not an object")
                                                                  : parseError.errorString());
        if (answer.isSuccess())
            fail(OAuthError::Malformed, detail);
        else if (answer.status >= 500)
            fail(OAuthError::Unreachable, detail);
        else
            fail(OAuthError::Refused, detail);
        return;
    }
    if (m_phase == Phase::RequestingCode)
        onDeviceCode(answer);
    else
        onTokenAnswer(answer);
}

void DeviceCodeGrant::onDeviceCode(const Answer& answer)
{
    if (!answer.errorCode().isEmpty() || !answer.isSuccess()) {
        fail(OAuthError::Refused, answer.errorCode().isEmpty() ? QStringLiteral("HTTP %1.").arg(answer.status)
                                                               : answer.describeError());
        return;
    }
    const QJsonObject& json = answer.json;
    const QString deviceCode = json.value(QStringLiteral("device_code")).toString();
    const QString userCode = json.value(QStringLiteral("user_code")).toString();
    // RFC 8628 names it verification_uri; some services say verification_url.
    QString verification = json.value(QStringLiteral("verification_uri")).toString();
    if (verification.isEmpty())
        verification = json.value(QStringLiteral("verification_url")).toString();
    const QUrl verificationUri(verification, QUrl::StrictMode);
    const qint64 expiresIn = wholeNumber(json.value(QStringLiteral("expires_in")));
    const QJsonValue intervalValue = json.value(QStringLiteral("interval"));
    const qint64 interval =
        intervalValue.isUndefined() ? kDefaultIntervalSeconds : wholeNumber(intervalValue);
    if (deviceCode.isEmpty() || userCode.isEmpty() || !verificationUri.isValid() ||
        verificationUri.isRelative() || expiresIn <= 0 || interval < 0 || interval > 3600) {
        fail(OAuthError::Malformed, QStringLiteral("The device code answer lacks a device code, user code, "
                                                   "verification address, lifetime or usable interval."));
        return;
    }
    m_deviceCode = deviceCode;
    m_intervalSeconds = interval > 0 ? int(interval) : kDefaultIntervalSeconds;
    m_codeAge.start();
    m_prompt.userCode = userCode;
    m_prompt.verificationUri = verificationUri;
    m_prompt.verificationUriComplete =
        QUrl(json.value(QStringLiteral("verification_uri_complete")).toString(), QUrl::StrictMode);
    m_prompt.message = json.value(QStringLiteral("message")).toString();
    m_prompt.expiresInSeconds = int(qMin<qint64>(expiresIn, 1000000));
    m_phase = Phase::WaitingToPoll;
    const quint64 run = m_run;
    Q_EMIT promptReady(m_prompt);
    if (run == m_run && m_phase == Phase::WaitingToPoll)
        schedulePoll();
}

void DeviceCodeGrant::schedulePoll()
{
    m_phase = Phase::WaitingToPoll;
    m_pollTimer.start(m_intervalSeconds * m_msPerSecond);
}

void DeviceCodeGrant::poll()
{
    if (m_phase != Phase::WaitingToPoll)
        return;
    if (m_codeAge.elapsed() >= qint64(m_prompt.expiresInSeconds) * m_msPerSecond) {
        fail(OAuthError::Expired, QStringLiteral("The code expired before the sign-in was completed."));
        return;
    }
    m_phase = Phase::Polling;
    post(m_settings.tokenUrl(), {{QStringLiteral("grant_type"), kDeviceCodeGrantType},
                                 {QStringLiteral("client_id"), m_settings.clientId},
                                 {QStringLiteral("device_code"), m_deviceCode}});
}

void DeviceCodeGrant::onTokenAnswer(const Answer& answer)
{
    const QString code = answer.errorCode();
    if (!code.isEmpty()) {
        if (m_phase == Phase::Polling) {
            if (code == QLatin1String("authorization_pending")) {
                schedulePoll();
                return;
            }
            if (code == QLatin1String("slow_down")) {
                m_intervalSeconds += kSlowDownSeconds;
                schedulePoll();
                return;
            }
            if (code == QLatin1String("expired_token")) {
                fail(OAuthError::Expired, answer.describeError());
                return;
            }
            // Microsoft says authorization_declined where RFC 8628 says access_denied.
            if (code == QLatin1String("access_denied") || code == QLatin1String("authorization_declined")) {
                fail(OAuthError::Denied, answer.describeError());
                return;
            }
        }
        fail(OAuthError::Refused, answer.describeError());
        return;
    }
    if (!answer.isSuccess()) {
        fail(OAuthError::Refused, QStringLiteral("HTTP %1.").arg(answer.status));
        return;
    }
    const QJsonObject& json = answer.json;
    OAuthTokens tokens;
    tokens.accessToken = json.value(QStringLiteral("access_token")).toString();
    const QString tokenType = json.value(QStringLiteral("token_type")).toString();
    if (tokens.accessToken.isEmpty() ||
        (!tokenType.isEmpty() && tokenType.compare(QLatin1String("Bearer"), Qt::CaseInsensitive) != 0)) {
        fail(OAuthError::Malformed,
             tokens.accessToken.isEmpty()
                 ? QStringLiteral("The token answer holds no access token.")
                 : QStringLiteral("The token is of type %1, not Bearer.").arg(limited(tokenType)));
        return;
    }
    // A refresh token that comes with the answer replaces the one used; otherwise that one stays.
    tokens.refreshToken = json.value(QStringLiteral("refresh_token")).toString();
    if (tokens.refreshToken.isEmpty())
        tokens.refreshToken = m_refreshTokenUsed;
    const qint64 expiresIn = wholeNumber(json.value(QStringLiteral("expires_in")));
    if (expiresIn > 0)
        tokens.expiresAt = m_now().toUTC().addSecs(expiresIn);
    tokens.scope = json.value(QStringLiteral("scope")).toString();
    succeed(tokens);
}

void DeviceCodeGrant::succeed(const OAuthTokens& tokens)
{
    stopNetwork();
    m_phase = Phase::Idle;
    m_tokens = tokens;
    m_error = OAuthError::None;
    Q_EMIT succeeded(m_tokens);
    Q_EMIT finished();
}

void DeviceCodeGrant::fail(OAuthError error, const QString& detail)
{
    stopNetwork();
    m_phase = Phase::Idle;
    m_tokens = OAuthTokens();
    m_error = error;
    m_errorDetail = detail;
    m_errorAdvice = oauthServiceAdvice(detail);
    Q_EMIT failed(m_error, m_errorDetail);
    Q_EMIT finished();
}
