#include "ui/Form2.h"

#include "frame/ErrorTail.h"
#include "frame/EventYield.h"
#include "frame/FileExists.h"
#include "frame/MessageBoxService.h"
#include "frame/StandardColors.h"
#include "frame/StartUp.h"
#include "mail/ClsChilkatImap.h"
#include "retrieval/LeadingNumber.h"
#include "retrieval/RetrievalGlobals.h"
#include "ui/DesignedFonts.h"
#include "ui/Twips.h"

#include <QDialog>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {

// The dialog window; its close box unloads it like Continue does.
class RangeWindow : public QDialog {
public:
    RangeWindow(QWidget* owner, std::function<void()> onUnload)
        : QDialog(owner)
        , m_onUnload(std::move(onUnload))
    {
    }

protected:
    void done(int result) override
    {
        m_onUnload();
        QDialog::done(result);
    }

private:
    std::function<void()> m_onUnload;
};

} // namespace

Form2::Form2(QWidget* owner, MessageBoxService& boxes, RetrievalGlobals& globals)
    : m_owner(owner)
    , m_boxes(boxes)
    , m_globals(globals)
{
}

Form2::~Form2() = default;

void Form2::show()
{
    auto* window = new RangeWindow(m_owner, [this] { Form_Unload(); });
    m_window = window;
    window->setObjectName(QStringLiteral("Form2"));
    window->setWindowTitle(QStringLiteral("Get Some Emails"));
    window->setModal(true);
    window->setAttribute(Qt::WA_DeleteOnClose, false);
    window->setFont(windowFont());
    window->setFixedSize(Twips::toPx(4200), Twips::toPx(2190));

    Label1[0] = new QLabel(QStringLiteral("From:"), window);
    Label1[0]->setObjectName(QStringLiteral("Label1_0"));
    Label1[0]->setGeometry(Twips::rect(240, 180, 1800, 255));
    Text1[0] = new QLineEdit(QStringLiteral("1"), window);
    Text1[0]->setObjectName(QStringLiteral("Text1_0"));
    Text1[0]->setGeometry(Twips::rect(240, 480, 1800, 345));
    Label1[1] = new QLabel(QStringLiteral("To (Max of 0):"), window);
    Label1[1]->setObjectName(QStringLiteral("Label1_1"));
    Label1[1]->setGeometry(Twips::rect(2160, 180, 1800, 255));
    Text1[1] = new QLineEdit(QStringLiteral("1"), window);
    Text1[1]->setObjectName(QStringLiteral("Text1_1"));
    Text1[1]->setGeometry(Twips::rect(2160, 480, 1800, 345));
    Label1[0]->setBuddy(Text1[0]);
    Label1[1]->setBuddy(Text1[1]);
    PushButton1 = new QPushButton(QStringLiteral("Continue"), window);
    PushButton1->setObjectName(QStringLiteral("PushButton1"));
    PushButton1->setGeometry(Twips::rect(240, 1080, 3720, 405));
    PushButton1->setFont(buttonFont());
    PushButton1->setDefault(true);
    // The plain command button does exactly what Continue does; it answers Enter.
    Command1 = new QPushButton(QStringLiteral("Continue"), window);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setGeometry(Twips::rect(240, 1620, 3720, 345));
    connect(PushButton1, &QPushButton::clicked, this, &Form2::PushButton1_Click);
    connect(Command1, &QPushButton::clicked, this, &Form2::Command1_Click);

    Form_Load();
    Q_EMIT loaded();
    window->exec();

    m_window = nullptr;
    Text1 = {};
    Label1 = {};
    PushButton1 = nullptr;
    Command1 = nullptr;
    delete window;
}

void Form2::Form_Load()
{
    ErrorTail tail(m_boxes, QStringLiteral("Form2"), QStringLiteral("Form_Load"));
    ApplyStandardColors(m_window);
    tail.line(102, [&] { m_window->setWindowIcon(m_owner->windowIcon()); });
    bool cursorFound = false;
    tail.line(106, [&] { cursorFound = FileExists(StartUp::cursorFile()); });
    if (cursorFound)
        tail.line(108, [&] {
            const QPixmap hand(StartUp::cursorFile());
            if (!hand.isNull())
                PushButton1->setCursor(QCursor(hand, 0, 0));
        });
    tail.line(110, [&] { m_globals.RangeConfirmed = false; });
    tail.line(112, [&] { Text1[1]->setText(QString::number(m_maxMessage)); });
    tail.line(114, [&] { Label1[1]->setText(QStringLiteral("To (Max of ") + QString::number(m_maxMessage) + QLatin1Char(')')); });
    tail.line(116, [&] {
        QWidget::setTabOrder(Text1[1], Text1[0]);
        QWidget::setTabOrder(Text1[0], PushButton1);
    });
    tail.line(118, [&] { Text1[1]->setFocus(); });
    tail.line(120, [&] { Text1[1]->selectAll(); });
}

void Form2::PushButton1_Click()
{
    if (!m_window)
        return;
    ErrorTail tail(m_boxes, QStringLiteral("Form2"), QStringLiteral("PushButton1_Click"));
    MessageBoxService& boxes = m_boxes;
    yieldEvents();
    if (!m_window)
        return;
    const double first = leadingNumber(Text1[0]->text());
    const double last = leadingNumber(Text1[1]->text());
    if (tail.condition(100, [&] { return !(first > 0); })) {
        tail.line(102, [&] { boxes.msgBox(QStringLiteral("Please input a value greater than zero.")); });
        return;
    }
    if (tail.condition(104, [&] { return !(last > 0) || last > m_maxMessage; })) {
        tail.line(106, [&] {
            boxes.msgBox(QStringLiteral("Please input max value greater than 0 and less than or equal to ")
                         + QString::number(m_maxMessage));
        });
        return;
    }
    const auto session = [&]() -> clsChilkatIMAP& {
        if (!m_session)
            throw VbError::objectNotSet();
        return *m_session;
    };
    tail.line(108, [&] { session().setCurrentLocation(roundToLong(first)); });
    tail.line(110, [&] { session().setMaxRecord(roundToLong(last)); });
    tail.line(112, [&] { m_globals.RangeConfirmed = true; });
    tail.line(114, [&] { unload(); });
}

void Form2::unload()
{
    if (m_window)
        m_window->accept();
}

void Form2::Form_Unload() { m_globals.SkipDoneMessage = true; }
