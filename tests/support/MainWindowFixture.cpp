#include "support/MainWindowFixture.h"

#include "support/DovecotHarness.h"
#include "ui/ProgramStart.h"

#include <QLineEdit>
#include <QPushButton>

void MainWindowFixture::pointTo(DovecotHarness& server)
{
    settings.preset("Server", DovecotHarness::host());
    settings.preset("Port", QString::number(server.imapsPort()));
    settings.preset("CACertificates", server.caPemPath());
}

Form1& MainWindowFixture::load()
{
    form = ProgramStart::mainWindow(
        {.boxes = &boxes, .settings = &settings, .commands = &commands, .desktop = &desktop}, [] {});
    return *form;
}

bool MainWindowFixture::connectAs(const QString& user, const QString& password)
{
    form->Text1->setText(user);
    form->Text2->setText(password);
    form->PushButton1->click();
    return form->PushButton1->text() == QStringLiteral("Disconnect");
}
