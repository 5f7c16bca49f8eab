#include "support/ManualClock.h"

#include <algorithm>

void ManualClock::sleep(int ms, ImapTransport&)
{
    ++m_sleeps;
    const qint64 until = m_now + qMax(1, ms);
    const auto next = std::min_element(m_timers.begin(), m_timers.end(), [](const Timer& a, const Timer& b) {
        return a.when != b.when ? a.when < b.when : a.order < b.order;
    });
    if (next == m_timers.end() || next->when > until) {
        m_now = until;
        return;
    }
    // Something happens before the wait is over: that ends the wait, as activity would.
    m_now = qMax(m_now, next->when);
    const std::function<void()> action = std::move(next->action);
    m_timers.erase(next);
    action();
}

void ManualClock::at(qint64 when, std::function<void()> action)
{
    m_timers.push_back(Timer{when, m_order++, std::move(action)});
}
