#include "desktop/ProgramStart.h"

#include "art/Artwork.h"
#include "desktop/ErrorReport.h"
#include "errors/AppError.h"
#include "mainwindow/MainWindow.h"
#include "startup/ProgramTitle.h"
#include "startup/Startup.h"

#include <QApplication>
#include <cstdio>

namespace ProgramStart {

int attempt(const Platform& platform, bool lastAttempt, const std::function<int()>& buildAndRun)
{
    try {
        return buildAndRun();
    } catch (const AppError& error) {
        if (!lastAttempt)
            throw;
        const QString message = QStringLiteral("%1 cannot start.\n\n%2").arg(ProgramTitle, error.message());
        std::fprintf(stderr, "%s\n", qUtf8Printable(message));
        ErrorReport::show(platform, nullptr, message);
        return 1;
    }
}

int run(int& argc, char** argv, const Platform& platform)
{
    return Startup::run(
        [&](bool lastAttempt) {
            QApplication app(argc, argv);
            QApplication::setWindowIcon(Artwork::programIcon());
            return attempt(platform, lastAttempt, [&] {
                TForm1 Form1(platform);
                Form1.show();
                return QApplication::exec();
            });
        },
        platform.folder.exePath());
}

} // namespace ProgramStart
