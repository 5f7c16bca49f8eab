#pragma once

#include <QString>

// The application-wide values shared by the two retrievals and the range dialog: the
// caption a retrieval's button had before it became "Stop", whether the closing "Done." is
// left out, and whether the range dialog was left with Continue.
struct RetrievalGlobals {
    QString SavedButtonCaption;
    bool SkipDoneMessage = false;
    bool RangeConfirmed = false;
};
