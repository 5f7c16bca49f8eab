#pragma once

class Form1;
class QString;

// The main window's start-up sequence (its load handler) and the optional skin.
class StartUp {
public:
    explicit StartUp(Form1& form);

    void Form_Load();
    void ApplySkin();

    // The optional files beside the program.
    static QString skinFile();   // x/o.cjs: a Qt style sheet
    static QString cursorFile(); // HAND-M.CUR

private:
    Form1& f;
};
