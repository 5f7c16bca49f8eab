#include "ui/Form4.h"

#include "frame/ErrorTail.h"
#include "frame/FileExists.h"
#include "frame/MessageListColumns.h"
#include "frame/StandardColors.h"
#include "frame/StartUp.h"
#include "retrieval/EmailCounts.h"
#include "retrieval/MessageListModel.h"
#include "selection/LargerListLayout.h"
#include "selection/SelectionOperations.h"
#include "ui/DesignedFonts.h"
#include "ui/MessageListView.h"
#include "ui/Twips.h"

#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QTreeView>

namespace {

QPushButton* makeButton(QWidget* parent, const char* name, const QString& caption, QRect twips)
{
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QLatin1String(name));
    // No accessible name of its own: assistive technology reads the caption.
    button->setGeometry(Twips::rect(twips.x(), twips.y(), twips.width(), twips.height()));
    button->setFont(buttonFont());
    button->setMouseTracking(true);
    button->setAutoDefault(false);
    return button;
}

QLabel* makeLabel(QWidget* parent, const char* name, const QString& caption, QRect twips)
{
    auto* label = new QLabel(caption, parent);
    label->setObjectName(QLatin1String(name));
    label->setGeometry(Twips::rect(twips.x(), twips.y(), twips.width(), twips.height()));
    return label;
}

void place(QWidget* w, const LargerListLayout::Geometry& g)
{
    w->setGeometry(Twips::toPx(int(g.left)), Twips::toPx(int(g.top)), Twips::toPx(int(g.width)),
                   Twips::toPx(int(g.height)));
}

LargerListLayout::Geometry geometryOf(const QWidget* w)
{
    return {double(Twips::fromPx(w->x())), double(Twips::fromPx(w->y())), double(Twips::fromPx(w->width())),
            double(Twips::fromPx(w->height()))};
}

} // namespace

Form4::Form4(QWidget* owner, MessageListModel& mainList, MessageBoxService& boxes)
    : QDialog(owner, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMaximizeButtonHint
                         | Qt::WindowCloseButtonHint)
    , m_mainList(mainList)
    , m_boxes(boxes)
    , m_list(std::make_unique<MessageListModel>())
{
    setObjectName(QStringLiteral("Form4"));
    setWindowTitle(QStringLiteral(" List In Larger View"));
    setModal(true);
    createControls();
    m_counts = std::make_unique<EmailCounts>(
        *m_list, [this](const QString& t) { Label1->setText(t); },
        [this](const QString& t) { Label2->setText(t); });
    m_selection = std::make_unique<SelectionOperations>(*m_list, *m_counts, RuleCheckDone, m_boxes,
                                                        SelectionOperations::largerWindow(m_mainList));
    connect(PushButton5, &QPushButton::clicked, this, [this] { m_selection->PushButton5_Click(); });
    connect(PushButton6, &QPushButton::clicked, this, [this] { m_selection->PushButton6_Click(); });
    connect(PushButton7, &QPushButton::clicked, this, [this] { m_selection->PushButton7_Click(); });
    connect(PushButton9, &QPushButton::clicked, this, [this] { m_selection->PushButton9_Click(); });
    connect(PushButton10, &QPushButton::clicked, this, [this] { m_selection->PushButton10_Click(); });
    connect(m_list.get(), &MessageListModel::itemCheck, this, [this](int k) { m_selection->ListView1_ItemCheck(k); });
    connect(PushButton1, &QPushButton::clicked, this, &Form4::PushButton1_Click);
    connect(PushButton4, &QPushButton::clicked, this, &Form4::PushButton4_Click);
    connect(&pointer, &MousePointer::changed, this, [this](int value) {
        if (value == MousePointer::Hourglass)
            setCursor(Qt::WaitCursor);
        else if (value == MousePointer::Custom)
            setCursor(Qt::PointingHandCursor);
        else
            unsetCursor();
    });
    Form_Load();
}

Form4::~Form4() = default;

void Form4::createControls()
{
    setFont(windowFont());
    resize(Twips::toPx(8040), Twips::toPx(4470));
    setMouseTracking(true);

    ListView1 = new QTreeView(this);
    ListView1->setObjectName(QStringLiteral("ListView1"));
    ListView1->setAccessibleName(QStringLiteral("Message list"));
    ListView1->setGeometry(Twips::rect(120, 120, 7800, 1860));
    setUpMessageListView(ListView1, m_list.get());

    // Created in tab order.
    PushButton5 = makeButton(this, "PushButton5", QStringLiteral("Check All"), {120, 2450, 3840, 405});
    PushButton6 = makeButton(this, "PushButton6", QStringLiteral("Uncheck All"), {4080, 2450, 3840, 405});
    PushButton4 = makeButton(this, "PushButton4", QStringLiteral("< Back"), {120, 3980, 7800, 405});
    PushButton7 = makeButton(this, "PushButton7", QStringLiteral("Clear List"), {120, 3470, 3840, 405});
    PushButton9 = makeButton(this, "PushButton9", QStringLiteral("Check Emails Containing..."), {120, 2960, 3840, 405});
    PushButton10 =
        makeButton(this, "PushButton10", QStringLiteral("Check Emails Not Containing..."), {4080, 2960, 3840, 405});
    Label1 = makeLabel(this, "Label1", QStringLiteral("Total Number Of Emails: "), {120, 2080, 3840, 255});
    Label2 = makeLabel(this, "Label2", QStringLiteral("Selected Emails: "), {4080, 2080, 3840, 255});
    PushButton1 = makeButton(this, "PushButton1", QStringLiteral("Maximize This Window"), {4080, 3470, 3840, 405});
    QWidget* order[] = {ListView1, PushButton5, PushButton6, PushButton4, PushButton7, PushButton9, PushButton10, PushButton1};
    for (size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);

    for (QWidget* w : findChildren<QWidget*>())
        w->installEventFilter(this);
    ListView1->viewport()->installEventFilter(this);
    installEventFilter(this);
}

