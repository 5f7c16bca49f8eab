#pragma once

#include <QObject>

class Form1;

// The main window's handlers that remember choices the moment their control changes.
// The account name and password are kept only while "Remember me" is checked: a password
// the user asked not to remember never reaches the disk.
class SettingsHandlers : public QObject {
    Q_OBJECT
public:
    explicit SettingsHandlers(Form1& form);

    void bind();
    // While the start-up loads the stored values, checking "Remember me" keeps them.
    void setLoading(bool loading) { m_loading = loading; }

    void Check1_Click();
    void Check2_Click();
    void Text1_Change();
    void Text2_Change();
    void Text1_GotFocus();
    void Text2_GotFocus();
    void Option_Click();  // Option3_Click, Option5_Click, ... are identical
    void Combo1_Click();
    void Combo1_Change();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void write(const QString& key, const QString& value);

    Form1& f;
    bool m_loading = false;
};
