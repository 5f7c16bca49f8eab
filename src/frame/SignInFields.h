#pragma once

#include <QString>

// The "Login" group as the handlers see it: the account name Text1, the password Text2,
// "Remember me" Check1, "Autoconnect when software loads" Check2 and the account-suffix list
// Combo1. The main window implements it over its controls; tests can implement it over plain
// values.
class SignInFields {
public:
    virtual ~SignInFields() = default;

    virtual QString text1() const = 0;
    virtual void setText1(const QString& text) = 0;
    virtual void selectAllText1() = 0;
    virtual QString text2() const = 0;
    virtual void setText2(const QString& text) = 0;
    virtual void selectAllText2() = 0;

    virtual bool check1() const = 0;
    virtual void setCheck1(bool checked) = 0;
    virtual bool check2() const = 0;
    virtual void setCheck2(bool checked) = 0;
    virtual void setCheck2Enabled(bool enabled) = 0;

    virtual QString combo1Text() const = 0;
    virtual int combo1Index() const = 0;
    virtual int combo1Count() const = 0;
    virtual void setCombo1Index(int index) = 0;
    // Adds an entry without choosing it: no entry is chosen afterwards.
    virtual void addCombo1Entry(const QString& entry) = 0;
};
