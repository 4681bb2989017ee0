#include "startup/Startup.h"

#include "directory/Table.h"
#include "errors/AppError.h"

#include <QFile>
#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace Startup {

const QStringList& engineFiles()
{
    static const QStringList files = {QStringLiteral("bantam.dll"), QStringLiteral("idapi32.dll"),
                                      QStringLiteral("blw32.dll"), QStringLiteral("idpdx32.dll"),
                                      QStringLiteral("idr20009.dll")};
    return files;
}

void removeEngineFiles(const QString& folder)
{
    for (const QString& name : engineFiles())
        QFile::remove(folder + name);
}

int run(const Attempt& attempt, const QString& dataPath)
{
    try {
        return attempt(false);
    } catch (const AppError&) {
        // The first failure is not shown: the second attempt decides what the user sees.
    }
    removeEngineFiles(dataPath);
    return attempt(true);
}

void returnMemoryPromptly()
{
#ifdef __GLIBC__
    // A fixed threshold: the C library would otherwise raise it after each large free,
    // and keep the next large blocks in its pools.
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);
    mallopt(M_TRIM_THRESHOLD, 1024 * 1024);
#endif
}

void returnFreedMemory()
{
#ifdef __GLIBC__
    malloc_trim(0);
#endif
}

qint32 openDirectory(Table& table, const QString& dataPath)
{
    table.close();
    table.setFileName(dataPath + QStringLiteral("Data/list.db"));
    table.open();
    table.setFiltered(false);
    table.last();
    qint32 lastNo = 0;
    try {
        lastNo = table.field(Field::No).asInteger();
    } catch (const ConversionError&) {
        // An empty table, a blank number or one past 32 bits: numbering then starts
        // from the highest number in the file (see RecordNumbers).
        lastNo = 0;
    }
    table.setOrderAtFirst(Field::Name);
    return lastNo;
}

} // namespace Startup
