#include "startup/ProgramTitle.h"

const QString ProgramTitle = QStringLiteral("Kestrove Online Newspaper v6.88");
