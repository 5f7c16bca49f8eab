#include "frame/ConnectivityCheck.h"

#include "frame/AppTitle.h"
#include "frame/CommandRunner.h"
#include "frame/MessageBoxService.h"

#include <exception>

QString ConnectivityCheck::host() {
    return QStringLiteral("www.google.com");
}

QString ConnectivityCheck::commandLine() {
#if defined(Q_OS_WIN)
    return QStringLiteral("ping ") + host() + QStringLiteral(" -n 1");
#elif defined(Q_OS_LINUX)
    return QStringLiteral("ping -c 1 -W 3 ") + host();
#else
    return QStringLiteral("ping -c 1 -t 3 ") + host();
#endif
}

QString ConnectivityCheck::replyMarker() {
#if defined(Q_OS_WIN)
    return QStringLiteral("bytes=");
#else
    return QStringLiteral("bytes from");
#endif
}

bool ConnectivityCheck::hasReply(const QString& output, const QString& marker) {
    return output.contains(marker, Qt::CaseInsensitive);
}

QString ConnectivityCheck::warningText() {
    return QStringLiteral("You must be online to use this software accurately.");
}

void CheckInternetConnection(CommandRunner& runner, MessageBoxService& boxes) {
    QString output;
    try {
        // Standard output only, decoded from the console's code page.
        output = runner.GetCommandOutput(ConnectivityCheck::commandLine(), true, false, true);
    } catch (...) {
        // No output is treated like an output without a reply: the user is warned.
        output.clear();
    }
    if (ConnectivityCheck::hasReply(output))
        return;
    try {
        boxes.msgBox(ConnectivityCheck::warningText(), MessageBoxService::Icon::None, AppTitle::current());
    } catch (...) {
        // A box that cannot be shown must not stop start-up either.
    }
}
