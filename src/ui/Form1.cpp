#include "ui/Form1.h"
#include "ui/PaintPacer.h"

#include "frame/AppTitle.h"
#include "frame/ErrorTail.h"
#include "frame/MessageBoxService.h"
#include "frame/SettingsHandlers.h"
#include "frame/SettingsStore.h"
#include "frame/StartUp.h"
#include "mail/ClsChilkatImap.h"
#include "retrieval/ConnectDisconnect.h"
#include "retrieval/EmailCounts.h"
#include "retrieval/MailStore.h"
#include "retrieval/MessageListModel.h"
#include "retrieval/MessageListing.h"
#include "retrieval/RetrievalFlow.h"
#include "export/AutomationFactory.h"
#include "export/SendToExcel.h"
#include "selection/LargerListView.h"
#include "selection/SelectionOperations.h"
#include "ui/DeviceCodeDialog.h"
#include "ui/MessageListView.h"
#include "mail/OAuthSignIn.h"
#include "ui/DesignedFonts.h"
#include "ui/Twips.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QTreeView>

#include <cstdlib>

namespace {

// Creates a control. A captioned control shows `caption`, and assistive technology reads its
// name from that text, so a later caption ("Disconnect", "Stop") is what a screen reader says:
// an explicit accessible name would freeze it. A control without a caption of its own (text
// boxes, the list, the drop-down, the progress bar) is named `caption`, the text of its label.
template <class W> W* make(QWidget* parent, const char* name, const QString& caption, QRect twips)
{
    auto* w = new W(parent);
    w->setObjectName(QLatin1String(name));
    if constexpr (std::is_same_v<W, QGroupBox>) {
        w->setTitle(caption);
    } else if constexpr (std::is_same_v<W, QLineEdit> || std::is_same_v<W, QComboBox>
                         || std::is_same_v<W, QTreeView> || std::is_same_v<W, QProgressBar>) {
        w->setAccessibleName(caption);
    } else {
        w->setText(caption);
    }
    w->setGeometry(Twips::rect(twips.x(), twips.y(), twips.width(), twips.height()));
    return w;
}

QPushButton* makeButton(QWidget* parent, const char* name, const QString& caption, QRect twips)
{
    auto* button = make<QPushButton>(parent, name, caption, twips);
    button->setFont(buttonFont());
    button->setMouseTracking(true);
    return button;
}

void paintWhite(QWidget* w)
{
    QPalette palette = w->palette();
    palette.setColor(QPalette::Window, Qt::white);
    w->setPalette(palette);
    // Option buttons and check boxes fill with the button colour by default: make them take
    // the window colour like the frames and labels around them.
    w->setBackgroundRole(QPalette::Window);
    w->setAutoFillBackground(true);
}

} // namespace

Form1::Form1(Services services_, QWidget* parent)
    : QWidget(parent)
    , services(services_)
    , m_list(std::make_unique<MessageListModel>())
    , m_store(std::make_unique<MailStore>())
{
    if (!services.boxes || !services.settings || !services.commands || !services.desktop)
        qFatal("The main window needs every service: boxes, settings, commands and the desktop");
    setObjectName(QStringLiteral("Form1"));
    Form_Unload = [] { std::_Exit(0); };
    createControls();
    new PaintPacer(*this); // owned by the window
    m_counts = std::make_unique<EmailCounts>(
        *m_list, [this](const QString& t) { Label1->setText(t); },
        [this](const QString& t) { Label2->setText(t); });
    m_signIn = std::make_unique<OAuthSignIn>(*services.settings, [this] { return Check1->isChecked(); });
    m_settings = std::make_unique<SettingsHandlers>(
        *services.settings, *this, *this,
        SettingsHandlers::SignInMemory{[this] { m_signIn->storeRefreshToken(); }, [this] { m_signIn->forget(); }});
    m_startUp = std::make_unique<StartUp>(services, *this, *this, *this, *m_settings);
    const MainListModels models{*m_list, *m_store, *m_counts, RuleCheckDone};
    m_listing = std::make_unique<MessageListing>(services, *this, *this, models, [this] { return oChilkat(); });
    m_connection = std::make_unique<ConnectDisconnect>(services, ConnectDisconnect::Views{*this, *this, *this, pointer},
                                                       models, [this]() -> ImapClient& { return component(); },
                                                       *m_signIn, *m_listing);
    m_retrieval = std::make_unique<RetrievalFlow>(
        services, RetrievalFlow::Views{*this, *this, *this, pointer, *this}, models, *m_connection, m_globals);
    m_selection = std::make_unique<SelectionOperations>(*m_list, *m_counts, RuleCheckDone, *services.boxes,
                                                        SelectionOperations::mainWindow(pointer));
    m_largerView = std::make_unique<LargerListView>(*services.boxes, *this, *m_list, *m_counts);
    m_automation = std::make_unique<AutomationFactory>(*services.desktop);
    m_export = std::make_unique<SendToExcel>(*m_list, *m_store, *services.boxes, pointer, *m_automation);
    m_devicePrompt = std::make_unique<DeviceCodeDialog>(this);
    m_signIn->setPrompt(m_devicePrompt.get());
    bindEvents();
}

