#pragma once

#include <QObject>

class Form1;
class Form4;

// "Show List In Larger View": copies the main list into a freshly loaded larger window,
// shows it maximised and modal, and recounts the main list once it has closed.
class LargerListView : public QObject {
    Q_OBJECT
public:
    explicit LargerListView(Form1& form);

    void bind();
    void PushButton8_Click();

Q_SIGNALS:
    // The larger window is loaded, filled and about to be shown modally.
    void opened(Form4* window);

private:
    Form1& f;
};
