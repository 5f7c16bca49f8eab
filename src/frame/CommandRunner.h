#pragma once

#include <QString>

// Runs a command line hidden and returns what it printed. The connectivity check goes
// through this interface so that it can be exercised without a real ping.
class CommandRunner {
public:
    virtual ~CommandRunner() = default;

    // At least one of the two capture flags must be set; with neither, raises invalid
    // procedure call (5) and starts nothing. A command that cannot be started gives the
    // text "Failed to create process, check the path of the command line.".
    virtual QString GetCommandOutput(const QString& commandLine, bool captureStdOut, bool captureStdErr,
                                     bool oemConvert) = 0;
};
