#pragma once

#include "mail/Clock.h"

#include <QElapsedTimer>

// The real clock: a monotonic timer, and a nested event loop for waiting.
class SystemClock : public Clock {
public:
    SystemClock();
    qint64 now() const override;
    void sleep(int ms, ImapTransport& transport) override;

private:
    QElapsedTimer m_timer;
};