void Form4::Form_Load()
{
    ErrorTail tail(m_boxes, QStringLiteral("Form4"), QStringLiteral("Form_Load"));
    ApplyStandardColors(this);
    tail.line(106, [&] { setWindowIcon(QApplication::windowIcon()); });
    bool cursorFound = false;
    tail.line(108, [&] { cursorFound = FileExists(StartUp::cursorFile()); });
    if (cursorFound)
        tail.line(110, [&] {
            const QPixmap hand(StartUp::cursorFile());
            if (!hand.isNull())
                for (QPushButton* b : findChildren<QPushButton*>())
                    b->setCursor(QCursor(hand, 0, 0));
        });
    const QStringList captions = MessageListColumns::captions();
    for (int c = 0; c < captions.size(); ++c)
        tail.line(146 + 2 * c, [&] { m_list->addColumn(captions.at(c)); });
    const auto widths = LargerListLayout::designedColumnWidths();
    for (int c = 0; c < LargerListLayout::kColumns; ++c)
        tail.line(158 + 2 * c, [&] { ListView1->header()->resizeSection(c, Twips::toPx(widths[size_t(c)])); });
    tail.line(170, [&] { m_list->clear(); });
    tail.line(172, [&] { ListView1->viewport()->update(); });
    tail.line(200, [&] { m_counts->UpdateEmailCounts(false); });
    tail.line(202, [&] { RuleCheckDone = false; });
    const auto white = [](QLabel* label) {
        QPalette palette = label->palette();
        palette.setColor(QPalette::Window, Qt::white);
        label->setPalette(palette);
        label->setAutoFillBackground(true);
    };
    tail.line(204, [&] { white(Label1); });
    tail.line(206, [&] { white(Label2); });
}

void Form4::Form_Resize(int outerWidthTwips, int outerHeightTwips)
{
    LargerListLayout::Elements current = LargerListLayout::designed();
    current.PushButton7 = geometryOf(PushButton7);
    current.Label1 = geometryOf(Label1);
    const auto result = LargerListLayout::layout(outerWidthTwips, outerHeightTwips, current);
    const auto& e = result.elements;
    place(ListView1, e.ListView1);
    for (int c = 0; c < LargerListLayout::kColumns; ++c)
        ListView1->header()->resizeSection(c, Twips::toPx(result.columnWidths[size_t(c)]));
    place(Label1, e.Label1);
    place(Label2, e.Label2);
    place(PushButton5, e.PushButton5);
    place(PushButton6, e.PushButton6);
    place(PushButton9, e.PushButton9);
    place(PushButton10, e.PushButton10);
    place(PushButton7, e.PushButton7);
    place(PushButton1, e.PushButton1);
    place(PushButton4, e.PushButton4);
    m_counts->UpdateEmailCounts(false);
}

void Form4::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    const QRect outer = frameGeometry();
    Form_Resize(Twips::fromPx(outer.width()), Twips::fromPx(outer.height()));
}

void Form4::PushButton1_Click()
{
    ErrorTail tail(m_boxes, QStringLiteral("Form4"), QStringLiteral("PushButton1_Click"));
    tail.line(100, [&] { setWindowState(windowState() | Qt::WindowMaximized); });
}

void Form4::PushButton4_Click()
{
    ErrorTail tail(m_boxes, QStringLiteral("Form4"), QStringLiteral("PushButton4_Click"));
    tail.line(100, [&] { close(); });
}

void Form4::done(int result)
{
    Form_Unload();
    QDialog::done(result);
}

void Form4::Form_Unload()
{
    if (m_unloaded)
        return;
    m_unloaded = true;
    // Positions correspond one to one; the lists only shrink together ("Clear List").
    const int n = std::min(m_list->count(), m_mainList.count());
    for (int i = 1; i <= n; ++i)
        m_mainList.setChecked(i, m_list->isChecked(i));
}

bool Form4::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseMove) {
        if (qobject_cast<QPushButton*>(watched))
            pointer.hover(MousePointer::Custom);
        else if (watched == this || watched == ListView1 || watched == ListView1->viewport())
            pointer.hover(MousePointer::Default);
    }
    return QDialog::eventFilter(watched, event);
}
