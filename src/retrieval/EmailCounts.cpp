#include "retrieval/EmailCounts.h"

#include "frame/EventYield.h"
#include "retrieval/MessageListModel.h"

EmailCounts::EmailCounts(MessageListModel& list, LabelSetter setTotal, LabelSetter setSelected)
    : m_list(list)
    , m_setTotal(std::move(setTotal))
    , m_setSelected(std::move(setSelected))
{
}

void EmailCounts::UpdateEmailCounts(bool resetToZero)
{
    if (resetToZero) {
        m_setTotal(QStringLiteral("Total Number Of Emails: 0"));
        m_setSelected(QStringLiteral("Selected Emails: 0"));
        return;
    }
    m_setTotal(QStringLiteral("Total Number Of Emails: ") + QString::number(m_list.count()));
    m_setSelected(QStringLiteral("Selected Emails: ") + QString::number(CountCheckedEmails()));
}

int EmailCounts::CountCheckedEmails()
{
    const int n = m_list.count();
    int checked = 0;
    for (int k = 1; k <= n; ++k) {
        // The list may shrink while events run ("Clear List"): a vanished row counts as clear.
        if (k <= m_list.count() && m_list.isChecked(k))
            ++checked;
        yieldEvents();
    }
    return checked;
}
