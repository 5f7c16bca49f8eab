#include "ui/DeviceCodeDialog.h"

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

void DeviceCodeDialog::run(DeviceCodeGrant& grant, const DeviceCodeGrant::Prompt& prompt)
{
    QDialog dialog(m_parent);
    dialog.setObjectName(QStringLiteral("DeviceCodeDialog"));
    dialog.setWindowTitle(QStringLiteral("Sign in to your Microsoft account"));
    dialog.setModal(true);

    const QUrl address = prompt.verificationUri;
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLabel(QStringLiteral("To sign in, open this address in a browser:"), &dialog));
    auto* addressRow = new QHBoxLayout;
    auto* addressLabel = new QLabel(address.toString(), &dialog);
    addressLabel->setObjectName(QStringLiteral("verificationAddress"));
    // Selectable from the keyboard too, so that the address and the code can be copied without a mouse.
    addressLabel->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    addressLabel->setFocusPolicy(Qt::StrongFocus);
    auto* open = new QPushButton(QStringLiteral("Open in browser"), &dialog);
    open->setObjectName(QStringLiteral("openInBrowser"));
    addressRow->addWidget(addressLabel, 1);
    addressRow->addWidget(open);
    layout->addLayout(addressRow);

    layout->addWidget(new QLabel(QStringLiteral("and enter this code:"), &dialog));
    auto* codeRow = new QHBoxLayout;
    auto* code = new QLabel(prompt.userCode, &dialog);
    code->setObjectName(QStringLiteral("userCode"));
    QFont big = code->font();
    big.setPointSizeF(big.pointSizeF() * 1.6);
    big.setBold(true);
    code->setFont(big);
    code->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    code->setFocusPolicy(Qt::StrongFocus);
    auto* copy = new QPushButton(QStringLiteral("Copy code"), &dialog);
    copy->setObjectName(QStringLiteral("copyCode"));
    codeRow->addWidget(code, 1);
    codeRow->addWidget(copy);
    layout->addLayout(codeRow);

    auto* waiting = new QLabel(QStringLiteral("Waiting for you to finish signing in..."), &dialog);
    layout->addWidget(waiting);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, &dialog);
    layout->addWidget(buttons);

    QObject::connect(open, &QPushButton::clicked, &dialog, [address] { QDesktopServices::openUrl(address); });
    QObject::connect(copy, &QPushButton::clicked, &dialog,
                     [text = prompt.userCode] { QApplication::clipboard()->setText(text); });
    // Cancel, Escape and the close box all reject the window, and each of them ends the sign-in.
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    QObject::connect(&dialog, &QDialog::rejected, &grant, [&grant] {
        if (grant.isRunning())
            grant.cancel();
    });
    QObject::connect(&grant, &DeviceCodeGrant::finished, &dialog, &QDialog::accept);
    if (!grant.isRunning())
        return;
    dialog.exec();
}
