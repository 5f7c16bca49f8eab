#pragma once

class MessageBoxService;
class SettingsStore;
class CommandRunner;
class SpreadsheetDesktop;

// The outside services the windows use, injectable so tests can answer boxes by script and
// keep settings, commands and the desktop's spreadsheet program under their control.
struct Services {
    MessageBoxService* boxes = nullptr;
    SettingsStore* settings = nullptr;
    CommandRunner* commands = nullptr;
    SpreadsheetDesktop* desktop = nullptr;
};
