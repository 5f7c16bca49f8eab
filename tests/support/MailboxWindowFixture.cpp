#include "support/MailboxWindowFixture.h"

#include "support/TestCertificates.h"

#include <QRadioButton>

MailboxWindowFixture::MailboxWindowFixture(const TestCertificates& certificates, int inboxMessages,
                                           bool slowAnswers)
    : server(certificates.serverConfiguration(TestCertificates::Server::Trusted))
{
    mailbox.addFolder(QStringLiteral("Inbox"), inboxMessages);
    mailbox.addFolder(QStringLiteral("Drafts"), 0);
    mailbox.addFolder(QStringLiteral("Sent"), 4);
    mailbox.addFolder(QStringLiteral("Deleted"), 9);
    mailbox.setSlowFetch(48, 2);
    if (slowAnswers)
        mailbox.setSlowAnswers(5, 3);
    mailbox.serve(server);
    w.settings.preset("Server", QStringLiteral("localhost"));
    w.settings.preset("Port", QString::number(server.port()));
    w.settings.preset("CACertificates", certificates.caFile());
    w.load();
    w.form->Option3->setChecked(true);
    w.form->show();
}
