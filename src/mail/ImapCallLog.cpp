#include "mail/ImapCallLog.h"

#include "mail/ImapResponse.h"

namespace {

constexpr int kMaxLoggedReplies = 40;
constexpr int kMaxLoggedReplyChars = 300;

} // namespace

ImapCallLog::ImapCallLog(const QString& callName)
    : m_lines{callName}
{}

void ImapCallLog::note(const QString& line)
{
    QString text = line;
    for (const QString& secret : m_secrets) {
        if (!secret.isEmpty())
            text.replace(secret, QStringLiteral("****"));
    }
    m_lines.append(QStringLiteral("  ") + text);
}

void ImapCallLog::noteReply(const ImapResponse& response)
{
    if (m_loggedReplies >= kMaxLoggedReplies) {
        ++m_unloggedReplies;
        return;
    }
    noteReceived(response.summary(kMaxLoggedReplyChars));
}

void ImapCallLog::noteReceived(const QByteArray& summary)
{
    if (m_loggedReplies >= kMaxLoggedReplies) {
        ++m_unloggedReplies;
        return;
    }
    ++m_loggedReplies;
    note(QStringLiteral("Received: ") + QString::fromUtf8(summary));
}

QString ImapCallLog::text() const
{
    QString joined = m_lines.join(QLatin1Char('\n'));
    if (m_unloggedReplies > 0)
        joined += QStringLiteral("\n  (%1 more replies not shown)").arg(m_unloggedReplies);
    return joined;
}