Form1::~Form1()
{
    setSession(nullptr);
    delete m_customCursor;
}

void Form1::Form_Load() { m_startUp->Form_Load(); }

MailStore& Form1::mailStore() { return *m_store; }

ImapClient& Form1::component()
{
    if (!ImapComponent)
        throw VbError::objectNotSet();
    return *ImapComponent;
}

Form2& Form1::rangeDialog()
{
    // Created on first use and kept for the program's life.
    if (!m_form2)
        m_form2 = std::make_unique<Form2>(this, *services.boxes, m_globals);
    return *m_form2;
}

void Form1::createControls()
{
    setFont(windowFont());
    setFixedSize(Twips::toPx(8040), Twips::toPx(9285));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                   | Qt::WindowCloseButtonHint);
    paintWhite(this);
    setMouseTracking(true);

    Frame5 = make<QGroupBox>(this, "Frame5", QStringLiteral("Login"), {120, 120, 7800, 1770});
    lblLabels[0] = make<QLabel>(Frame5, "lblLabels_0", QStringLiteral("Live ID:"), {240, 345, 1320, 270});
    lblLabels[1] = make<QLabel>(Frame5, "lblLabels_1", QStringLiteral("Password:"), {240, 795, 1080, 270});
    Text1 = make<QLineEdit>(Frame5, "Text1", QStringLiteral("Live ID:"), {1320, 300, 2880, 345});
    Text2 = make<QLineEdit>(Frame5, "Text2", QStringLiteral("Password:"), {1320, 750, 2880, 345});
    Text2->setEchoMode(QLineEdit::Password);
    lblLabels[0]->setBuddy(Text1);
    lblLabels[1]->setBuddy(Text2);
    Check1 = make<QCheckBox>(Frame5, "Check1", QStringLiteral("Remember me"), {4320, 345, 1695, 255});
    Check2 = make<QCheckBox>(Frame5, "Check2", QStringLiteral("Autoconnect when software loads"),
                             {4320, 795, 3255, 255});
    // Lies at the right edge of the frame as designed: only its first 240 twips show.
    Combo1 = make<QComboBox>(Frame5, "Combo1", QStringLiteral("Account address suffix"), {7560, 300, 1905, 345});
    // Only its edge shows, but it takes focus like any control; a screen reader names a drop-down
    // by its current item, and the description says what the item is for.
    Combo1->setAccessibleDescription(QStringLiteral("Account address suffix"));
    PushButton1 = makeButton(Frame5, "PushButton1", QStringLiteral("1. Connect"), {240, 1200, 5760, 405});
    PushButton11 = makeButton(Frame5, "PushButton11", QStringLiteral("Help"), {6120, 1200, 1425, 405});

    Frame2 = make<QGroupBox>(this, "Frame2", QStringLiteral("Folder"), {120, 1920, 7800, 700});
    Option3 = make<QRadioButton>(Frame2, "Option3", QStringLiteral("Inbox"), {240, 300, 855, 255});
    Option5 = make<QRadioButton>(Frame2, "Option5", QStringLiteral("Drafts"), {1560, 300, 855, 255});
    Option6 = make<QRadioButton>(Frame2, "Option6", QStringLiteral("Sent"), {2880, 300, 1095, 255});
    Option7 = make<QRadioButton>(Frame2, "Option7", QStringLiteral("Junk"), {4200, 300, 855, 255});
    Option9 = make<QRadioButton>(Frame2, "Option9", QStringLiteral("Deleted"), {5595, 300, 1095, 255});

    Frame4 = make<QGroupBox>(
        this, "Frame4",
        QStringLiteral("Optional: Filter (Only messages containing characters below will be added to the list)"),
        {120, 2670, 7800, 810});
    txtSearch = make<QLineEdit>(Frame4, "txtSearch", QStringLiteral("Filter"), {240, 300, 7305, 345});

    PushButton3 = makeButton(this, "PushButton3", QStringLiteral("2a. Get All Emails"), {120, 3585, 3840, 405});
    PushButton2 = makeButton(this, "PushButton2", QStringLiteral("2b. Get Some Emails"), {4080, 3585, 3840, 405});
    PushButton8 = makeButton(this, "PushButton8", QStringLiteral("Show List In Larger View"), {120, 4095, 7800, 405});

    ListView1 = make<QTreeView>(this, "ListView1", QStringLiteral("Message list"), {120, 4605, 7800, 1665});
    setUpMessageListView(ListView1, m_list.get());

    Label1 = make<QLabel>(this, "Label1", QStringLiteral("Total Number Of Emails: "), {120, 6375, 3840, 255});
    Label2 = make<QLabel>(this, "Label2", QStringLiteral("Selected Emails: "), {4080, 6375, 3840, 255});
    PushButton5 = makeButton(this, "PushButton5", QStringLiteral("Check All"), {120, 6735, 3840, 405});
    PushButton6 = makeButton(this, "PushButton6", QStringLiteral("Uncheck All"), {4080, 6735, 3840, 405});
    PushButton9 = makeButton(this, "PushButton9", QStringLiteral("Check Emails Containing..."), {120, 7245, 3840, 405});
    PushButton10 =
        makeButton(this, "PushButton10", QStringLiteral("Check Emails Not Containing..."), {4080, 7245, 3840, 405});
    PushButton7 = makeButton(this, "PushButton7", QStringLiteral("Clear List"), {120, 7755, 7800, 405});
    PushButton4 = makeButton(this, "PushButton4", QStringLiteral("3. Send To Excel"), {120, 8265, 7800, 405});

    ProgressBar1 = make<QProgressBar>(this, "ProgressBar1", QStringLiteral("Progress"), {120, 8775, 7800, 405});
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(true);
    ProgressBar1->setAlignment(Qt::AlignCenter);
    setProgressText(QStringLiteral("Progress Bar"));

    for (QWidget* w : std::initializer_list<QWidget*>{Frame5, Frame2, Frame4, Option3, Option5, Option6, Option7,
                                                      Option9, Check1, Check2, lblLabels[0], lblLabels[1], Label1,
                                                      Label2})
        paintWhite(w);
    for (QWidget* w : std::initializer_list<QWidget*>{Frame5, Frame2, Frame4, Text1, Text2})
        w->setMouseTracking(true);

    // Tab order follows the steps, so that the whole job can be done from the keyboard.
    QWidget* const order[] = {Text1,        Text2,       Check1,       Check2,      Combo1,     PushButton1,
                              PushButton11, Option3,     Option5,      Option6,     Option7,    Option9,
                              txtSearch,    PushButton3, PushButton2,  PushButton8, ListView1,  PushButton5,
                              PushButton6,  PushButton9, PushButton10, PushButton7, PushButton4};
    for (size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);
}

