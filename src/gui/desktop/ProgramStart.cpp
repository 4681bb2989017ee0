#include "desktop/ProgramStart.h"

#include "art/Artwork.h"
#include "desktop/ErrorReport.h"
#include "errors/AppError.h"
#include "mainwindow/MainWindow.h"
#include "startup/CommandLine.h"
#include "startup/ProgramTitle.h"
#include "startup/Startup.h"

#include <QApplication>
#include <cstdio>

namespace ProgramStart {

int report(const Platform& platform, const AppError& error)
{
    const QString message = QStringLiteral("%1 cannot start.\n\n%2").arg(ProgramTitle, error.message());
    std::fprintf(stderr, "%s\n", qUtf8Printable(message));
    ErrorReport::show(platform, nullptr, message);
    return 1;
}

int attempt(const Platform& platform, bool lastAttempt, const std::function<int()>& buildAndRun)
{
    try {
        return buildAndRun();
    } catch (const AppError& error) {
        if (!lastAttempt)
            throw;
        return report(platform, error);
    }
}

namespace {

QString newspapers(qint64 count)
{
    return QStringLiteral("%1 %2").arg(count).arg(count == 1 ? QStringLiteral("newspaper")
                                                             : QStringLiteral("newspapers"));
}

} // namespace

void announce(const Platform& platform, const StarterUpdate::Outcome& update)
{
    if (update.merged && update.changedAnything()) {
        QString text = QStringLiteral("The directory that came with this version of the program was merged into "
                                      "yours: %1 added, %2 updated, %3 removed.")
                           .arg(newspapers(update.added))
                           .arg(update.updated)
                           .arg(update.removed);
        if (update.conflicts > 0) {
            text += QStringLiteral("\n\n%1 that you have differently %2 kept as you have %3.")
                        .arg(newspapers(update.conflicts),
                             update.conflicts == 1 ? QStringLiteral("was") : QStringLiteral("were"),
                             update.conflicts == 1 ? QStringLiteral("it") : QStringLiteral("them"));
        }
        platform.boxes.show(nullptr, text, ProgramName, MessageBoxes::Style::Plain);
    }
    if (!update.error.isEmpty())
        ErrorReport::show(platform, nullptr, update.error);
}

int run(int& argc, char** argv, const Platform& platform)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const CommandLine::Outcome options = CommandLine::parse(arguments);
    if (!options.start) {
        std::fputs(qUtf8Printable(options.output), stdout);
        std::fputs(qUtf8Printable(options.errors), stderr);
        return options.status;
    }

    // A data folder that cannot be used is reported once and ends the program before
    // the recovery could touch anything.
    QString dataPath;
    StarterUpdate::Outcome update;
    try {
        const DataLocation location = platform.folder.dataLocation();
        location.prepare();
        update = StarterUpdate::run(location);
        dataPath = location.folder();
    } catch (const AppError& error) {
        QApplication app(argc, argv);
        QApplication::setWindowIcon(Artwork::programIcon());
        return report(platform, error);
    }

    bool announced = false;
    return Startup::run(
        [&](bool lastAttempt) {
            QApplication app(argc, argv);
            QApplication::setWindowIcon(Artwork::programIcon());
            // Before the window, and once only, however many attempts it takes.
            if (!announced) {
                announced = true;
                announce(platform, update);
            }
            return attempt(platform, lastAttempt, [&] {
                MainWindow window(platform);
                window.show();
                return QApplication::exec();
            });
        },
        dataPath);
}

} // namespace ProgramStart
