#pragma once

#include "mail/MailboxEntry.h"

#include <QString>

#include <optional>
#include <vector>

class ImapClient;

// The mailboxes of the account a session works on, as its last listing gave them, and the
// mailbox each of the window's folders stands for there (MailboxResolver).
class MailboxDirectory {
public:
    void remember(std::vector<MailboxEntry> entries) { m_entries = std::move(entries); }
    bool isKnown() const { return m_entries.has_value(); }

    // The name to open for `folder`. The inbox (and any text that is not one of the window's
    // folders) is opened by its own name. Drafts, Sent, Junk and Deleted are
    // looked up in the listing at hand, or in one asked of `imap` (LIST "" "*") when none is;
    // without a listing, or when it names no mailbox for the folder, the folder's own name
    // (which the server then refuses or opens, as it sees fit).
    QString mailboxFor(ImapClient& imap, const QString& folder);

private:
    std::optional<std::vector<MailboxEntry>> m_entries;
};
