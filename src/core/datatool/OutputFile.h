#pragma once

#include "errors/AppError.h"

#include <QString>
#include <QStringList>
#include <memory>

class QFile;
class QIODevice;
class QSaveFile;

namespace DbTool {

// A command was asked to write over a file it reads (the same name twice, a symbolic or
// a hard link to it): wrong use, refused before anything is written.
class OutputIsInput : public AppError
{
public:
    using AppError::AppError;
};

// Throws OutputIsInput when `output` is the same file as any of `inputs`, told by device
// and inode, so symbolic and hard links are caught. A name that does not exist yet is
// no input; nor is an input that cannot be found (reading it will fail on its own).
void refuseOutputOnInput(const QString& output, const QStringList& inputs);
// The same for the file the standard output is connected to ("> DB", ">> DB").
void refuseStandardOutputOnInput(const QStringList& inputs);

// A file a command writes. A regular file (or a name not taken yet) is written to a
// temporary file beside it that takes its name only at commit(), so a failed or
// cancelled write leaves the old file as it was. A character device or a pipe (a
// terminal, /dev/null, a FIFO) is written in place as a stream, every write and the
// closing checked; it is never replaced by a file. Anything else is refused.
class OutputFile
{
public:
    explicit OutputFile(QString path);
    ~OutputFile(); // drops a temporary file never committed
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Throws AppError "Cannot create PATH: reason".
    void open();
    const QString& path() const { return m_path; }
    bool isStream() const { return m_stream != nullptr; }
    // Unbuffered: a write that fails says so at once.
    QIODevice& device();
    // Gives a file its name, or flushes and closes a stream; false when that fails,
    // with errorString() saying why.
    bool commit();
    QString errorString() const;

private:
    QString m_path;
    std::unique_ptr<QSaveFile> m_file;
    std::unique_ptr<QFile> m_stream;
    int m_streamHandle = -1;
    QString m_closeError;
};

} // namespace DbTool
