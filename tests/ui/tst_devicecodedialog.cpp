#include "mail/OAuthSettings.h"
#include "support/AccessibleView.h"
#include "support/FakeIdentityServer.h"
#include "ui/DeviceCodeDialog.h"

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

#include <functional>

namespace {

QByteArray json(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

// Acts on the sign-in window once it runs modally.
void whenDialogRuns(std::function<void(QDialog&)> action)
{
    auto* poll = new QTimer;
    poll->setInterval(5);
    QObject::connect(poll, &QTimer::timeout, [poll, action] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible())
            return;
        poll->stop();
        poll->deleteLater();
        action(*dialog);
    });
    poll->start();
}

} // namespace

// Receives the addresses the desktop would open.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public Q_SLOTS:
    void open(const QUrl& url) { opened.append(url); }
};

class TestDeviceCodeDialog : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void showsAddressAndCodeAndCancels();
    void closesWhenTheSignInEnds();
    void escapeCancelsAndEveryPartIsAnnounced();

private:
    // Starts the grant and waits for what the user is to be shown.
    void startGrant(DeviceCodeGrant& grant, DeviceCodeGrant::Prompt& prompt, int msPerSecond);
};

void TestDeviceCodeDialog::startGrant(DeviceCodeGrant& grant, DeviceCodeGrant::Prompt& prompt,
                                      int msPerSecond)
{
    QSignalSpy ready(&grant, &DeviceCodeGrant::promptReady);
    grant.setMillisecondsPerSecond(msPerSecond);
    grant.start();
    QVERIFY(ready.wait(5000));
    prompt = grant.prompt();
}

void TestDeviceCodeDialog::showsAddressAndCodeAndCancels()
{
    FakeIdentityServer identity;
    identity.answer(FakeIdentityServer::deviceCodePath(), 200,
                    json({{"device_code", "dc"},
                          {"user_code", "CX7KQ2RT"},
                          {"verification_uri", "https://www.microsoft.com/link"},
                          {"expires_in", 900},
                          {"interval", 100}}));
    OAuthSettings settings;
    settings.clientId = "test-client";
    settings.authority = identity.authority();
    DeviceCodeGrant grant(settings);
    DeviceCodeGrant::Prompt prompt;
    startGrant(grant, prompt, 20);

    UrlCatcher catcher;
    QDesktopServices::setUrlHandler("https", &catcher, "open");
    QString title, address, code, clipboard;
    whenDialogRuns([&](QDialog& dialog) {
        title = dialog.windowTitle();
        address = dialog.findChild<QLabel*>("verificationAddress")->text();
        code = dialog.findChild<QLabel*>("userCode")->text();
        dialog.findChild<QPushButton*>("openInBrowser")->click();
        dialog.findChild<QPushButton*>("copyCode")->click();
        clipboard = QApplication::clipboard()->text();
        dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel)->click();
    });
    QSignalSpy failed(&grant, &DeviceCodeGrant::failed);
    DeviceCodeDialog(nullptr).run(grant, prompt);
    QDesktopServices::unsetUrlHandler("https");

    QCOMPARE(title, QStringLiteral("Sign in to your Microsoft account"));
    QCOMPARE(address, QStringLiteral("https://www.microsoft.com/link"));
    QCOMPARE(code, QStringLiteral("CX7KQ2RT"));
    QCOMPARE(catcher.opened, QList<QUrl>{QUrl("https://www.microsoft.com/link")});
    QCOMPARE(clipboard, QStringLiteral("CX7KQ2RT"));
    QVERIFY(!grant.isRunning());
    QCOMPARE(grant.error(), OAuthError::Cancelled);
    QCOMPARE(failed.size(), 1);
}

void TestDeviceCodeDialog::closesWhenTheSignInEnds()
{
    FakeIdentityServer identity;
    identity
        .answer(FakeIdentityServer::deviceCodePath(), 200,
                json({{"device_code", "dc"},
                      {"user_code", "CX7KQ2RT"},
                      {"verification_uri", "https://www.microsoft.com/link"},
                      {"expires_in", 900},
                      {"interval", 1}}))
        .answer(FakeIdentityServer::tokenPath(), 400, json({{"error", "authorization_pending"}}))
        .answer(FakeIdentityServer::tokenPath(), 200,
                json({{"token_type", "Bearer"}, {"expires_in", 3600}, {"access_token", "at"}}));
    OAuthSettings settings;
    settings.clientId = "test-client";
    settings.authority = identity.authority();
    DeviceCodeGrant grant(settings);
    DeviceCodeGrant::Prompt prompt;
    startGrant(grant, prompt, 200);

    bool shown = false;
    whenDialogRuns([&](QDialog&) { shown = true; });
    DeviceCodeDialog(nullptr).run(grant, prompt); // returns only once the window has closed
    QVERIFY(shown);
    QVERIFY(!grant.isRunning());
    QCOMPARE(grant.tokens().accessToken, QStringLiteral("at"));
    QVERIFY(!QApplication::activeModalWidget());
}

// A keyboard user reaches the address, "Open in browser", the code, "Copy code" and Cancel in
// that order (address and code selectable, to copy them), and Escape (like the close box) ends
// the sign-in, not only the window.
void TestDeviceCodeDialog::escapeCancelsAndEveryPartIsAnnounced()
{
    FakeIdentityServer identity;
    identity.answer(FakeIdentityServer::deviceCodePath(), 200,
                    json({{"device_code", "dc"},
                          {"user_code", "CX7KQ2RT"},
                          {"verification_uri", "https://www.microsoft.com/link"},
                          {"expires_in", 900},
                          {"interval", 100}}));
    OAuthSettings settings;
    settings.clientId = "test-client";
    settings.authority = identity.authority();
    DeviceCodeGrant grant(settings);
    DeviceCodeGrant::Prompt prompt;
    startGrant(grant, prompt, 20);

    QStringList heard, wrong;
    AccessibleView window;
    whenDialogRuns([&](QDialog& dialog) {
        window = AccessibleView::of(&dialog);
        wrong = AccessibleView::mismatches(&dialog);
        QWidget* first = QApplication::focusWidget();
        for (int i = 0; i < 5 && QApplication::focusWidget(); ++i) {
            heard << AccessibleView::of(QApplication::focusWidget()).announcement();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        }
        heard << QString::number(QApplication::focusWidget() == first);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    });
    DeviceCodeDialog(nullptr).run(grant, prompt);

    QCOMPARE(window.name, QStringLiteral("Sign in to your Microsoft account"));
    QCOMPARE(window.role, QAccessible::Dialog);
    QCOMPARE(wrong.join("; "), QString());
    // Tab goes round every part, in reading order, and back.
    QCOMPARE(heard, (QStringList{"label \"https://www.microsoft.com/link\"", "button \"Open in browser\"",
                                 "label \"CX7KQ2RT\"", "button \"Copy code\"", "button \"Cancel\"", "1"}));
    QVERIFY(!grant.isRunning());
    QCOMPARE(grant.error(), OAuthError::Cancelled);
}

QTEST_MAIN(TestDeviceCodeDialog)
#include "tst_devicecodedialog.moc"
