#pragma once

#include "mail/Clock.h"

#include <functional>
#include <vector>

// A clock for tests that moves only when the client waits: each wait jumps straight to the
// next scheduled action (running it) or to the end of the wait. Time-outs and abort checks
// then happen at exact, repeatable moments, without the test taking that long.
class ManualClock : public Clock {
public:
    qint64 now() const override { return m_now; }
    void sleep(int ms, ImapTransport& transport) override;

    // Runs `action` once the clock reaches `when` (at the latest during the next wait past it).
    void at(qint64 when, std::function<void()> action);
    void after(qint64 ms, std::function<void()> action) { at(m_now + ms, std::move(action)); }

    int sleeps() const { return m_sleeps; }

private:
    struct Timer {
        qint64 when;
        quint64 order;
        std::function<void()> action;
    };
    std::vector<Timer> m_timers;
    qint64 m_now = 0;
    quint64 m_order = 0;
    int m_sleeps = 0;
};
