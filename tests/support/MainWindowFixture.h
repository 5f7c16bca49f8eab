#pragma once

#include "export/FakeSpreadsheetDesktop.h"
#include "support/FakeCommandRunner.h"
#include "support/MemorySettingsStore.h"
#include "support/ScriptedMessageBoxes.h"
#include "ui/Form1.h"

#include <memory>

class DovecotHarness;

// A main window over scripted boxes and an in-memory settings store, loaded as at start-up.
// pointTo() makes its connects reach a private Dovecot.
struct MainWindowFixture {
    ScriptedMessageBoxes boxes;
    MemorySettingsStore settings;
    FakeCommandRunner commands;
    FakeSpreadsheetDesktop desktop;
    std::unique_ptr<Form1> form;

    void pointTo(DovecotHarness& server);
    Form1& load();
    // Types the sign-in, clicks "1. Connect" and reports whether the window is connected.
    bool connectAs(const QString& user, const QString& password);
};
