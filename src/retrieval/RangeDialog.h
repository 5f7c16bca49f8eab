#pragma once

#include <memory>

class clsChilkatIMAP;

// The range dialog "Get Some Emails" as "2b. Get Some Emails" drives it: it is given the
// session and the folder's message count, then shown modally; Continue writes the chosen
// range into the session and sets RangeConfirmed.
class RangeDialog {
public:
    virtual ~RangeDialog() = default;
    virtual void setChilkatIMAP(std::shared_ptr<clsChilkatIMAP> session) = 0;
    virtual void setMaxMessage(int value) = 0;
    virtual void show() = 0;
};
