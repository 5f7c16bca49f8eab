#pragma once

#include "frame/FolderOptions.h"
#include "frame/MousePointer.h"
#include "frame/Services.h"
#include "frame/SignInFields.h"
#include "frame/StartUpView.h"
#include "frame/StatusLine.h"
#include "frame/StepButtons.h"
#include "retrieval/RetrievalGlobals.h"
#include "retrieval/RetrievalView.h"
#include "selection/LargerListHost.h"
#include "ui/Form2.h"

#include <QWidget>

#include <array>
#include <functional>
#include <memory>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTreeView;
class EmailCounts;
class ImapClient;
class MessageListModel;
class MailStore;
class clsChilkatIMAP;
class StartUp;
class SettingsHandlers;
class ConnectDisconnect;
class MessageListing;
class RetrievalFlow;
class SelectionOperations;
class SendToExcel;
class AutomationFactory;
class LargerListView;
class OAuthSignIn;
class DeviceCodePrompt;

// The main window: sign-in fields, folder choice, filter, message list and the step buttons.
// Controls carry the names of the window definition as objectName; the handlers live in the
// subsystem classes bound here, which see the window only through the views it implements
// (one-line adapters over the controls, in Form1Views.cpp).
class Form1 : public QWidget,
              public SignInFields,
              public FolderOptions,
              public StatusLine,
              public StepButtons,
              public StartUpView,
              public RetrievalView,
              public LargerListHost {
    Q_OBJECT
public:
    explicit Form1(Services services, QWidget* parent = nullptr);
    ~Form1() override;

    // Runs the start-up sequence once (the window's load).
    void Form_Load();

    // Controls.
    QGroupBox* Frame5 = nullptr;
    std::array<QLabel*, 2> lblLabels{};
    QLineEdit* Text1 = nullptr;
    QLineEdit* Text2 = nullptr;
    QCheckBox* Check1 = nullptr;
    QCheckBox* Check2 = nullptr;
    QComboBox* Combo1 = nullptr;
    QPushButton* PushButton1 = nullptr;
    QPushButton* PushButton11 = nullptr;
    QGroupBox* Frame2 = nullptr;
    QRadioButton* Option3 = nullptr;
    QRadioButton* Option5 = nullptr;
    QRadioButton* Option6 = nullptr;
    QRadioButton* Option7 = nullptr;
    QRadioButton* Option9 = nullptr;
    QGroupBox* Frame4 = nullptr;
    QLineEdit* txtSearch = nullptr;
    QPushButton* PushButton3 = nullptr;
    QPushButton* PushButton2 = nullptr;
    QPushButton* PushButton8 = nullptr;
    QTreeView* ListView1 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QPushButton* PushButton5 = nullptr;
    QPushButton* PushButton6 = nullptr;
    QPushButton* PushButton9 = nullptr;
    QPushButton* PushButton10 = nullptr;
    QPushButton* PushButton7 = nullptr;
    QPushButton* PushButton4 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;

    // Window state.
    Services services;
    MousePointer pointer;
    MessageListModel& list() { return *m_list; }
    EmailCounts& counts() { return *m_counts; }
    MailStore& mailStore();
    ImapClient* ImapComponent = nullptr;  // created by the start-up, kept for the window's life
    ImapClient& component();               // the component; object not set (91) before start-up
    bool RuleCheckDone = false;
    // While set, clicks, keys and the wheel on the main window are dropped, as for a window
    // under a modal one. The larger list view sets it from the moment it starts loading its
    // window, which yields while it is first laid out, before it is shown and holds the main
    // window itself.
    bool inputBlocked = false;

    // The current session, owned by the connection. Setting it binds its events to the list
    // handlers; dropping it (nullptr) unbinds them, so later events of a dropped session reach
    // no one.
    const std::shared_ptr<clsChilkatIMAP>& oChilkat() const;
    void setSession(std::shared_ptr<clsChilkatIMAP> session);
    // The values the two retrievals share with the range dialog.
    RetrievalGlobals& retrievalGlobals() { return m_globals; }

    // The progress bar doubles as the status line; its text is also its accessible description.
    void setProgressText(const QString& text) override;
    QString progressText() const override;
    // Sets a control's width in twips, keeping its position.
    static void setWidthTwips(QWidget* control, int twips);
    static int widthTwips(const QWidget* control);
    // The hand cursor behind the custom pointer value: HAND-M.CUR when it could be loaded.
    void setCustomCursorFile(const QString& path) override;

    // Handler objects (exposed for tests and for each other).
    StartUp& startUp() { return *m_startUp; }
    SettingsHandlers& settingsHandlers() { return *m_settings; }
    ConnectDisconnect& connection() { return *m_connection; }
    MessageListing& listing() { return *m_listing; }
    RetrievalFlow& retrieval() { return *m_retrieval; }
    SelectionOperations& selection() { return *m_selection; }
    LargerListView& largerView() { return *m_largerView; }
    SendToExcel& export_() { return *m_export; }
    Form2& rangeDialog() override;
    // The window's Microsoft sign-in, handed to every session; its prompt is the
    // "Sign in to your Microsoft account" window unless replaced (tests answer it).
    OAuthSignIn& signIn() { return *m_signIn; }

    void PushButton11_Click();
    // Ends the whole program at once (the window's unload). Tests replace it.
    std::function<void()> Form_Unload;

    // SignInFields
    QString text1() const override;
    void setText1(const QString& text) override;
    void selectAllText1() override;
    QString text2() const override;
    void setText2(const QString& text) override;
    void selectAllText2() override;
    bool check1() const override;
    void setCheck1(bool checked) override;
    bool check2() const override;
    void setCheck2(bool checked) override;
    void setCheck2Enabled(bool enabled) override;
    QString combo1Text() const override;
    int combo1Index() const override;
    int combo1Count() const override;
    void setCombo1Index(int index) override;
    void addCombo1Entry(const QString& entry) override;
    // FolderOptions
    bool option(int number) const override;
    void setOption(int number, bool selected) override;
    // StatusLine
    void setProgressValue(int value) override;
    void setProgressMaximum(int maximum) override;
    // StepButtons
    QString caption(StepButton button) const override;
    void setCaption(StepButton button, const QString& caption) override;
    void setButtonVisible(StepButton button, bool visible) override;
    void setButtonWidthTwips(StepButton button, int twips) override;
    // StartUpView
    QWidget* mainWindow() override { return this; }
    QWidget* countLabel(int number) override;
    void addListColumn(const QString& caption) override;
    void setListColumnWidthTwips(int column, int twips) override;
    void clearList() override;
    void repaintList() override;
    void createImapComponent() override;
    void updateEmailCounts(bool resetToZero) override;
    void setRuleCheckDone(bool done) override { RuleCheckDone = done; }
    void clickConnect() override;
    // RetrievalView
    QString filterText() const override;
    void setListSortingEnabled(bool enabled) override;
    // LargerListHost
    std::unique_ptr<LargerListWindow> loadLargerListWindow() override;
    void setInputBlocked(bool blocked) override { inputBlocked = blocked; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void createControls();
    void bindEvents();
    void applyPointer(int value);
    QPushButton* stepButton(StepButton button) const;

    std::unique_ptr<MessageListModel> m_list;
    std::unique_ptr<MailStore> m_store;
    std::unique_ptr<EmailCounts> m_counts;
    RetrievalGlobals m_globals;
    std::unique_ptr<StartUp> m_startUp;
    std::unique_ptr<SettingsHandlers> m_settings;
    std::unique_ptr<ConnectDisconnect> m_connection;
    std::unique_ptr<MessageListing> m_listing;
    std::unique_ptr<RetrievalFlow> m_retrieval;
    std::unique_ptr<SelectionOperations> m_selection;
    std::unique_ptr<LargerListView> m_largerView;
    std::unique_ptr<AutomationFactory> m_automation;
    std::unique_ptr<SendToExcel> m_export;
    std::unique_ptr<Form2> m_form2;
    std::unique_ptr<DeviceCodePrompt> m_devicePrompt;
    std::unique_ptr<OAuthSignIn> m_signIn;
    QCursor* m_customCursor = nullptr;
};
