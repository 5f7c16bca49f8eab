#pragma once

#include <QObject>
#include <QString>

#include <memory>

class Form1;
class ErrorTail;
class clsChilkatIMAP;

// "2a. Get All Emails", "2b. Get Some Emails" and the Stop action they share.
class RetrievalFlow : public QObject {
    Q_OBJECT
public:
    explicit RetrievalFlow(Form1& form);

    void bind();
    void PushButton3_Click();
    void PushButton2_Click();

    // The folder chosen with the option buttons; empty when none is selected.
    QString folderName() const;
    bool isRunning() const { return m_depth > 0; }

    // Values shared by the two retrievals and the range dialog.
    QString SavedButtonCaption;
    bool SkipDoneMessage = false;
    bool RangeConfirmed = false;

private:
    void stop(ErrorTail& tail);
    // Makes a session and connects it when the window has none; returns it (null when the
    // connect failed). `firstLine` is the statement number of the test for a session.
    std::shared_ptr<clsChilkatIMAP> sessionForRetrieval(ErrorTail& tail, int firstLine);
    QString chooseFolder(ErrorTail& tail, int firstLine);

    Form1& f;
    int m_depth = 0;
};
