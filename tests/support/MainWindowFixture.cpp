#include "support/MainWindowFixture.h"

#include "support/DovecotHarness.h"

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
    Services services;
    services.boxes = &boxes;
    services.settings = &settings;
    services.commands = &commands;
    services.desktop = &desktop;
    form = std::make_unique<Form1>(services);
    form->Form_Unload = [] {};
    form->Form_Load();
    return *form;
}

bool MainWindowFixture::connectAs(const QString& user, const QString& password)
{
    form->Text1->setText(user);
    form->Text2->setText(password);
    form->PushButton1->click();
    return form->PushButton1->text() == QStringLiteral("Disconnect");
}
