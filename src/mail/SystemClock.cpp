#include "mail/SystemClock.h"

#include "mail/ImapTransport.h"

#include <QEventLoop>
#include <QTimer>

SystemClock::SystemClock()
{
    m_timer.start();
}

qint64 SystemClock::now() const
{
    return m_timer.elapsed();
}

void SystemClock::sleep(int ms, ImapTransport& transport)
{
    QEventLoop loop;
    QObject::connect(&transport, &ImapTransport::activity, &loop, &QEventLoop::quit);
    QTimer::singleShot(qMax(1, ms), &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}
