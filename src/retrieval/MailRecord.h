#pragma once

#include <QString>

// The stored copy of one listed message: the seven texts of a MailExtractListing event.
struct MailRecord {
    QString From;
    QString FromName;
    QString FromAddress;
    QString Subject;
    QString ReceivedDate;
    QString PlainTextBody;
    QString HTMLTextBody;
};
