#include "frame/CommandLine.h"

#include <QCommandLineParser>
#include <QSet>

namespace {
// Options QGuiApplication and QApplication read themselves; those in the second set take the
// next argument as their value unless it is given with "=".
const QSet<QString> kQtFlags{QStringLiteral("reverse"), QStringLiteral("nograb"), QStringLiteral("dograb"),
                             QStringLiteral("widgetcount"), QStringLiteral("sync")};
const QSet<QString> kQtOptionsWithValue{
    QStringLiteral("platform"),        QStringLiteral("platformpluginpath"),
    QStringLiteral("platformtheme"),   QStringLiteral("plugin"),
    QStringLiteral("qwindowgeometry"), QStringLiteral("qwindowicon"),
    QStringLiteral("qwindowtitle"),    QStringLiteral("session"),
    QStringLiteral("style"),           QStringLiteral("stylesheet"),
    QStringLiteral("display"),         QStringLiteral("geometry"),
    QStringLiteral("title"),           QStringLiteral("name"),
    QStringLiteral("visual"),          QStringLiteral("qmljsdebugger")};

// The arguments without Qt's own options, which the application object reads afterwards.
QStringList withoutQtOptions(const QStringList& arguments)
{
    QStringList kept;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        if (i == 0 || !argument.startsWith(QLatin1Char('-')) || argument.startsWith(QStringLiteral("--"))) {
            kept << argument;
            continue;
        }
        const QString name = argument.mid(1).section(QLatin1Char('='), 0, 0);
        if (kQtFlags.contains(name))
            continue;
        if (kQtOptionsWithValue.contains(name)) {
            if (!argument.contains(QLatin1Char('=')))
                ++i; // its value
            continue;
        }
        kept << argument;
    }
    return kept;
}
} // namespace

CommandLine CommandLine::parse(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Lists a webmail folder over IMAP and sends the picked messages to a spreadsheet."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption demo(
        QStringLiteral("demo"),
        QStringLiteral("Start on the demo mailbox that ./scripts/run --demo prepares: "
                       "its own settings folder, the desktop keyring left alone."));
    parser.addOption(demo);

    CommandLine line;
    const QString program = QStringLiteral("corvanel");
    if (!parser.parse(withoutQtOptions(arguments))) {
        line.m_exits = true;
        line.m_exitCode = 2;
        line.m_errorOutput =
            QStringLiteral("%1: %2\nTry '%1 --help' for the options.\n").arg(program, parser.errorText());
        return line;
    }
    if (!parser.positionalArguments().isEmpty()) {
        line.m_exits = true;
        line.m_exitCode = 2;
        line.m_errorOutput =
            QStringLiteral("%1: unexpected argument '%2'.\nTry '%1 --help' for the options.\n")
                .arg(program, parser.positionalArguments().constFirst());
        return line;
    }
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
        // The first line names the program as it is installed, whatever path started it (and
        // before the application object exists, the parser knows no name at all).
        const QString text = parser.helpText();
        line.m_exits = true;
        line.m_output =
            QStringLiteral("Usage: %1 [options]").arg(program) + text.mid(text.indexOf(QLatin1Char('\n')));
        return line;
    }
    if (parser.isSet(version)) {
        line.m_exits = true;
        line.m_output = QStringLiteral("%1 %2\n").arg(program, QStringLiteral(CORVANEL_VERSION));
        return line;
    }
    line.m_demo = parser.isSet(demo);
    return line;
}
