#pragma once

#include <QString>

// The progress bar ProgressBar1, which doubles as the main window's status line.
class StatusLine {
public:
    virtual ~StatusLine() = default;
    virtual void setProgressText(const QString& text) = 0;
    virtual QString progressText() const = 0;
    virtual void setProgressValue(int value) = 0;
    virtual void setProgressMaximum(int maximum) = 0;
};
