#include "datatool/OutputFile.h"

#include <QFile>
#include <QSaveFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace DbTool {

namespace {

struct Identity
{
    dev_t device;
    ino_t inode;
    bool operator==(const Identity& other) const { return device == other.device && inode == other.inode; }
    bool operator!=(const Identity& other) const { return !(*this == other); }
};

// The file a name leads to, through symbolic links; none when it cannot be found.
std::optional<Identity> identityOf(const QString& path)
{
    struct stat info;
    if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &info) != 0)
        return std::nullopt;
    return Identity{info.st_dev, info.st_ino};
}

void refuse(const std::optional<Identity>& output, const QString& outputName, const QStringList& inputs)
{
    if (!output)
        return;
    for (const QString& input : inputs) {
        if (identityOf(input) != output)
            continue;
        if (input == outputName) {
            throw OutputIsInput(
                QStringLiteral("%1 is both read and written by this command; nothing was written").arg(input));
        }
        throw OutputIsInput(QStringLiteral("%1 is the same file as %2, which this command reads; nothing was written")
                                .arg(outputName, input));
    }
}

QString systemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

void refuseOutputOnInput(const QString& output, const QStringList& inputs)
{
    refuse(identityOf(output), output, inputs);
}

void refuseStandardOutputOnInput(const QStringList& inputs)
{
    struct stat info;
    if (::fstat(STDOUT_FILENO, &info) == 0)
        refuse(Identity{info.st_dev, info.st_ino}, QStringLiteral("The standard output"), inputs);
}

OutputFile::OutputFile(QString path)
    : m_path(std::move(path))
{
}

OutputFile::~OutputFile()
{
    if (m_streamHandle >= 0)
        ::close(m_streamHandle);
}

void OutputFile::open()
{
    const QByteArray name = QFile::encodeName(m_path);
    struct stat info;
    const bool exists = ::stat(name.constData(), &info) == 0;
    if (!exists || S_ISREG(info.st_mode) || S_ISDIR(info.st_mode)) {
        // A folder is left to QSaveFile, which names the reason.
        m_file = std::make_unique<QSaveFile>(m_path);
        if (!m_file->open(QIODevice::WriteOnly | QIODevice::Unbuffered))
            throw AppError(QStringLiteral("Cannot create %1: %2").arg(m_path, m_file->errorString()));
        return;
    }
    const auto notStream = [&] {
        return AppError(
            QStringLiteral("Cannot create %1: it is neither a file nor a character device or a pipe").arg(m_path));
    };
    if (!S_ISCHR(info.st_mode) && !S_ISFIFO(info.st_mode))
        throw notStream();
    // Written where it is: replacing a device or a pipe by a file would break it for everyone.
    const int handle = ::open(name.constData(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    if (handle < 0)
        throw AppError(QStringLiteral("Cannot create %1: %2").arg(m_path, systemReason(errno)));
    m_streamHandle = handle;
    if (::fstat(handle, &info) != 0 || (!S_ISCHR(info.st_mode) && !S_ISFIFO(info.st_mode)))
        throw notStream(); // it was replaced in between
    m_stream = std::make_unique<QFile>();
    if (!m_stream->open(handle, QIODevice::WriteOnly | QIODevice::Unbuffered, QFileDevice::DontCloseHandle))
        throw AppError(QStringLiteral("Cannot create %1: %2").arg(m_path, m_stream->errorString()));
}

QIODevice& OutputFile::device()
{
    if (m_stream)
        return *m_stream;
    return *m_file;
}

bool OutputFile::commit()
{
    if (m_file)
        return m_file->commit();
    if (!m_stream->flush())
        return false;
    m_stream->close();
    const int handle = m_streamHandle;
    m_streamHandle = -1;
    if (::close(handle) != 0) {
        m_closeError = systemReason(errno);
        return false;
    }
    return true;
}

QString OutputFile::errorString() const
{
    if (!m_closeError.isEmpty())
        return m_closeError;
    return m_file ? m_file->errorString() : m_stream->errorString();
}

} // namespace DbTool
