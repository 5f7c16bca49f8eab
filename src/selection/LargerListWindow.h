#pragma once

class MessageListModel;

// The larger list window " List In Larger View" as "Show List In Larger View" drives it: its
// own list, maximised, then shown modally until it is closed.
class LargerListWindow {
public:
    virtual ~LargerListWindow() = default;
    virtual MessageListModel& list() = 0;
    virtual void setMaximized() = 0;
    virtual void showModal() = 0;
};
