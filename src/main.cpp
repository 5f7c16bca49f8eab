#include "export/SystemSpreadsheetDesktop.h"
#include "frame/CmdOutput.h"
#include "frame/CommandLine.h"
#include "frame/IniSettingsStore.h"
#include "frame/KeychainSecretStore.h"
#include "frame/QtMessageBoxService.h"
#include "frame/SecretSettingsStore.h"
#include "ui/Form1.h"
#include "ui/ProgramStart.h"

#include <QApplication>
#include <QScreen>

#include <cstdio>

int main(int argc, char* argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const CommandLine commandLine = CommandLine::parse(arguments);
    if (commandLine.exits()) {
        std::fputs(commandLine.output().toLocal8Bit().constData(), stdout);
        std::fputs(commandLine.errorOutput().toLocal8Bit().constData(), stderr);
        return commandLine.exitCode();
    }

    ProgramStart::Application<QApplication> app(argc, argv);

    QtMessageBoxService boxes;
    IniSettingsStore file;
    // The secrets go to the desktop keyring, except in the demo, whose password stays in its
    // own settings file and never reaches the user's keyring.
    KeychainSecretStore keyring;
    SecretSettingsStore secretSettings(file, keyring);
    SettingsStore& settings = commandLine.demo() ? static_cast<SettingsStore&>(file) : secretSettings;
    CmdOutput commands;
    SystemSpreadsheetDesktop desktop;
    const std::unique_ptr<Form1> window = ProgramStart::mainWindow(
        {.boxes = &boxes, .settings = &settings, .commands = &commands, .desktop = &desktop});
    // Centred on the screen.
    const QRect screen = window->screen()->availableGeometry();
    window->move(screen.center() - QPoint(window->width() / 2, window->height() / 2));
    window->show();
    return app.exec();
}
