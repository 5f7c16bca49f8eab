#pragma once

#include <QString>

#include <optional>

// Every message box and the text-input prompt of the program go through this service, so
// that tests can answer them by script. All boxes have a single OK button.
class MessageBoxService {
public:
    enum class Icon { None, Information, Exclamation, Critical };

    virtual ~MessageBoxService() = default;

    // Shows a box with an OK button and waits until it is closed. Without a title the
    // box carries the current application title.
    virtual void msgBox(const QString& text, Icon icon = Icon::None,
                        const std::optional<QString>& title = std::nullopt) = 0;

    // A modal text-input prompt. Cancelling gives the empty text.
    virtual QString inputBox(const QString& prompt, const std::optional<QString>& title = std::nullopt,
                             const QString& defaultText = QString()) = 0;
};
