#pragma once

#include <QString>

#include <exception>

// A run-time failure with a number and a description, in the style of the classic
// runtime errors the "Application Error" box reports (5, 6, 9, 13, 91, ...).
// Numbered statements run by ErrorTail turn any VbError into that box.
class VbError : public std::exception {
public:
    VbError(int number, QString description);

    int number() const { return m_number; }
    const QString& description() const { return m_description; }
    const char* what() const noexcept override { return m_what.constData(); }

    static VbError invalidProcedureCall();  // 5
    static VbError overflow();              // 6
    static VbError subscriptOutOfRange();   // 9
    static VbError typeMismatch();          // 13
    static VbError objectNotSet();          // 91

private:
    int m_number;
    QString m_description;
    QByteArray m_what;
};
