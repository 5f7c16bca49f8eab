#include "mail/RetryWait.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <utility>

RetryWait::RetryWait()
    : m_now([] {
        static QElapsedTimer clock;
        if (!clock.isValid())
            clock.start();
        return clock.elapsed();
    })
    , m_pause([](int ms) {
        QEventLoop loop;
        QTimer::singleShot(qMax(1, ms), &loop, &QEventLoop::quit);
        loop.exec();
    })
{}

RetryWait::RetryWait(Clock now, Pause pause)
    : m_now(std::move(now))
    , m_pause(std::move(pause))
{}

bool RetryWait::wait(int ms, const std::function<bool()>& stopped) const
{
    const qint64 end = m_now() + qMax(0, ms);
    for (;;) {
        if (stopped())
            return false;
        const qint64 left = end - m_now();
        if (left <= 0)
            return true;
        m_pause(int(qMin<qint64>(left, kSliceMs)));
    }
}
