#pragma once

#include <QString>
#include <QStringList>

// What the program was asked for on its command line. It is read before the window exists, so
// that --help and --version answer without a display. Qt's own options (-platform, -style, ...)
// pass through to the application object untouched.
class CommandLine {
public:
    // The program's arguments as given, the program name first.
    static CommandLine parse(const QStringList& arguments);

    // True when the program ends at once with exitCode(), after printing output() on standard
    // output and errorOutput() on standard error (--help, --version, an unknown option).
    bool exits() const { return m_exits; }
    int exitCode() const { return m_exitCode; }
    const QString& output() const { return m_output; }
    const QString& errorOutput() const { return m_errorOutput; }

    // --demo: the settings folder the demo mailbox prepared, and the desktop keyring left alone.
    bool demo() const { return m_demo; }

private:
    bool m_exits = false;
    int m_exitCode = 0;
    QString m_output;
    QString m_errorOutput;
    bool m_demo = false;
};
