#include "app/AppError.h"
#include "app/DesktopPlatform.h"
#include "app/ErrorReport.h"
#include "app/ProgramTitle.h"
#include "app/Startup.h"
#include "ui/Artwork.h"
#include "ui/MainWindow.h"

#include <QApplication>
#include <cstdio>

int main(int argc, char** argv)
{
    RunningProgramFolder folder(argc > 0 ? argv[0] : nullptr);
    DesktopShell shell;
    DesktopMessageBoxes boxes;
    const Platform platform{shell, boxes, folder};

    return Startup::run(
        [&](bool lastAttempt) {
            QApplication app(argc, argv);
            QApplication::setWindowIcon(Artwork::programIcon());
            try {
                TForm1 Form1(platform);
                Form1.show();
                QApplication::exec();
                return 0;
            } catch (const AppError& error) {
                if (!lastAttempt)
                    throw;
                const QString message = QStringLiteral("%1 cannot start.\n\n%2").arg(ProgramTitle, error.message());
                std::fprintf(stderr, "%s\n", qUtf8Printable(message));
                ErrorReport::show(platform, nullptr, message);
                return 1;
            }
        },
        folder.exePath());
}
