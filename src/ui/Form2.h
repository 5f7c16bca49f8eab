#pragma once

#include <QObject>

#include <array>
#include <memory>

class Form1;
class QDialog;
class QLabel;
class QLineEdit;
class QPushButton;
class clsChilkatIMAP;

// The range dialog "Get Some Emails". The object lives for the program's life and keeps
// MaxMessage and its session between uses; its window and controls are loaded afresh at
// each showing.
class Form2 : public QObject {
    Q_OBJECT
public:
    explicit Form2(Form1& owner);
    ~Form2() override;

    int MaxMessage() const { return m_maxMessage; }
    void setMaxMessage(int value) { m_maxMessage = value; }
    const std::shared_ptr<clsChilkatIMAP>& ChilkatIMAP() const { return m_session; }
    void setChilkatIMAP(std::shared_ptr<clsChilkatIMAP> session) { m_session = std::move(session); }

    // Loads the window and shows it modally over the main window; returns once it is unloaded.
    void show();

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

    Form1& m_owner;
    int m_maxMessage = 0;
    std::shared_ptr<clsChilkatIMAP> m_session;
    QDialog* m_window = nullptr;
};
