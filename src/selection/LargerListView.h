#pragma once

#include <QObject>

class EmailCounts;
class LargerListHost;
class LargerListWindow;
class MessageBoxService;
class MessageListModel;

// "Show List In Larger View": copies the main list into a freshly loaded larger window,
// shows it maximised and modal, and recounts the main list once it has closed.
class LargerListView : public QObject {
    Q_OBJECT
public:
    LargerListView(MessageBoxService& boxes, LargerListHost& host, MessageListModel& mainList, EmailCounts& counts);

    void PushButton8_Click();

Q_SIGNALS:
    // The larger window is loaded, filled and about to be shown modally.
    void opened(LargerListWindow* window);

private:
    MessageBoxService& m_boxes;
    LargerListHost& m_host;
    MessageListModel& m_main;
    EmailCounts& m_counts;
};
