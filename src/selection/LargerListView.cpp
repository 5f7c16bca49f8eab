#include "selection/LargerListView.h"

#include "frame/ErrorTail.h"
#include "retrieval/EmailCounts.h"
#include "retrieval/MessageListModel.h"
#include "ui/Form1.h"
#include "ui/Form4.h"

#include <QPushButton>

#include <memory>

LargerListView::LargerListView(Form1& form)
    : f(form)
{
}

void LargerListView::bind()
{
    connect(f.PushButton8, &QPushButton::clicked, this, &LargerListView::PushButton8_Click);
}

void LargerListView::PushButton8_Click()
{
    ErrorTail tail(*f.services.boxes, QStringLiteral("Form1"), QStringLiteral("PushButton8_Click"));
    MessageListModel& main = f.list();
    std::unique_ptr<Form4> window;
    // The first touch of the window loads it.
    const auto form4 = [&]() -> Form4& {
        if (!window)
            window = std::make_unique<Form4>(&f, main, *f.services.boxes);
        return *window;
    };

    // The main window takes no input until the larger window has closed. That window is modal,
    // but it already yields while it is first laid out, before it is shown; a click on the main
    // window then would change the main list under the copy that goes back to it on closing.
    f.inputBlocked = true;
    const int n = main.count();
    for (int i = 1; i <= n; ++i) {
        MessageListModel* list = nullptr;
        tail.line(102, [&] { list = &form4().list(); });
        if (!list)
            continue;
        int row = 0;
        tail.line(104, [&] { row = list->add(main.text(i)); });
        for (int s = 1; s <= MessageListModel::kSubItems; ++s)
            tail.line(104 + 2 * s, [&] { list->setSubItem(row, s, main.subItem(i, s)); });
        tail.line(116, [&] { list->setChecked(row, main.isChecked(i)); });
    }
    tail.line(120, [&] { form4().setWindowState(Qt::WindowMaximized); });
    tail.line(122, [&] {
        Form4& shown = form4();
        shown.list().announce();  // the copied rows are in its view when it opens
        Q_EMIT opened(&shown);
        shown.exec();
    });
    window.reset();
    f.inputBlocked = false;
    tail.line(124, [&] { f.counts().UpdateEmailCounts(false); });
}
