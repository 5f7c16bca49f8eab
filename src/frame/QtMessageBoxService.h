#pragma once

#include "frame/MessageBoxService.h"

class QWidget;

// Real boxes: QMessageBox and QInputDialog, parented to the active window.
class QtMessageBoxService : public MessageBoxService {
public:
    void msgBox(const QString& text, Icon icon, const std::optional<QString>& title) override;
    QString inputBox(const QString& prompt, const std::optional<QString>& title,
                     const QString& defaultText) override;
};
