#pragma once

#include "mail/MailboxEntry.h"

#include <QString>

#include <optional>
#include <vector>

class ImapConnection;

// The mailboxes LIST names, decoded from modified UTF-7, with their delimiters and attributes.
class ImapList {
public:
    static std::optional<std::vector<MailboxEntry>> run(ImapConnection& d, const QString& reference,
                                                        const QString& pattern);
};
