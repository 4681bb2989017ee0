#include "lists/NameListFile.h"

#include "directory/TextRules.h"
#include "errors/AppError.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

NameListFile::NameListFile(QString path)
    : m_path(std::move(path))
{
}

bool NameListFile::exists() const
{
    return QFileInfo::exists(m_path);
}

QList<QByteArray> NameListFile::read(const QList<QByteArray>& known) const
{
    if (!exists())
        return {};
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        throw FileError::cannotOpen(m_path);
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw FileError::cannotOpen(m_path);
    return parse(bytes, known);
}

namespace {

// An exclusive lock on the list's folder for as long as it lives. Locking the folder
// rather than the file keeps working across the rename that replaces the file; where
// the folder cannot be locked the change goes ahead unlocked, as before.
class FolderLock
{
public:
    explicit FolderLock(const QString& filePath)
        : m_fd(::open(QFile::encodeName(QFileInfo(filePath).absolutePath()).constData(), O_RDONLY | O_CLOEXEC))
    {
        if (m_fd >= 0) {
            while (::flock(m_fd, LOCK_EX) != 0 && errno == EINTR) {
            }
        }
    }
    ~FolderLock()
    {
        if (m_fd >= 0)
            ::close(m_fd); // releases the lock
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

private:
    int m_fd;
};

} // namespace

QList<QByteArray> NameListFile::change(const Edit& edit, const QList<QByteArray>& known) const
{
    const FolderLock lock(m_path);
    QList<QByteArray> lines = read(known);
    edit(lines);
    write(lines);
    return lines;
}

void NameListFile::write(const QList<QByteArray>& lines) const
{
    // A write-protected list stays protected, as it would with a plain rewrite.
    if (exists() && !QFileInfo(m_path).isWritable())
        throw FileError::cannotCreate(m_path);
    QSaveFile file(m_path);
    // Unbuffered, so a full disk shows in write() itself rather than only at commit.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        throw FileError::cannotCreate(m_path);
    const auto writeAll = [&](const QByteArray& bytes) {
        qint64 written = 0;
        while (written < bytes.size()) {
            const qint64 n = file.write(bytes.constData() + written, bytes.size() - written);
            if (n <= 0) {
                file.cancelWriting();
                throw FileError::cannotCreate(m_path);
            }
            written += n;
        }
    };
    // In pieces, so a long list is not held a second time as one block of text.
    constexpr qsizetype Piece = 64 * 1024;
    QByteArray piece;
    piece.reserve(Piece + 1024);
    for (const QByteArray& line : lines) {
        piece += line;
        piece += "\r\n";
        if (piece.size() >= Piece) {
            writeAll(piece);
            piece.resize(0);
        }
    }
    writeAll(piece);
    if (!file.commit())
        throw FileError::cannotCreate(m_path);
}

QList<QByteArray> NameListFile::parse(const QByteArray& bytes, const QList<QByteArray>& known)
{
    QList<QByteArray> lines;
    const qsizetype end = bytes.size();
    const auto add = [&](qsizetype start, qsizetype size) {
        const qsizetype at = lines.size();
        if (at < known.size() && known[at].size() == size &&
            std::memcmp(known[at].constData(), bytes.constData() + start, static_cast<std::size_t>(size)) == 0)
            lines.append(known[at]);
        else
            lines.append(bytes.mid(start, size));
    };
    qsizetype start = 0;
    qsizetype i = 0;
    while (i < end) {
        const char c = bytes[i];
        if (c == '\r' || c == '\n') {
            add(start, i - start);
            i += (c == '\r' && i + 1 < end && bytes[i + 1] == '\n') ? 2 : 1;
            start = i;
        } else {
            ++i;
        }
    }
    if (start < end)
        add(start, end - start);
    return lines;
}

QByteArray NameListFile::format(const QList<QByteArray>& lines)
{
    QByteArray bytes;
    qsizetype size = 0;
    for (const QByteArray& line : lines)
        size += line.size() + 2;
    bytes.reserve(size);
    for (const QByteArray& line : lines) {
        bytes += line;
        bytes += "\r\n";
    }
    return bytes;
}

QByteArray NameListFile::entryFor(QString name)
{
    for (QChar& c : name) {
        if (TextRules::isRefused(c.unicode()))
            c = QLatin1Char(' ');
    }
    return name.toUtf8();
}

QString NameListFile::display(const QByteArray& line)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(line);
    if (utf8.hasError())
        text = fromWindows1252(line);
    for (QChar& c : text) {
        if (TextRules::isControl(c.unicode()))
            c = QChar(QChar::ReplacementCharacter);
    }
    return text;
}

QString NameListFile::fromWindows1252(const QByteArray& line)
{
    // Windows-1252: Latin-1 but for 0x80..0x9F.
    static const char16_t high[32] = {0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD,
                                      0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};
    QString result;
    result.reserve(line.size());
    for (const char c : line) {
        const auto byte = static_cast<unsigned char>(c);
        result += (byte >= 0x80 && byte < 0xA0) ? QChar(high[byte - 0x80]) : QChar(byte);
    }
    return result;
}
