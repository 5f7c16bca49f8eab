#pragma once

#include <QList>
#include <QString>

// What an extraction could not do: the numbers of the range that could not be read (messages that
// are not there at all do not count), the reason of the last failure, and the folder's message
// count before and after a reconnect when it changed (the numbers may then have moved).
struct ExtractionGaps {
    QList<int> unread;
    QString lastReason;
    int countBefore = -1;
    int countAfter = -1;

    bool countChanged() const { return countAfter >= 0 && countAfter != countBefore; }
    bool empty() const { return unread.isEmpty() && !countChanged(); }
};
