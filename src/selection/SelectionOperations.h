#pragma once

#include <QString>

class EmailCounts;
class MessageBoxService;
class MessageListModel;
class MousePointer;

// The selection buttons of a list window, written once for both windows: the main window
// (Form1) and the larger list window (Form4). Each handler works on the window's own list,
// refreshes the window's own count labels when it ends, and reports any failure with the
// "Application Error" box at the numbered statement, then goes on with the next one.
//
// The two windows differ in three ways, chosen by the Window description:
// - "Check All" in the main window lets the user interface process its events before every
//   row (so a "Clear List" can run in the middle of it); the larger window does not yield.
// - "Clear List" in the main window leaves the rows in place while the window shows the
//   busy pointer (a retrieval, a connection or an export is running).
// - "Clear List" in the larger window empties the main list as well; the main window's
//   labels are left as they are.
//
// The window binds its list's itemCheck signal to ListView1_ItemCheck.
class SelectionOperations {
public:
    struct Window {
        QString name;                                // "Form1" or "Form4"
        bool yieldsInCheckAll = false;               // main window only
        const MousePointer* busyPointer = nullptr;   // main window: guards "Clear List"
        MessageListModel* alsoClearedList = nullptr; // larger window: the main list
    };
    static Window mainWindow(const MousePointer& pointer);
    static Window largerWindow(MessageListModel& mainList);

    SelectionOperations(MessageListModel& list, EmailCounts& counts, bool& RuleCheckDone,
                        MessageBoxService& boxes, Window window);

    void PushButton5_Click();  // "Check All"
    void PushButton6_Click();  // "Uncheck All"
    void PushButton7_Click();  // "Clear List"
    void PushButton9_Click();  // "Check Emails Containing..."
    void PushButton10_Click(); // "Check Emails Not Containing..."
    // The user set or cleared row k's check box: only the counts follow.
    void ListView1_ItemCheck(int k);

    // Whether `text` contains `x` after lower-casing both. An empty text contains nothing,
    // not even an empty x; an empty x is contained in every other text.
    static bool textContains(const QString& text, const QString& lowerX);
    // Whether one of row k's searched texts (the From text, the subject and the received
    // date) contains x. The other columns are not searched.
    bool rowContains(int k, const QString& lowerX) const;

private:
    void ruleCheck(const QString& handler, bool containing);

    MessageListModel& m_list;
    EmailCounts& m_counts;
    bool& m_ruleCheckDone;
    MessageBoxService& m_boxes;
    Window m_window;
};
