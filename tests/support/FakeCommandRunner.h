#pragma once

#include "frame/CommandRunner.h"

#include <QStringList>

// A command runner that answers with a prepared output and records the command lines.
class FakeCommandRunner : public CommandRunner {
public:
    QString GetCommandOutput(const QString& commandLine, bool, bool, bool) override
    {
        commandLines.append(commandLine);
        return output;
    }

    QString output = QStringLiteral("64 bytes from 127.0.0.1: icmp_seq=1 ttl=64 time=0.05 ms\n");
    QStringList commandLines;
};
