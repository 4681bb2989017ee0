#include "app/DesktopPlatform.h"
#include "ui/ProgramStart.h"

int main(int argc, char** argv)
{
    RunningProgramFolder folder(argc > 0 ? argv[0] : nullptr);
    DesktopShell shell;
    DesktopMessageBoxes boxes;
    return ProgramStart::run(argc, argv, Platform{shell, boxes, folder});
}