void Form1::bindEvents()
{
    connect(&pointer, &MousePointer::changed, this, &Form1::applyPointer);
    for (QWidget* w : findChildren<QWidget*>())
        w->installEventFilter(this);
    ListView1->viewport()->installEventFilter(this);
    installEventFilter(this);

    connect(PushButton11, &QPushButton::clicked, this, &Form1::PushButton11_Click);

    SettingsHandlers* const settings = m_settings.get();
    connect(Check1, &QCheckBox::toggled, this, [settings] { settings->Check1_Click(); });
    connect(Check2, &QCheckBox::toggled, this, [settings] { settings->Check2_Click(); });
    connect(Text1, &QLineEdit::textChanged, this, [settings] { settings->Text1_Change(); });
    connect(Text2, &QLineEdit::textChanged, this, [settings] { settings->Text2_Change(); });
    for (QRadioButton* option : {Option3, Option5, Option6, Option7, Option9})
        connect(option, &QRadioButton::toggled, this, [settings](bool on) {
            if (on)
                settings->Option_Click();
        });
    connect(Combo1, &QComboBox::currentIndexChanged, this, [settings] { settings->Combo1_Click(); });
    connect(Combo1, &QComboBox::editTextChanged, this, [settings] { settings->Combo1_Change(); });

    connect(PushButton1, &QPushButton::clicked, this, [this] { m_connection->PushButton1_Click(); });
    connect(PushButton3, &QPushButton::clicked, this, [this] { m_retrieval->PushButton3_Click(); });
    connect(PushButton2, &QPushButton::clicked, this, [this] { m_retrieval->PushButton2_Click(); });
    connect(PushButton8, &QPushButton::clicked, this, [this] { m_largerView->PushButton8_Click(); });
    connect(PushButton5, &QPushButton::clicked, this, [this] { m_selection->PushButton5_Click(); });
    connect(PushButton6, &QPushButton::clicked, this, [this] { m_selection->PushButton6_Click(); });
    connect(PushButton7, &QPushButton::clicked, this, [this] { m_selection->PushButton7_Click(); });
    connect(PushButton9, &QPushButton::clicked, this, [this] { m_selection->PushButton9_Click(); });
    connect(PushButton10, &QPushButton::clicked, this, [this] { m_selection->PushButton10_Click(); });
    connect(m_list.get(), &MessageListModel::itemCheck, this, [this](int k) { m_selection->ListView1_ItemCheck(k); });
    connect(PushButton4, &QPushButton::clicked, this, [this] { m_export->PushButton4_Click(); });
}

