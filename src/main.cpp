#include "export/SystemSpreadsheetDesktop.h"
#include "frame/CmdOutput.h"
#include "frame/IniSettingsStore.h"
#include "frame/QtMessageBoxService.h"
#include "frame/TimeZoneLookup.h"
#include "ui/Form1.h"

#include <QApplication>
#include <QScreen>

int main(int argc, char* argv[])
{
    pinTimeZoneLookup();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Corvanel"));
    QApplication::setOrganizationName(QStringLiteral("Wenlowe"));

    QtMessageBoxService boxes;
    IniSettingsStore settings;
    CmdOutput commands;
    SystemSpreadsheetDesktop desktop;
    Services services;
    services.boxes = &boxes;
    services.settings = &settings;
    services.commands = &commands;
    services.desktop = &desktop;

    Form1 window(services);
    window.Form_Load();
    // Centred on the screen.
    const QRect screen = window.screen()->availableGeometry();
    window.move(screen.center() - QPoint(window.width() / 2, window.height() / 2));
    window.show();
    return app.exec();
}
