#pragma once

#include "mail/ImapResponse.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>

// A command to send: text pieces, each but the last ending in a literal marker "{n}", and the
// literal data that follows each marker once the server has asked for it.
struct ImapCommand {
    QList<QByteArray> parts;
    QList<QByteArray> literals;
    QString logText;              // what the log shows after the tag
    bool reportsProgress = false; // raise percent-done while a literal of the answer arrives
    // Untagged responses while the command runs; false marks one it could not read.
    std::function<bool(const ImapResponse&)> onUntagged;
    // Runs once the command has gone out, before its answer is waited for: commands sent here
    // travel with it; false when sending them failed.
    std::function<bool()> afterSend;
};
