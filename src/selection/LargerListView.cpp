#include "selection/LargerListView.h"

#include "frame/ErrorTail.h"
#include "retrieval/EmailCounts.h"
#include "retrieval/MessageListModel.h"
#include "selection/LargerListHost.h"
#include "selection/LargerListWindow.h"

#include <memory>

LargerListView::LargerListView(MessageBoxService& boxes, LargerListHost& host, MessageListModel& mainList,
                               EmailCounts& counts)
    : m_boxes(boxes)
    , m_host(host)
    , m_main(mainList)
    , m_counts(counts)
{
}

void LargerListView::PushButton8_Click()
{
    ErrorTail tail(m_boxes, QStringLiteral("Form1"), QStringLiteral("PushButton8_Click"));
    MessageListModel& main = m_main;
    std::unique_ptr<LargerListWindow> window;
    // The first touch of the window loads it.
    const auto form4 = [&]() -> LargerListWindow& {
        if (!window)
            window = m_host.loadLargerListWindow();
        return *window;
    };

    // The main window takes no input until the larger window has closed. That window is modal,
    // but it already yields while it is first laid out, before it is shown; a click on the main
    // window then would change the main list under the copy that goes back to it on closing.
    m_host.setInputBlocked(true);
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
    tail.line(120, [&] { form4().setMaximized(); });
    tail.line(122, [&] {
        LargerListWindow& shown = form4();
        shown.list().announce();  // the copied rows are in its view when it opens
        Q_EMIT opened(&shown);
        shown.showModal();
    });
    window.reset();
    m_host.setInputBlocked(false);
    tail.line(124, [&] { m_counts.UpdateEmailCounts(false); });
}
