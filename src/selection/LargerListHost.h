#pragma once

#include <memory>

class LargerListWindow;

// What "Show List In Larger View" needs of the main window: a freshly loaded larger window
// over it, and its own input held while that window loads and shows.
class LargerListHost {
public:
    virtual ~LargerListHost() = default;
    virtual std::unique_ptr<LargerListWindow> loadLargerListWindow() = 0;
    virtual void setInputBlocked(bool blocked) = 0;
};
