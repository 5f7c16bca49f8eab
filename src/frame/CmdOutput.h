#pragma once

#include "frame/CommandRunner.h"

// The real command runner. The command line is split into program and arguments the way
// QProcess::splitCommand does (double quotes group words) and the program is started
// directly, without a shell, hidden and without a console window.
//
// Channels: with both capture flags, standard output and standard error share one pipe
// and arrive interleaved as the child wrote them. With one flag, the other channel is not
// captured but forwarded to this program's own channel, as an inherited handle would be.
// Standard input is closed at once, so a child that reads it sees end of input and cannot
// wait for input that never comes.
//
// Reading: before every read the user interface processes its pending events; between
// reads the routine waits in a local event loop that handles no user input, until the
// child writes again or ends. Each read takes at most 1024 bytes. The output ends when the
// child has ended and everything it wrote has been read; the routine returns only after
// the child has been reaped, with every pipe closed.
class CmdOutput : public CommandRunner {
public:
    QString GetCommandOutput(const QString& commandLine, bool captureStdOut, bool captureStdErr,
                             bool oemConvert) override;

    static const QString& failureText(); // "Failed to create process, check the path ..."
    static constexpr qint64 kChunkSize = 1024;
};
