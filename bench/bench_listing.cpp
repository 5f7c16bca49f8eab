// Fills the main list from message events without any network, with the window shown as users
// have it, and refreshes the counts. Prints events per second at 5,000 and 50,000 events and
// the time of one count refresh, then the largest fill with the window not shown, for reference.
//
// Then the same fill once more on an X screen (Xvfb) with a screen reader's bus (a private
// D-Bus session with the AT-SPI bus launcher) and Qt's accessibility bridge forced on
// (QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1), next to a run on the same screen without the bridge.
// Without Xvfb, dbus-daemon, at-spi2-core or xprop (scripts/setup installs them) that part is
// skipped and says so.
//
//     bench_listing [events ...]          (default: 5000 50000)
#include "frame/GeneralDate.h"
#include "retrieval/EmailCounts.h"
#include "retrieval/MailStore.h"
#include "retrieval/MessageListModel.h"
#include "retrieval/MessageListing.h"
#include "support/MainWindowFixture.h"
#include "ui/ProgramStart.h"

#include <QAccessible>
#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QTreeView>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

struct Fill {
    int events = 0;
    double seconds = 0;
    int rowsInView = 0;
    double countSeconds = 0;
    qsizetype errorBoxes = 0;
};

Fill fill(int events, bool shown = true)
{
    MainWindowFixture w;
    Form1& form = w.load();
    if (shown)
        form.show();
    form.mailStore().recreate(events);
    const QString body = QString(3000, QLatin1Char('x'));
    const QString date = GeneralDate::format(QDateTime(QDate(2026, 12, 7), QTime(9, 30)));

    Fill result;
    result.events = events;
    QElapsedTimer timer;
    timer.start();
    for (int i = 1; i <= events; ++i)
        form.listing().oChilkat_MailExtractListing(
            QStringLiteral("Sender %1 <s%1@example.org>").arg(i), QStringLiteral("Sender %1").arg(i),
            QStringLiteral("s%1@example.org").arg(i), QStringLiteral("Subject %1").arg(i), date, body,
            QString(), i);
    // As at the end of a retrieval: the view is told of the last rows, and shows them.
    form.list().announce();
    QCoreApplication::processEvents();
    result.seconds = timer.nsecsElapsed() / 1e9;
    result.rowsInView = form.ListView1->model()->rowCount();

    for (int k = 1; k <= events; k += 2)
        form.list().setChecked(k, true);
    timer.restart();
    form.counts().UpdateEmailCounts(false);
    result.countSeconds = timer.nsecsElapsed() / 1e9;
    result.errorBoxes = w.boxes.errorBoxes().size();
    return result;
}

std::vector<int> eventCounts(const QStringList& args)
{
    std::vector<int> counts;
    for (const QString& a : args)
        if (a.toInt() > 0)
            counts.push_back(a.toInt());
    if (counts.empty())
        counts = {5000, 50000};
    return counts;
}

// The child's side: one line per fill, "fill <events> <seconds> <rows in view> <accessible>".
int child(const std::vector<int>& counts)
{
    for (int events : counts) {
        const Fill f = fill(events);
        std::printf("fill %d %.6f %d %d\n", f.events, f.seconds, f.rowsInView,
                    QAccessible::isActive() ? 1 : 0);
        std::fflush(stdout);
    }
    return 0;
}

// Xvfb, a private session bus and the AT-SPI bus launcher, stopped in reverse order on
// destruction.
class ScreenReaderBus {
public:
    bool start(QString* why)
    {
        const QString launcher = QStringLiteral("/usr/libexec/at-spi-bus-launcher");
        for (const QString& tool : {QStringLiteral("Xvfb"), QStringLiteral("dbus-daemon"),
                                    QStringLiteral("dbus-send"), QStringLiteral("xprop")})
            if (QStandardPaths::findExecutable(tool).isEmpty()) {
                *why = tool + QStringLiteral(" not found");
                return false;
            }
        if (!QFileInfo(launcher).isExecutable()) {
            *why = launcher + QStringLiteral(" not found (at-spi2-core)");
            return false;
        }
        if (!m_runtime.isValid()) {
            *why = QStringLiteral("no temporary folder");
            return false;
        }
        m_env = QProcessEnvironment::systemEnvironment();
        const QByteArray display =
            firstLine(m_xvfb, QStringLiteral("Xvfb"),
                      {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                       QStringLiteral("0"), QStringLiteral("1280x1024x24"), QStringLiteral("-nolisten"),
                       QStringLiteral("tcp")});
        if (display.isEmpty()) {
            *why = QStringLiteral("Xvfb did not start");
            return false;
        }
        m_env.insert(QStringLiteral("DISPLAY"), QStringLiteral(":") + QString::fromLatin1(display));
        const QByteArray bus = firstLine(
            m_dbus, QStringLiteral("dbus-daemon"),
            {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
        if (bus.isEmpty()) {
            *why = QStringLiteral("dbus-daemon did not start");
            return false;
        }
        m_env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QString::fromLatin1(bus));
        m_env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime.path());
        m_env.insert(QStringLiteral("GSETTINGS_BACKEND"), QStringLiteral("memory"));
        m_launcher.setProcessEnvironment(m_env);
        m_launcher.setProcessChannelMode(QProcess::MergedChannels);
        m_launcher.start(launcher, {QStringLiteral("--launch-immediately")});
        if (!m_launcher.waitForStarted(10000)) {
            *why = QStringLiteral("at-spi-bus-launcher did not start");
            return false;
        }
        // Up once the launcher owns org.a11y.Bus on the session bus (where Qt asks for the
        // accessibility bus) or has put AT_SPI_BUS on the root window. A loaded machine can take
        // many seconds here.
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < 60000 && m_launcher.state() == QProcess::Running) {
            if (outputOf(QStringLiteral("dbus-send"),
                         {QStringLiteral("--session"), QStringLiteral("--print-reply"),
                          QStringLiteral("--dest=org.freedesktop.DBus"),
                          QStringLiteral("/org/freedesktop/DBus"),
                          QStringLiteral("org.freedesktop.DBus.NameHasOwner"),
                          QStringLiteral("string:org.a11y.Bus")})
                    .contains("boolean true") ||
                outputOf(QStringLiteral("xprop"), {QStringLiteral("-root"), QStringLiteral("AT_SPI_BUS")})
                    .contains("AT_SPI_BUS(STRING) ="))
                return true;
            QThread::msleep(100);
        }
        *why = QStringLiteral("the accessibility bus did not come up (launcher %1 after %2 ms): %3")
                   .arg(m_launcher.state() == QProcess::Running ? QStringLiteral("running")
                                                                : QStringLiteral("ended"))
                   .arg(waited.elapsed())
                   .arg(QString::fromLocal8Bit(m_launcher.readAll()).trimmed());
        return false;
    }

    ~ScreenReaderBus()
    {
        for (QProcess* p : {&m_launcher, &m_dbus, &m_xvfb}) {
            if (p->state() == QProcess::NotRunning)
                continue;
            p->terminate();
            if (!p->waitForFinished(5000))
                p->kill();
            p->waitForFinished(2000);
        }
    }

    QProcessEnvironment environment() const { return m_env; }

