#include "app/Startup.h"

#include "app/AppError.h"

#include <QFile>

namespace Startup {

const QStringList& engineFiles()
{
    static const QStringList files = {QStringLiteral("bantam.dll"), QStringLiteral("idapi32.dll"),
                                      QStringLiteral("blw32.dll"), QStringLiteral("idpdx32.dll"),
                                      QStringLiteral("idr20009.dll")};
    return files;
}

void removeEngineFiles(const QString& exePath)
{
    for (const QString& name : engineFiles())
        QFile::remove(exePath + name);
}

int run(const Attempt& attempt, const QString& exePath)
{
    try {
        return attempt(false);
    } catch (const AppError&) {
        // The first failure is not shown: the second attempt decides what the user sees.
    }
    removeEngineFiles(exePath);
    return attempt(true);
}

} // namespace Startup
