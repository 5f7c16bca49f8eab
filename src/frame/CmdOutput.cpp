#include "frame/CmdOutput.h"

#include "frame/CommandOutputDecoder.h"
#include "frame/EventYield.h"
#include "frame/VbError.h"

#include <QEventLoop>
#include <QProcess>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#endif

namespace {
// Waits, without handling user input, until one of the process's signals arrives.
template <class... Signals> void waitFor(QProcess& process, Signals... signalList) {
    QEventLoop loop;
    (QObject::connect(&process, signalList, &loop, &QEventLoop::quit), ...);
    QObject::connect(&process, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

// True once the child runs (or has already run); false when it could not be started.
bool waitUntilStarted(QProcess& process) {
    if (process.state() == QProcess::Starting)
        waitFor(process, &QProcess::started, &QProcess::finished);
    return process.error() != QProcess::FailedToStart;
}
} // namespace

const QString& CmdOutput::failureText() {
    static const QString text =
        QStringLiteral("Failed to create process, check the path of the command line.");
    return text;
}

QString CmdOutput::GetCommandOutput(const QString& commandLine, bool captureStdOut, bool captureStdErr,
                                    bool oemConvert) {
    if (!captureStdOut && !captureStdErr)
        throw VbError::invalidProcedureCall();

    QStringList arguments = QProcess::splitCommand(commandLine);
    if (arguments.isEmpty())
        return failureText();
    const QString program = arguments.takeFirst();

    QProcess process;
    if (captureStdOut && captureStdErr) {
        process.setProcessChannelMode(QProcess::MergedChannels);
    } else if (captureStdOut) {
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    } else {
        process.setProcessChannelMode(QProcess::ForwardedOutputChannel);
        process.setReadChannel(QProcess::StandardError);
    }
#ifdef Q_OS_WIN
    // Started with its window hidden, as a console program run from a window must be.
    process.setCreateProcessArgumentsModifier([](QProcess::CreateProcessArguments* args) {
        args->startupInfo->dwFlags |= STARTF_USESHOWWINDOW;
        args->startupInfo->wShowWindow = SW_HIDE;
    });
#endif
    process.start(program, arguments);
    if (!waitUntilStarted(process))
        return failureText();
    process.closeWriteChannel();

    CommandOutputDecoder decoder(oemConvert);
    QString output;
    for (;;) {
        yieldEvents();
        if (process.bytesAvailable() == 0 && process.state() != QProcess::NotRunning)
            waitFor(process, &QProcess::readyRead, &QProcess::finished);
        const QByteArray chunk = process.read(kChunkSize);
        if (!chunk.isEmpty()) {
            output += decoder.decode(chunk);
            continue;
        }
        if (process.state() == QProcess::NotRunning && process.bytesAvailable() == 0)
            break;
    }
    output += decoder.finish();
    return output;
}