private:
    QByteArray outputOf(const QString& program, const QStringList& args) const
    {
        QProcess p;
        p.setProcessEnvironment(m_env);
        p.start(program, args);
        p.waitForFinished(5000);
        return p.readAllStandardOutput();
    }

    QByteArray firstLine(QProcess& p, const QString& program, const QStringList& args)
    {
        p.setProcessEnvironment(m_env);
        p.start(program, args);
        if (!p.waitForStarted(10000))
            return {};
        while (!p.canReadLine())
            if (!p.waitForReadyRead(10000))
                return {};
        return p.readLine().trimmed();
    }

    QTemporaryDir m_runtime;
    QProcessEnvironment m_env;
    QProcess m_xvfb, m_dbus, m_launcher;
};

// Runs this program's fills in a child on the bus's screen; false when the child fails.
bool runOnScreen(const ScreenReaderBus& bus, bool accessible, const std::vector<int>& counts)
{
    QProcessEnvironment env = bus.environment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    if (accessible)
        env.insert(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1"));
    else
        env.remove(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"));
    QStringList args{QStringLiteral("--child")};
    for (int events : counts)
        args << QString::number(events);
    QProcess p;
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(QCoreApplication::applicationFilePath(), args);
    if (!p.waitForFinished(3600 * 1000) || p.exitCode() != 0)
        return false;
    const QList<QByteArray> lines = p.readAllStandardOutput().split('\n');
    for (const QByteArray& line : lines) {
        const QList<QByteArray> f = line.trimmed().split(' ');
        if (f.size() != 5 || f[0] != "fill")
            continue;
        const int events = f[1].toInt();
        const double seconds = f[2].toDouble();
        std::printf("  %s, %d events: %.0f events/s (%d rows in the view, bridge %s)\n",
                    accessible ? "accessibility on " : "accessibility off", events, events / seconds,
                    f[3].toInt(), f[4] == "1" ? "active" : "inactive");
    }
    std::fflush(stdout);
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    if (args.contains(QStringLiteral("--child"))) {
        ProgramStart::Application<QApplication> app(argc, argv); // as Corvanel starts
        return child(eventCounts(args));
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    ProgramStart::Application<QApplication> app(argc, argv); // as Corvanel starts
    const std::vector<int> counts = eventCounts(args);

    std::printf("window shown, offscreen:\n");
    for (int events : counts) {
        const Fill f = fill(events);
        std::printf("  list fill: %d events in %.3f s = %.0f events/s (%d rows in the view)\n", f.events,
                    f.seconds, f.events / f.seconds, f.rowsInView);
        std::printf("  count refresh over %d rows: %.3f s\n", f.events, f.countSeconds);
        std::printf("  error boxes: %lld\n", static_cast<long long>(f.errorBoxes));
        std::fflush(stdout);
    }
    // For comparison on this machine as it is loaded now.
    const Fill hidden = fill(counts.back(), false);
    std::printf("window not shown (reference): %d events = %.0f events/s\n", hidden.events,
                hidden.events / hidden.seconds);

    QString why;
    ScreenReaderBus bus;
    if (!bus.start(&why)) {
        std::printf("accessibility run skipped: %s\n", qPrintable(why));
        return 0;
    }
    std::printf("window shown on Xvfb with a screen reader's bus:\n");
    std::fflush(stdout);
    if (!runOnScreen(bus, false, counts) || !runOnScreen(bus, true, counts)) {
        std::printf("accessibility run failed\n");
        return 1;
    }
    return 0;
}
