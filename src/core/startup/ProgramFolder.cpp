#include "startup/ProgramFolder.h"

#include <QFileInfo>

#include <algorithm>

QString ProgramFolder::folderOf(const QString& filePath)
{
    const qsizetype cut = std::max(filePath.lastIndexOf(QLatin1Char('/')), filePath.lastIndexOf(QLatin1Char('\\')));
    return filePath.left(cut + 1);
}

QString ProgramFolder::exePath() const
{
    return folderOf(programFilePath());
}

QString ProgramFolder::applicationTitle() const
{
    const QString file = programFilePath();
    const qsizetype cut = std::max(file.lastIndexOf(QLatin1Char('/')), file.lastIndexOf(QLatin1Char('\\')));
    const QString name = file.mid(cut + 1);
    const qsizetype dot = name.indexOf(QLatin1Char('.'));
    return dot < 0 ? name : name.left(dot);
}

RunningProgramFolder::RunningProgramFolder(const char* argv0)
{
    const QFileInfo self(QStringLiteral("/proc/self/exe"));
    if (self.exists())
        m_path = self.canonicalFilePath();
    if (m_path.isEmpty() && argv0)
        m_path = QFileInfo(QString::fromLocal8Bit(argv0)).absoluteFilePath();
}
