#pragma once

#include "mail/MailboxEntry.h"

#include <QString>

#include <optional>
#include <vector>

// Finds the mailbox that stands for one of the window's five folders ("Inbox", "Drafts", "Sent",
// "Junk", "Deleted") in an account's mailbox list, whatever the service calls it:
//
// 1. a mailbox of exactly the folder's name ("Inbox" matches INBOX in any case), as Outlook.com
//    names them;
// 2. otherwise the mailbox marked with the folder's special use (RFC 6154): Drafts \Drafts,
//    Sent \Sent, Junk \Junk, Deleted \Trash;
// 3. otherwise a well-known name of that folder ("Sent Items", "Deleted Items", "Spam"...), in any
//    case, alone or below a parent ("[Gmail]/Spam", "INBOX.Sent").
//
// Mailboxes that cannot be selected are passed over; among several that qualify the first listed
// wins. Nothing when none qualifies.
class MailboxResolver {
public:
    static std::optional<QString> resolve(const std::vector<MailboxEntry>& mailboxes, const QString& folder);

    // The special-use attribute of a folder ("\Sent"); empty for Inbox and unknown folders.
    static QString specialUse(const QString& folder);
    // The folder's own name first, then its other well-known names.
    static QStringList wellKnownNames(const QString& folder);
};
