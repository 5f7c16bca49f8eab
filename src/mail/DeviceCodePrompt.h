#pragma once

#include "mail/DeviceCodeGrant.h"

// Shows the user what to do to complete a device sign-in (the verification address and the user
// code) while the grant waits for it. run() returns once the grant has finished or the user has
// given up; giving up calls grant.cancel().
class DeviceCodePrompt {
public:
    virtual ~DeviceCodePrompt() = default;
    virtual void run(DeviceCodeGrant& grant, const DeviceCodeGrant::Prompt& prompt) = 0;
};
