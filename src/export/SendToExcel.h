#pragma once

#include <QString>

class AutomationFactory;
class MailStore;
class MessageBoxService;
class MessageListModel;
class MousePointer;

// "3. Send To Excel" of the main window: writes the column captions and the checked rows of
// the message list, each with the plain-text body of its message, into a new workbook of a
// freshly created spreadsheet application and shows it. Widget-free: the main window calls
// PushButton4_Click when its button is clicked.
class SendToExcel {
public:
    static constexpr int kPieceLength = 1022;      // body characters per cell while more remain
    static constexpr int kLastPieceLength = 1023;  // the most the last cell of a body takes

    SendToExcel(MessageListModel& list, MailStore& store, MessageBoxService& boxes, MousePointer& pointer,
                AutomationFactory& automation);

    void PushButton4_Click();
    // True when an "Excel.Application" object can be created; tells the user when not.
    bool SaveResultsAsExcelFileIsExcelInstalled();

    static const QString& notInstalledMessage();         // the presence check's message
    static const QString& notInstalledFeatureMessage();  // the export's own message after it
    static QString withoutEquals(QString text);
    static QString bodyPiece(const QString& piece);  // "'" in front of a leading "="

private:
    MessageListModel& m_list;
    MailStore& m_store;
    MessageBoxService& m_boxes;
    MousePointer& m_pointer;
    AutomationFactory& m_automation;
};
