#include "startup/CommandLine.h"

#include "startup/ProgramTitle.h"

#include <QCommandLineParser>

namespace CommandLine {

namespace {

const char* const Usage = "Usage: kestrove-news [OPTION]\n"
                          "\n"
                          "Keeps a directory of online newspapers and opens them in your web browser.\n"
                          "Without an option it opens its window.\n"
                          "\n"
                          "Options:\n"
                          "  -h, --help     Show this text and exit.\n"
                          "  -v, --version  Show the version and exit.\n"
                          "\n"
                          "Qt's own window options, such as -platform or -style, are passed on to Qt.\n"
                          "\n"
                          "The directory (Data/list.db) and the lists (favorites.txt, history.txt) are kept\n"
                          "beside the program, or, when it is installed in a bin folder, in\n"
                          "$XDG_DATA_HOME/kestrove-news (~/.local/share/kestrove-news by default).\n"
                          "Exit status: 0 on success, 1 when the program cannot start, 2 on wrong use.\n";

// The window-system options QGuiApplication and QApplication take from the command line.
const char* const QtValueOptions[] = {"platform",
                                      "platformpluginpath",
                                      "platformtheme",
                                      "plugin",
                                      "display",
                                      "geometry",
                                      "qwindowgeometry",
                                      "qwindowicon",
                                      "icon",
                                      "qwindowtitle",
                                      "title",
                                      "name",
                                      "session",
                                      "style",
                                      "stylesheet"};
const char* const QtFlagOptions[] = {"reverse", "widgetcount", "nograb", "dograb"};

} // namespace

Outcome parse(const QStringList& arguments)
{
    QCommandLineParser parser;
    // Qt's options start with a single dash and are whole words.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringList{QStringLiteral("v"), QStringLiteral("version")});
    parser.addOption(help);
    parser.addOption(version);
    for (const char* name : QtValueOptions)
        parser.addOption(QCommandLineOption(QLatin1String(name), QString(), QStringLiteral("value")));
    for (const char* name : QtFlagOptions)
        parser.addOption(QCommandLineOption(QLatin1String(name)));

    Outcome outcome;
    QString wrong;
    if (!parser.parse(arguments))
        wrong = parser.errorText();
    else if (!parser.positionalArguments().isEmpty())
        wrong = QStringLiteral("Unexpected argument '%1'.").arg(parser.positionalArguments().first());
    if (!wrong.isEmpty()) {
        outcome.start = false;
        outcome.status = 2;
        outcome.errors = QStringLiteral("kestrove-news: %1\n\n%2").arg(wrong, QLatin1String(Usage));
    } else if (parser.isSet(help)) {
        outcome.start = false;
        outcome.output = QLatin1String(Usage);
    } else if (parser.isSet(version)) {
        outcome.start = false;
        outcome.output = QStringLiteral("kestrove-news %1\n").arg(ProgramVersion);
    }
    return outcome;
}

} // namespace CommandLine
