#include "desktop/DesktopPlatform.h"
#include "desktop/ProgramStart.h"
#include "startup/ProgramFolder.h"
#include "startup/Startup.h"

int main(int argc, char** argv)
{
    Startup::returnMemoryPromptly();
    RunningProgramFolder folder(argc > 0 ? argv[0] : nullptr);
    DesktopShell shell;
    DesktopMessageBoxes boxes;
    DesktopFileDialogs files;
    return ProgramStart::run(argc, argv, Platform{shell, boxes, folder, files});
}
