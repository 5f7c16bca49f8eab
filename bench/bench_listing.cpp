// Fills the main list from message events without any network and refreshes the counts.
// Prints events per second and the time of one count refresh.
#include "frame/GeneralDate.h"
#include "retrieval/EmailCounts.h"
#include "retrieval/MailStore.h"
#include "retrieval/MessageListModel.h"
#include "retrieval/MessageListing.h"
#include "support/MainWindowFixture.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>

#include <cstdio>

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int events = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 50000;

    MainWindowFixture w;
    Form1& form = w.load();
    form.show();
    form.mailStore().recreate(events);
    const QString body = QString(3000, QLatin1Char('x'));
    const QString date = GeneralDate::format(QDateTime(QDate(2026, 12, 7), QTime(9, 30)));

    QElapsedTimer timer;
    timer.start();
    for (int i = 1; i <= events; ++i)
        form.listing().oChilkat_MailExtractListing(
            QStringLiteral("Sender %1 <s%1@example.org>").arg(i), QStringLiteral("Sender %1").arg(i),
            QStringLiteral("s%1@example.org").arg(i), QStringLiteral("Subject %1").arg(i), date, body, QString(), i);
    const double fillSeconds = timer.nsecsElapsed() / 1e9;

    for (int k = 1; k <= events; k += 2)
        form.list().setChecked(k, true);
    timer.restart();
    form.counts().UpdateEmailCounts(false);
    const double countSeconds = timer.nsecsElapsed() / 1e9;

    std::printf("list fill: %d events in %.3f s = %.0f events/s\n", events, fillSeconds, events / fillSeconds);
    std::printf("count refresh over %d rows: %.3f s\n", form.list().count(), countSeconds);
    std::printf("error boxes: %lld\n", static_cast<long long>(w.boxes.errorBoxes().size()));
    return 0;
}
