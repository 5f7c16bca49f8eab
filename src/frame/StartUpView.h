#pragma once

#include <QString>

class QWidget;

// What the start-up sequence does to the main window beyond the sign-in fields and the folder
// options: the window itself (caption, icon, skin), the pointer's hand cursor, the message
// list's columns, and the steps it runs on behalf of other subsystems (the IMAP component,
// the count labels, the selection flag, the connect). The main window implements it; none of
// it needs the window's class.
class StartUpView {
public:
    virtual ~StartUpView() = default;

    virtual QWidget* mainWindow() = 0;
    // Label1 (1) or Label2 (2), the count labels.
    virtual QWidget* countLabel(int number) = 0;
    virtual void setCustomCursorFile(const QString& path) = 0;

    virtual void addListColumn(const QString& caption) = 0;
    virtual void setListColumnWidthTwips(int column, int twips) = 0;
    virtual void clearList() = 0;
    virtual void repaintList() = 0;

    virtual void createImapComponent() = 0;
    virtual void updateEmailCounts(bool resetToZero) = 0;
    virtual void setRuleCheckDone(bool done) = 0;
    // "1. Connect", as its button does.
    virtual void clickConnect() = 0;
};
