#include "export/SystemSpreadsheetDesktop.h"
#include "frame/CmdOutput.h"
#include "frame/IniSettingsStore.h"
#include "frame/QtMessageBoxService.h"
#include "ui/Form1.h"
#include "ui/ProgramStart.h"

#include <QApplication>
#include <QScreen>

int main(int argc, char* argv[])
{
    ProgramStart::Application<QApplication> app(argc, argv);

    QtMessageBoxService boxes;
    IniSettingsStore settings;
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
