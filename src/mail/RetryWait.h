#pragma once

#include <QtGlobal>

#include <functional>

// A wait that keeps the user interface running: it pauses in short slices, each running the event
// loop, until the time is up or stopped() turns true. The clock and the pause are seams, so that
// tests can let time pass without waiting for it.
class RetryWait {
public:
    using Clock = std::function<qint64()>;     // milliseconds, from any origin
    using Pause = std::function<void(int ms)>; // process events for up to ms

    RetryWait(); // the steady clock; pauses run the event loop
    RetryWait(Clock now, Pause pause);

    // True when the whole time has passed; false as soon as stopped() is true.
    bool wait(int ms, const std::function<bool()>& stopped) const;

    static constexpr int kSliceMs = 50;

private:
    Clock m_now;
    Pause m_pause;
};
