#pragma once

#include "mail/DeviceCodePrompt.h"

class QWidget;

// The modal "Sign in to your Microsoft account" window: the verification address with an
// "Open in browser" button, the user code with a "Copy code" button, and Cancel. It stays open
// while the sign-in waits for the user and closes by itself when the sign-in ends.
class DeviceCodeDialog : public DeviceCodePrompt {
public:
    explicit DeviceCodeDialog(QWidget* parent)
        : m_parent(parent)
    {}
    void run(DeviceCodeGrant& grant, const DeviceCodeGrant::Prompt& prompt) override;

private:
    QWidget* m_parent;
};
