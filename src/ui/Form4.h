#pragma once

#include "frame/MousePointer.h"
#include "selection/LargerListWindow.h"

#include <QDialog>

#include <memory>

class EmailCounts;
class MessageBoxService;
class MessageListModel;
class QLabel;
class QPushButton;
class QTreeView;
class SelectionOperations;

// The larger list window " List In Larger View": a maximised, modal copy of the main list
// with the same selection buttons. Every opening loads a fresh window; closing it (by
// "< Back" or the close box) copies the check states back to the main list by position.
class Form4 : public QDialog, public LargerListWindow {
    Q_OBJECT
public:
    Form4(QWidget* owner, MessageListModel& mainList, MessageBoxService& boxes);
    ~Form4() override;

    MessageListModel& list() override { return *m_list; }
    void setMaximized() override { setWindowState(Qt::WindowMaximized); }
    void showModal() override { exec(); }
    EmailCounts& counts() { return *m_counts; }
    SelectionOperations& selection() { return *m_selection; }
    bool RuleCheckDone = false;
    MousePointer pointer;

    QTreeView* ListView1 = nullptr;
    QPushButton* PushButton5 = nullptr;
    QPushButton* PushButton6 = nullptr;
    QPushButton* PushButton4 = nullptr;
    QPushButton* PushButton7 = nullptr;
    QPushButton* PushButton9 = nullptr;
    QPushButton* PushButton10 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QPushButton* PushButton1 = nullptr;

    void PushButton1_Click();  // "Maximize This Window"
    void PushButton4_Click();  // "< Back"
    // Lays the window out for an outer size in twips.
    void Form_Resize(int outerWidthTwips, int outerHeightTwips);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void done(int result) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createControls();
    void Form_Load();
    void Form_Unload();

    MessageListModel& m_mainList;
    MessageBoxService& m_boxes;
    std::unique_ptr<MessageListModel> m_list;
    std::unique_ptr<EmailCounts> m_counts;
    std::unique_ptr<SelectionOperations> m_selection;
    bool m_unloaded = false;
};
