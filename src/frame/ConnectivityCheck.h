#pragma once

#include <QString>

class CommandRunner;
class MessageBoxService;

// The start-up check whether the computer is online: one ping of a well-known public host,
// in the syntax of the platform's own ping, and a search of its output for a reply line.
namespace ConnectivityCheck {
QString host();
// Windows: "ping HOST -n 1". Linux: "ping -c 1 -W 3 HOST" (at most 3 s for the reply).
// macOS and the BSDs: "ping -c 1 -t 3 HOST" (their -W counts milliseconds, -t seconds).
QString commandLine();
// The text every reply line of the platform's ping contains: "bytes=" on Windows,
// "bytes from" elsewhere (iputils, BusyBox and BSD ping).
QString replyMarker();
// Whether the output holds the marker, whatever the letter case.
bool hasReply(const QString& output, const QString& marker = replyMarker());
QString warningText(); // "You must be online to use this software accurately."
} // namespace ConnectivityCheck

// Pings once and, when no reply line comes back (no network, unknown host, ping missing,
// no output at all), shows the warning with an OK button and no icon, titled with the
// application title of that moment. Never raises: start-up always goes on.
void CheckInternetConnection(CommandRunner& runner, MessageBoxService& boxes);
