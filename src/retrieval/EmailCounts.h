#pragma once

#include <functional>

#include <QString>

class MessageListModel;

// The two count labels of a list window: "Total Number Of Emails: " and "Selected Emails: ".
class EmailCounts {
public:
    using LabelSetter = std::function<void(const QString&)>;

    EmailCounts(MessageListModel& list, LabelSetter setTotal, LabelSetter setSelected);

    // With resetToZero both labels read 0 without counting; otherwise the rows and the
    // checked rows are counted.
    void UpdateEmailCounts(bool resetToZero);
    // The number of checked rows; yields to the event loop after every row.
    int CountCheckedEmails();

private:
    MessageListModel& m_list;
    LabelSetter m_setTotal;
    LabelSetter m_setSelected;
};