bool Form1::eventFilter(QObject* watched, QEvent* event)
{
    if (inputBlocked) {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::Wheel:
            return true;
        default:
            break;
        }
    }
    // "2b. Get Some Emails" hides while it runs and the widened button beside it reads "Stop":
    // the keyboard focus goes there rather than on to the next control.
    if (event->type() == QEvent::Hide && watched == PushButton2 && focusWidget() == PushButton2
        && PushButton3->isVisible())
        PushButton3->setFocus(Qt::OtherFocusReason);
    if (event->type() == QEvent::FocusIn) {
        // The line edit places its own cursor after the focus event: select afterwards.
        SettingsHandlers* const settings = m_settings.get();
        if (watched == Text1)
            QTimer::singleShot(0, this, [settings] { settings->Text1_GotFocus(); });
        else if (watched == Text2)
            QTimer::singleShot(0, this, [settings] { settings->Text2_GotFocus(); });
    }
    if (event->type() == QEvent::MouseMove) {
        if (watched == PushButton2 || watched == PushButton3) {
            pointer.set(MousePointer::Custom);  // these two show the hand even over the hourglass
        } else if (qobject_cast<QPushButton*>(watched)) {
            pointer.hover(MousePointer::Custom);
        } else if (watched == this || watched == Frame2 || watched == Frame4 || watched == Frame5) {
            // A move over a child reaches its container too: only the bare background counts.
            const auto* container = static_cast<QWidget*>(watched);
            const auto* move = static_cast<QMouseEvent*>(event);
            if (!container->childAt(move->position().toPoint()))
                pointer.hover(MousePointer::Default);
        } else if (watched == ListView1 || watched == ListView1->viewport() || watched == Text1 || watched == Text2) {
            pointer.hover(MousePointer::Default);
        }
    }
    return QWidget::eventFilter(watched, event);
}

void Form1::applyPointer(int value)
{
    switch (value) {
    case MousePointer::Hourglass: setCursor(Qt::WaitCursor); break;
    case MousePointer::Custom: setCursor(m_customCursor ? *m_customCursor : QCursor(Qt::PointingHandCursor)); break;
    default: unsetCursor(); break;
    }
}

void Form1::setCustomCursorFile(const QString& path)
{
    const QPixmap pixmap(path);
    if (pixmap.isNull())
        return;
    delete m_customCursor;
    m_customCursor = new QCursor(pixmap, 0, 0);
}

const std::shared_ptr<clsChilkatIMAP>& Form1::oChilkat() const { return m_connection->session(); }

void Form1::setSession(std::shared_ptr<clsChilkatIMAP> session) { m_connection->setSession(std::move(session)); }

void Form1::setWidthTwips(QWidget* control, int twips) { control->resize(Twips::toPx(twips), control->height()); }

int Form1::widthTwips(const QWidget* control) { return Twips::fromPx(control->width()); }

void Form1::PushButton11_Click()
{
    ErrorTail tail(*services.boxes, QStringLiteral("Form1"), QStringLiteral("PushButton11_Click"));
    tail.line(100, [&] {
        services.boxes->msgBox(QStringLiteral("Having problems connecting? Make sure you have the latest version by "
                                              "downloading from https://www.wenlowe.com/Tessaline/")
                               + QString(12, QLatin1Char('\r')));
    });
}

void Form1::closeEvent(QCloseEvent* event)
{
    // Closing the main window ends the program at once: no clean-up of other windows or of
    // the session runs, and the mail session is not signed out first. Settings are already
    // on disk (every write syncs).
    event->accept();
    Form_Unload();
}
