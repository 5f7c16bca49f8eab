#pragma once

#include "retrieval/RangeDialog.h"

#include <QObject>

#include <array>
#include <memory>

class MessageBoxService;
class QDialog;
class QWidget;
class QLabel;
class QLineEdit;
class QPushButton;
class clsChilkatIMAP;
struct RetrievalGlobals;

// The range dialog "Get Some Emails". The object lives for the program's life and keeps
// MaxMessage and its session between uses; its window and controls are loaded afresh at
// each showing.
class Form2 : public QObject, public RangeDialog {
    Q_OBJECT
public:
    // `globals` are the application-wide values the dialog shares with the retrievals.
    Form2(QWidget* owner, MessageBoxService& boxes, RetrievalGlobals& globals);
    ~Form2() override;

    int MaxMessage() const { return m_maxMessage; }
    void setMaxMessage(int value) override { m_maxMessage = value; }
    const std::shared_ptr<clsChilkatIMAP>& ChilkatIMAP() const { return m_session; }
    void setChilkatIMAP(std::shared_ptr<clsChilkatIMAP> session) override { m_session = std::move(session); }

    // Loads the window and shows it modally over the main window; returns once it is unloaded.
    void show() override;

    // The loaded window's controls (null while it is not shown).
    QDialog* window() const { return m_window; }
    std::array<QLineEdit*, 2> Text1{};
    std::array<QLabel*, 2> Label1{};
    QPushButton* PushButton1 = nullptr;
    QPushButton* Command1 = nullptr;

    void PushButton1_Click();  // "Continue"
    void Command1_Click() { PushButton1_Click(); }

Q_SIGNALS:
    // Emitted once the window is loaded and about to be shown (tests answer it).
    void loaded();

private:
    void Form_Load();
    void Form_Unload();
    void unload();

    QWidget* m_owner;
    MessageBoxService& m_boxes;
    RetrievalGlobals& m_globals;
    int m_maxMessage = 0;
    std::shared_ptr<clsChilkatIMAP> m_session;
    QDialog* m_window = nullptr;
};
