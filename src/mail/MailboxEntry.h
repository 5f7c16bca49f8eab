#pragma once

#include <QString>
#include <QStringList>

// One mailbox of a LIST answer: its name decoded from modified UTF-7, the hierarchy delimiter
// (empty for NIL) and its attributes as the server wrote them ("\HasNoChildren", "\Sent").
struct MailboxEntry {
    QString name;
    QString delimiter;
    QStringList attributes;

    bool hasAttribute(const QString& attribute) const
    {
        return attributes.contains(attribute, Qt::CaseInsensitive);
    }
    // \Noselect (RFC 3501) and \NonExistent (RFC 5258) name a place in the hierarchy, not a
    // mailbox that can be opened.
    bool isSelectable() const
    {
        return !hasAttribute(QStringLiteral("\\Noselect")) && !hasAttribute(QStringLiteral("\\NonExistent"));
    }
};
