#include "mail/MailboxResolver.h"

namespace {

bool isInbox(const QString& name)
{
    return name.compare(QLatin1String("INBOX"), Qt::CaseInsensitive) == 0;
}

// `name` is `wanted`, or ends with it right after a hierarchy delimiter.
bool namesOrEndsWith(const MailboxEntry& entry, const QString& wanted)
{
    if (entry.name.compare(wanted, Qt::CaseInsensitive) == 0)
        return true;
    if (entry.name.size() <= wanted.size() || !entry.name.endsWith(wanted, Qt::CaseInsensitive))
        return false;
    const QChar before = entry.name.at(entry.name.size() - wanted.size() - 1);
    // Without a delimiter from the server, the two that services use.
    return entry.delimiter.isEmpty() ? before == u'/' || before == u'.' : entry.delimiter == QString(before);
}

} // namespace

QString MailboxResolver::specialUse(const QString& folder)
{
    if (folder == QLatin1String("Drafts"))
        return QStringLiteral("\\Drafts");
    if (folder == QLatin1String("Sent"))
        return QStringLiteral("\\Sent");
    if (folder == QLatin1String("Junk"))
        return QStringLiteral("\\Junk");
    if (folder == QLatin1String("Deleted"))
        return QStringLiteral("\\Trash");
    return QString();
}

QStringList MailboxResolver::wellKnownNames(const QString& folder)
{
    if (folder == QLatin1String("Sent"))
        return {folder, QStringLiteral("Sent Items"), QStringLiteral("Sent Messages"),
                QStringLiteral("Sent Mail")};
    if (folder == QLatin1String("Deleted"))
        return {folder, QStringLiteral("Deleted Items"), QStringLiteral("Deleted Messages"),
                QStringLiteral("Trash")};
    if (folder == QLatin1String("Junk"))
        return {folder, QStringLiteral("Junk Email"), QStringLiteral("Junk E-mail"), QStringLiteral("Spam"),
                QStringLiteral("Bulk Mail")};
    return {folder};
}

std::optional<QString> MailboxResolver::resolve(const std::vector<MailboxEntry>& mailboxes,
                                                const QString& folder)
{
    if (folder.isEmpty())
        return std::nullopt;
    // The inbox's name holds in any case: the folder's own spelling opens it as well as INBOX.
    for (const MailboxEntry& entry : mailboxes)
        if (entry.isSelectable() && (entry.name == folder || (isInbox(folder) && isInbox(entry.name))))
            return isInbox(folder) ? folder : entry.name;

    const QString use = specialUse(folder);
    if (!use.isEmpty())
        for (const MailboxEntry& entry : mailboxes)
            if (entry.isSelectable() && entry.hasAttribute(use))
                return entry.name;

    // The inbox has no other name, and "INBOX.Inbox" is not it.
    if (isInbox(folder))
        return std::nullopt;
    for (const QString& name : wellKnownNames(folder))
        for (const MailboxEntry& entry : mailboxes)
            if (entry.isSelectable() && namesOrEndsWith(entry, name))
                return entry.name;
    return std::nullopt;
}
