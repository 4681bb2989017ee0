#pragma once

#include <QString>
#include <QStringList>

// The program's command line, read before any window exists, so --help and --version
// work without a display.
namespace CommandLine {

struct Outcome
{
    bool start = true; // open the window; otherwise exit with `status`
    int status = 0;
    QString output; // for standard output
    QString errors; // for standard error
};

// arguments[0] is the program. Qt's own window options (-platform, -style and the
// like) pass, to be taken by Qt; any other option or argument is wrong use (status 2).
Outcome parse(const QStringList& arguments);

} // namespace CommandLine
