#pragma once

#include "frame/Services.h"

class FolderOptions;
class QString;
class SettingsHandlers;
class SignInFields;
class StartUpView;

// The main window's start-up sequence (its load handler) and the optional skin. It works on
// the window through its views only.
class StartUp {
public:
    StartUp(Services services, StartUpView& window, SignInFields& signIn, FolderOptions& folders,
            SettingsHandlers& settingsHandlers);

    void Form_Load();
    void ApplySkin();

    // The optional files beside the program.
    static QString skinFile();   // x/o.cjs: a Qt style sheet
    static QString cursorFile(); // HAND-M.CUR

private:
    Services m_services;
    StartUpView& m_window;
    SignInFields& m_signIn;
    FolderOptions& m_folders;
    SettingsHandlers& m_settingsHandlers;
};
