#include "mail/FetchRetryPolicy.h"

#include <QRegularExpression>

namespace {
using Kind = ImapFailure::Kind;
using Action = FetchRetryPolicy::Action;
} // namespace

bool FetchRetryPolicy::isBusy(const ImapFailure& failure)
{
    if (failure.kind != Kind::Refused || (failure.status != "NO" && failure.status != "BAD"))
        return false;
    // RFC 5530: the server is unavailable for now, a limit was reached, or the data is in use.
    if (failure.code == "UNAVAILABLE" || failure.code == "LIMIT" || failure.code == "INUSE")
        return true;
    // Exchange: "Request is throttled. Suggested Backoff Time: 2000 milliseconds", "Server Unavailable. 15".
    return failure.text.contains(QLatin1String("throttled"), Qt::CaseInsensitive) ||
           failure.text.contains(QLatin1String("Server Unavailable"), Qt::CaseInsensitive);
}

std::optional<int> FetchRetryPolicy::suggestedBackoffMs(const QString& text)
{
    static const QRegularExpression backoff(QStringLiteral("Backoff Time:\\s*(\\d{1,9})\\s*milliseconds"),
                                            QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = backoff.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    return match.captured(1).toInt();
}

int FetchRetryPolicy::busyWaitMs(const ImapFailure& failure)
{
    return qBound(0, suggestedBackoffMs(failure.text).value_or(kDefaultBusyWaitMs), kMaxBusyWaitMs);
}

int FetchRetryPolicy::reconnectWaitMs(int attempt)
{
    return 1000 << qBound(0, attempt, 10);
}

FetchRetryPolicy::Decision FetchRetryPolicy::afterFetch(const ImapFailure& failure, int reconnectsSoFar,
                                                        int busyRetriesSoFar)
{
    if (failure.connectionGone()) {
        if (reconnectsSoFar >= kReconnectAttempts)
            return {Action::GiveUpRest, 0};
        return {Action::Reconnect, reconnectWaitMs(reconnectsSoFar)};
    }
    if (isBusy(failure)) {
        if (busyRetriesSoFar >= kBusyRetries)
            return {Action::Skip, 0};
        return {Action::WaitAndRetry, busyWaitMs(failure)};
    }
    // Without a connection (closed on purpose meanwhile) nothing further can be read.
    if (failure.kind == Kind::NotConnected)
        return {Action::GiveUpRest, 0};
    // A plain NO or BAD, a message that is not there, an abandoned fetch.
    return {Action::Skip, 0};
}

FetchRetryPolicy::Decision FetchRetryPolicy::afterReconnect(const ImapFailure& failure, int reconnectsSoFar)
{
    if (reconnectsSoFar >= kReconnectAttempts)
        return {Action::GiveUpRest, 0};
    if (isBusy(failure))
        return {Action::Reconnect, busyWaitMs(failure)};
    switch (failure.kind) {
    case Kind::ConnectionLost:
    case Kind::TimedOut:
    case Kind::Unreadable:
    case Kind::TlsOther:
    case Kind::Unreachable:
    case Kind::NoGreeting:
        return {Action::Reconnect, reconnectWaitMs(reconnectsSoFar)};
    default:
        // A refused sign-in, a folder that is gone, a certificate that is not trusted: asking
        // again gives the same answer.
        return {Action::GiveUpRest, 0};
    }
}
