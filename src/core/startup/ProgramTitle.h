#pragma once

#include <QString>

// The program's title: the main window's caption and the first line of About.
extern const QString ProgramTitle;
// The version both programs print for --version (the project's version in CMake).
extern const QString ProgramVersion;
