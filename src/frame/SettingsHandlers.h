#pragma once

#include <functional>

class FolderOptions;
class SettingsStore;
class SignInFields;

// The main window's handlers that remember choices the moment their control changes.
// The account name and password are kept only while "Remember me" is checked: a password
// the user asked not to remember never reaches the disk. The window binds its controls'
// events to them.
class SettingsHandlers {
public:
    // What becomes of the Microsoft sign-in when "Remember me" changes.
    struct SignInMemory {
        std::function<void()> storeRefreshToken;  // checked: keep the refresh token in hand
        std::function<void()> forget;             // cleared: forget the sign-in
    };

    SettingsHandlers(SettingsStore& settings, SignInFields& fields, FolderOptions& folders, SignInMemory memory);

    // While the start-up loads the stored values, checking "Remember me" keeps them.
    void setLoading(bool loading) { m_loading = loading; }

    void Check1_Click();
    void Check2_Click();
    void Text1_Change();
    void Text2_Change();
    void Text1_GotFocus();
    void Text2_GotFocus();
    void Option_Click();  // Option3_Click, Option5_Click, ... are identical
    void Combo1_Click();
    void Combo1_Change();

private:
    SettingsStore& m_settings;
    SignInFields& m_fields;
    FolderOptions& m_folders;
    SignInMemory m_memory;
    bool m_loading = false;
};
