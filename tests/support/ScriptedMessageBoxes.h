#pragma once

#include "frame/MessageBoxService.h"

#include <QList>
#include <QQueue>
#include <QString>

#include <functional>

// A message-box service for tests: records every box and prompt, answers prompts from a
// queue (an empty answer, as a cancelled prompt gives, when the queue is empty) and can run
// an action while a box is "open", as a user would act while it shows.
class ScriptedMessageBoxes : public MessageBoxService {
public:
    struct Shown {
        enum class Kind { Box, Prompt } kind;
        QString text;
        QString title;
        Icon icon;
    };

    void msgBox(const QString& text, Icon icon, const std::optional<QString>& title) override;
    QString inputBox(const QString& prompt, const std::optional<QString>& title,
                     const QString& defaultText) override;

    void answerPrompt(const QString& answer) { m_answers.enqueue(answer); }
    // Called with each box as it is shown, before msgBox returns.
    std::function<void(const Shown&)> onShow;

    const QList<Shown>& shown() const { return m_shown; }
    QStringList texts() const;         // texts of the boxes (not prompts), in order
    int count(const QString& text) const;  // boxes with exactly this text
    QStringList errorBoxes() const;    // texts of the "Application Error" boxes
    void clear() { m_shown.clear(); }

private:
    QList<Shown> m_shown;
    QQueue<QString> m_answers;
};
