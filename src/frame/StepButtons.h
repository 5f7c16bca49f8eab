#pragma once

#include <QString>

// The step buttons whose caption, width and visibility the handlers change: "1. Connect"
// (PushButton1), "2b. Get Some Emails" (PushButton2) and "2a. Get All Emails" (PushButton3).
enum class StepButton { PushButton1, PushButton2, PushButton3 };

class StepButtons {
public:
    virtual ~StepButtons() = default;
    virtual QString caption(StepButton button) const = 0;
    virtual void setCaption(StepButton button, const QString& caption) = 0;
    virtual void setButtonVisible(StepButton button, bool visible) = 0;
    virtual void setButtonWidthTwips(StepButton button, int twips) = 0;
};
