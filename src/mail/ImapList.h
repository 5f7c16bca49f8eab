#pragma once

#include <QString>
#include <QStringList>

#include <optional>

class ImapConnection;

// The mailboxes LIST names, decoded from modified UTF-7.
class ImapList {
public:
    static std::optional<QStringList> run(ImapConnection& d, const QString& reference,
                                          const QString& pattern);
};
