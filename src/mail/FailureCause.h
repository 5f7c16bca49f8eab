#pragma once

#include "mail/ImapFailure.h"

#include <QString>

// A failure of the IMAP component in plain words for a message box: what went wrong and, where it
// matters, with which host. Only the host and the server's own words appear; never what was sent.
class FailureCause {
public:
    // Empty for a success.
    static QString text(const ImapFailure& failure);
    static QString folderMissing(const QString& folder);
    static QString signInRefused(const ImapFailure& failure);
};
