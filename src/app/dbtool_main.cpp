#include "datatool/DbTool.h"
#include "startup/Startup.h"

#include <QCoreApplication>
#include <fcntl.h>
#include <unistd.h>

namespace {

// A standard stream started closed is held open on /dev/null, so that no file the tool
// opens later takes its number and receives what was meant for the stream.
bool holdIfClosed(int fd)
{
    if (::fcntl(fd, F_GETFD) != -1)
        return false;
    const int null = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    if (null >= 0 && null != fd) {
        ::dup2(null, fd);
        ::close(null);
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    Startup::returnMemoryPromptly();
    holdIfClosed(STDIN_FILENO);
    const bool outputClosed = holdIfClosed(STDOUT_FILENO);
    holdIfClosed(STDERR_FILENO);
    QCoreApplication app(argc, argv);
    return DbTool::run(QCoreApplication::arguments().mid(1), outputClosed);
}
