#include "mail/MailboxDirectory.h"

#include "mail/ImapClient.h"
#include "mail/MailboxResolver.h"

QString MailboxDirectory::mailboxFor(ImapClient& imap, const QString& folder)
{
    // Only the window's four other folders have other names; any other text is opened as it is.
    if (MailboxResolver::specialUse(folder).isEmpty())
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
