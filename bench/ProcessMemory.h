#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

// A figure of this process's memory from /proc/self/status, in KiB ("VmHWM:" the peak resident
// size so far, "VmRSS:" the resident size now); -1 when unknown.
inline long processMemoryKiB(const char* field = "VmHWM:")
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(int(qstrlen(field))).trimmed().split(' ').value(0).toLong();
    return -1;
}
