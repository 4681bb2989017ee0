#include "startup/ProgramTitle.h"

const QString ProgramVersion = QStringLiteral(KESTROVE_VERSION);
const QString ProgramTitle = QStringLiteral("Kestrove Online Newspaper v" KESTROVE_VERSION);
