#pragma once

#include <QString>
#include <QStringList>

struct ImapResponse;

// What one call of the IMAP client leaves for lastErrorText(): its name, then one indented
// line for each thing that happened. Texts set as secrets (credentials) never appear; the
// server's replies are shown shortened (literal data only by its size) and only the first few.
class ImapCallLog {
public:
    explicit ImapCallLog(const QString& callName);

    void note(const QString& line);
    void noteReply(const ImapResponse& response);
    // A reply given by its summary (read earlier, shown now).
    void noteReceived(const QByteArray& summary);
    void setSecrets(const QStringList& secrets) { m_secrets = secrets; }

    // The whole log, ending with a count of the replies not shown.
    QString text() const;

private:
    QStringList m_lines;
    QStringList m_secrets;
    int m_loggedReplies = 0;
    int m_unloggedReplies = 0;
};
