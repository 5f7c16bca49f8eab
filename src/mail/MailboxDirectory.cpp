#include "mail/MailboxDirectory.h"

#include "mail/ImapClient.h"
#include "mail/MailboxResolver.h"

QString MailboxDirectory::mailboxFor(ImapClient& imap, const QString& folder)
{
    if (folder.compare(QLatin1String("INBOX"), Qt::CaseInsensitive) == 0 || folder.isEmpty())
        return folder;
    if (!m_entries) {
        std::optional<std::vector<MailboxEntry>> listed =
            imap.listMailboxEntries(QString(), QStringLiteral("*"));
        if (!listed)
            return folder;
        m_entries = std::move(listed);
    }
    return MailboxResolver::resolve(*m_entries, folder).value_or(folder);
}
