#include "directory/TableCache.h"

#include "directory/Collation.h"
#include "directory/Sqlite.h"
#include "errors/AppError.h"
#include "work/Progress.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xxhash.h>

namespace {

constexpr char Magic[16] = "KESTROVE-CACHE\n";
constexpr quint32 Format = 3;
// The text is mapped from the file, so it starts on a page boundary.
constexpr quint64 Alignment = 4096;
// Written through a buffer of this size, checking for a cancel between two.
constexpr std::size_t WriteChunk = 1 << 20;

struct Header
{
    char magic[16];
    quint32 format;
    quint32 entrySize;
    // The table's stamp (see TableFile::Stamp).
    quint64 device;
    quint64 inode;
    quint64 size;
    qint64 modifiedNs;
    qint64 statusChangedNs;
    quint32 changeCounter;
    quint32 validFor;
    char collation[32];
    quint64 slotCount;
    quint64 liveCount;
    quint64 entriesOffset;
    quint64 textOffset;
    quint64 textSize;
    quint64 orderOffset[Field::NamedCount]; // 0: not in the cache
    quint64 fileSize;
    // XXH3 of the whole file with this field taken as zero: checked before anything in
    // the file is followed.
    quint64 checksum;
};

quint64 aligned(quint64 offset)
{
    return (offset + Alignment - 1) / Alignment * Alignment;
}

QByteArray collationName()
{
    QByteArray name = Collation::version();
    name.truncate(31);
    return name;
}

bool readFully(int fd, void* into, quint64 size, quint64 offset)
{
    auto* out = static_cast<char*>(into);
    while (size > 0) {
        const ssize_t n = ::pread(fd, out, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        out += n;
        size -= static_cast<quint64>(n);
        offset += static_cast<quint64>(n);
    }
    return true;
}

class Descriptor
{
public:
    explicit Descriptor(int fd)
        : m_fd(fd)
    {
    }
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int fd() const { return m_fd; }
    int release() { return std::exchange(m_fd, -1); }
    void reset(int fd)
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd;
};

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// Gives a file opened with O_TMPFILE the name `pattern` (ending in XXXXXX) makes, unique
// in its folder. False with errno set when it cannot.
bool nameUnnamed(int fd, QByteArray& pattern)
{
    static constexpr char Letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd);
    for (int attempt = 0; attempt < 100; ++attempt) {
        for (qsizetype i = pattern.size() - 6; i < pattern.size(); ++i)
            pattern[i] = Letters[QRandomGenerator::global()->bounded(int(sizeof Letters - 1))];
        if (::linkat(AT_FDCWD, self.constData(), AT_FDCWD, pattern.constData(), AT_SYMLINK_FOLLOW) == 0)
            return true;
        if (errno != EEXIST)
            return false;
    }
    return false;
}

// Why a cache made for `written` does not belong to the table as `now` finds it.
QString mismatch(const Header& written, const TableFile::Stamp& now)
{
    if (written.device != now.device || written.inode != now.inode)
        return QStringLiteral("the cache was written for another file than the table now is");
    if (written.size != now.size || written.changeCounter != now.changeCounter || written.validFor != now.validFor)
        return QStringLiteral("the cache is out of date: the table has changed since it was written");
    if (written.modifiedNs != now.modifiedNs || written.statusChangedNs != now.statusChangedNs)
        return QStringLiteral("the table file was rewritten or replaced since the cache was written (its modification "
                              "or status-change time differs)");
    return {};
}

// Makes a folder and any missing one above it, readable by the user alone (as the XDG
// rules ask of the user's cache folder).
bool makePrivateFolder(const QString& folder)
{
    const QString parent = QFileInfo(folder).absolutePath();
    if (parent != folder && !QFileInfo(parent).isDir() && !makePrivateFolder(parent))
        return false;
    return ::mkdir(QFile::encodeName(folder).constData(), 0700) == 0 || errno == EEXIST;
}

} // namespace

QString TableCache::pathFor(const QString& tablePath)
{
    return tablePath + QStringLiteral(".cache");
}

bool TableCache::read(const QString& cachePath, const TableFile::Stamp& stamp, RecordStore& store, Orders& orders,
                      QString* reason)
{
    auto refuse = [&](const QString& why) {
        if (reason)
            *reason = why;
        return false;
    };
    if (!stamp.dependable())
        return refuse(QStringLiteral("the table does not keep a change counter a cache could rely on"));
    // Never through a link: the cache is a file of our own or nothing.
    const Descriptor file(::open(QFile::encodeName(cachePath).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (file.fd() < 0)
        return refuse(errno == ENOENT ? QStringLiteral("there is no cache")
                                      : QStringLiteral("the cache cannot be opened: %1").arg(systemError()));
    struct stat info
    {
    };
    if (::fstat(file.fd(), &info) != 0 || !S_ISREG(info.st_mode))
        return refuse(QStringLiteral("the cache is not a regular file"));
    const auto fileSize = static_cast<quint64>(info.st_size);
    Header header;
    if (fileSize < sizeof header || !readFully(file.fd(), &header, sizeof header, 0))
        return refuse(QStringLiteral("the cache is too short to be one"));
    if (std::memcmp(header.magic, Magic, sizeof Magic) != 0 || header.format != Format ||
        header.entrySize != sizeof(RecordStore::Entry))
        return refuse(QStringLiteral("the cache is not one this program wrote"));
    if (header.fileSize != fileSize)
        return refuse(QStringLiteral("the cache is truncated or damaged: its size is not the one it was written with"));
    // Refusals that need no more than the header come first: a stale cache costs nothing.
    if (const QString why = mismatch(header, stamp); !why.isEmpty())
        return refuse(why);
    if (QByteArray(header.collation, static_cast<qsizetype>(qstrnlen(header.collation, sizeof header.collation))) !=
        collationName())
        return refuse(QStringLiteral("the cache was sorted with another collation"));

    // The parts lie where this program puts them, one after another up to the file's end;
    // anything else is damage, so nothing read below can reach past the file.
    const quint64 slotTotal = header.slotCount;
    if (slotTotal > std::numeric_limits<RecordStore::Slot>::max() || header.liveCount > slotTotal ||
        header.entriesOffset != sizeof header || header.textSize > 0xffffffffu)
        return refuse(QStringLiteral("the cache is damaged"));
    const quint64 entriesEnd = header.entriesOffset + slotTotal * sizeof(RecordStore::Entry);
    const quint64 textEnd = header.textOffset + header.textSize + RecordStore::ReadSlack;
    quint64 end = textEnd;
    for (int position = 0; position < Field::NamedCount; ++position) {
        const quint64 offset = header.orderOffset[position];
        if (offset == 0)
            continue;
        if (position == Field::No || offset != end)
            return refuse(QStringLiteral("the cache is damaged"));
        end += header.liveCount * sizeof(RecordStore::Slot);
    }
    if (header.textOffset != aligned(entriesEnd) || end != fileSize)
        return refuse(QStringLiteral("the cache is damaged"));

    // Every byte is read once, in the file's order, into where it is kept, and the
    // checksum taken over it before anything read is followed: the records and orders
    // are read into memory of their own, the text mapped where it lies.
    XXH3_state_t* state = XXH3_createState();
    if (!state)
        throw std::bad_alloc();
    const auto freeState = qScopeGuard([state] { XXH3_freeState(state); });
    XXH3_64bits_reset(state);
    Header zeroed = header;
    zeroed.checksum = 0;
    XXH3_64bits_update(state, &zeroed, sizeof zeroed);
    BlockVector<RecordStore::Entry> entries;
    entries.resize(slotTotal);
    for (std::size_t b = 0; b < entries.blockCount(); ++b) {
        const quint64 first = b * entries.BlockSize;
        const quint64 size = std::min<quint64>(entries.BlockSize, slotTotal - first) * sizeof(RecordStore::Entry);
        if (!readFully(file.fd(), entries.block(b), size, header.entriesOffset + first * sizeof(RecordStore::Entry)))
            return refuse(QStringLiteral("the cache cannot be read: %1").arg(systemError()));
        XXH3_64bits_update(state, entries.block(b), size);
    }
    std::vector<char> padding(header.textOffset - entriesEnd);
    if (!readFully(file.fd(), padding.data(), padding.size(), entriesEnd))
        return refuse(QStringLiteral("the cache cannot be read: %1").arg(systemError()));
    XXH3_64bits_update(state, padding.data(), padding.size());
    // Mapped with its pages read in one go: a fault on each would come at the first search.
    const quint64 textLength = header.textSize + RecordStore::ReadSlack;
    void* mapped = ::mmap(nullptr, textLength, PROT_READ, MAP_PRIVATE | MAP_POPULATE, file.fd(),
                          static_cast<off_t>(header.textOffset));
    if (mapped == MAP_FAILED)
        return refuse(QStringLiteral("the cache cannot be mapped: %1").arg(systemError()));
    std::shared_ptr<const void> mapping(mapped,
                                        [textLength](const void* at) { ::munmap(const_cast<void*>(at), textLength); });
    XXH3_64bits_update(state, mapped, textLength);
    Orders read;
    for (int position = Field::Name; position < Field::NamedCount; ++position) {
        if (header.orderOffset[position] == 0)
            continue;
        std::vector<RecordStore::Slot> order(header.liveCount);
        const quint64 size = order.size() * sizeof(RecordStore::Slot);
        if (!readFully(file.fd(), order.data(), size, header.orderOffset[position]))
            return refuse(QStringLiteral("the cache cannot be read: %1").arg(systemError()));
        XXH3_64bits_update(state, order.data(), size);
        read[static_cast<std::size_t>(position)] = std::move(order);
    }
    if (XXH3_64bits_digest(state) != header.checksum)
        return refuse(QStringLiteral("the cache is damaged: its checksum does not match its contents"));

    // Each slot's state in a byte of its own (0 dead, 1 live): the orders are checked
    // against these, a million reads at random within 1 MB rather than the entries' 32 MB.
    std::vector<std::uint8_t> liveSlots(slotTotal, 0);
    quint64 live = 0;
    for (std::size_t i = 0; i < slotTotal; ++i) {
        const RecordStore::Entry& entry = entries[i];
        if (entry.live > 1 || entry.longTexts != 0)
            return refuse(QStringLiteral("the cache is damaged"));
        if (!entry.live)
            continue;
        liveSlots[i] = 1;
        ++live;
        quint64 textsEnd = entry.start;
        for (const std::uint16_t length : entry.length)
            textsEnd += length == RecordStore::ShortBlank ? 0 : length;
        if ((entry.start >> 32) != 0 || textsEnd > header.textSize)
            return refuse(QStringLiteral("the cache is damaged"));
    }
    if (live != header.liveCount)
        return refuse(QStringLiteral("the cache is damaged"));

    std::vector<std::uint8_t> seen;
    for (const auto& order : read) {
        if (!order)
            continue;
        // Each live record exactly once: 1 becomes 2 when seen.
        seen = liveSlots;
        for (const RecordStore::Slot slot : *order) {
            if (slot >= slotTotal || seen[slot] != 1)
                return refuse(QStringLiteral("the cache is damaged"));
            seen[slot] = 2;
        }
    }

    store.clear();
    store.m_entries = std::move(entries);
    store.m_live = header.liveCount;
    RecordStore::Chunk borrowed;
    borrowed.data = static_cast<const char*>(mapped);
    store.m_chunks.push_back(std::move(borrowed));
    store.m_borrowed = std::move(mapping);
    orders = std::move(read);
    return true;
}

QString TableCache::write(const QString& cachePath, const TableFile::Stamp& stamp, const RecordStore& store,
                          const Orders& orders, const Progress& progress)
{
    if (!stamp.dependable())
        return QStringLiteral("the table does not keep a change counter a cache could rely on");
    if (!store.m_longLengths.empty())
        return QStringLiteral("a text is too long for the cache");
    const quint64 slotTotal = store.slotCount();
    quint64 textSize = 0;
    for (RecordStore::Slot slot = 0; slot < slotTotal; ++slot) {
        if (!store.isLive(slot))
            continue;
        for (int position = Field::Name; position <= Field::Category; ++position) {
            if (const auto text = store.text(slot, position))
                textSize += text->size();
        }
    }
    if (textSize > 0xffffffffu)
        return QStringLiteral("the text is too large for the cache");

    Header header;
    std::memset(&header, 0, sizeof header); // no stray bytes in the checksum
    std::memcpy(header.magic, Magic, sizeof Magic);
    header.format = Format;
    header.entrySize = sizeof(RecordStore::Entry);
    header.device = stamp.device;
    header.inode = stamp.inode;
    header.size = stamp.size;
    header.modifiedNs = stamp.modifiedNs;
    header.statusChangedNs = stamp.statusChangedNs;
    header.changeCounter = stamp.changeCounter;
    header.validFor = stamp.validFor;
    const QByteArray collation = collationName();
    std::memcpy(header.collation, collation.constData(), static_cast<std::size_t>(collation.size()));
    header.slotCount = slotTotal;
    header.liveCount = store.liveCount();
    header.entriesOffset = sizeof header;
    header.textOffset = aligned(header.entriesOffset + slotTotal * sizeof(RecordStore::Entry));
    header.textSize = textSize;
    quint64 end = header.textOffset + textSize + RecordStore::ReadSlack;
    for (int position = Field::Name; position < Field::NamedCount; ++position) {
        const auto& order = orders[static_cast<std::size_t>(position)];
        if (order && order->size() == store.liveCount()) {
            header.orderOffset[position] = end;
            end += store.liveCount() * sizeof(RecordStore::Slot);
        }
    }
    header.fileSize = end;

    // A temporary file of our own beside the cache, renamed over it once whole: a crash
    // leaves the old cache or none, and a link in the cache's place is replaced, never
    // written through. Where the file system allows, the file has no name until it is
    // whole, so a program stopped halfway leaves nothing behind.
    const QString target = cachePath;
    const QString folder = QFileInfo(target).absolutePath();
    if (!QFileInfo(folder).isDir() && !makePrivateFolder(folder))
        return QStringLiteral("the cache's folder %1 cannot be made: %2").arg(folder, systemError());
    QByteArray temporary = QFile::encodeName(QFileInfo(target).absolutePath() + QStringLiteral("/.") +
                                             QFileInfo(target).fileName() + QStringLiteral(".XXXXXX"));
    const bool unnamed = ::access("/proc/self/fd", X_OK) == 0;
    Descriptor file(unnamed ? ::open(QFile::encodeName(folder).constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600)
                            : -1);
    bool named = file.fd() < 0;
    if (named)
        file.reset(::mkostemp(temporary.data(), O_CLOEXEC));
    if (file.fd() < 0)
        return QStringLiteral("the cache cannot be created beside the table: %1").arg(systemError());
    bool renamed = false;
    const auto removeTemporary = qScopeGuard([&] {
        if (named && !renamed)
            ::unlink(temporary.constData());
    });

    XXH3_state_t* state = XXH3_createState();
    if (!state)
        throw std::bad_alloc();
    const auto freeState = qScopeGuard([state] { XXH3_freeState(state); });
    XXH3_64bits_reset(state);
    std::vector<char> pending;
    pending.reserve(WriteChunk + 4096);
    quint64 written = 0;
    QString problem;
    auto flush = [&] {
        progress.checkCancelled();
        XXH3_64bits_update(state, pending.data(), pending.size());
        std::size_t done = 0;
        while (done < pending.size()) {
            const ssize_t n = ::write(file.fd(), pending.data() + done, pending.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                problem = QStringLiteral("the cache could not be written: %1").arg(systemError());
                return false;
            }
            done += static_cast<std::size_t>(n);
        }
        written += pending.size();
        pending.clear();
        return true;
    };
    auto put = [&](const void* data, std::size_t size) {
        pending.insert(pending.end(), static_cast<const char*>(data), static_cast<const char*>(data) + size);
        return pending.size() < WriteChunk || flush();
    };
    auto padTo = [&](quint64 offset) {
        const std::vector<char> zeros(offset - written - pending.size(), '\0');
        return put(zeros.data(), zeros.size());
    };

    bool ok = put(&header, sizeof header); // its checksum is zero as it is hashed
    quint64 offset = 0;
    for (RecordStore::Slot slot = 0; ok && slot < slotTotal; ++slot) {
        RecordStore::Entry entry = store.m_entries[slot];
        if (entry.live) {
            entry.start = offset;
            for (const std::uint16_t length : entry.length)
                offset += length == RecordStore::ShortBlank ? 0 : length;
        } else {
            entry = RecordStore::Entry();
            entry.live = 0;
        }
        ok = put(&entry, sizeof entry);
    }
    ok = ok && padTo(header.textOffset);
    for (RecordStore::Slot slot = 0; ok && slot < slotTotal; ++slot) {
        if (!store.isLive(slot))
            continue;
        for (int position = Field::Name; ok && position <= Field::Category; ++position) {
            if (const auto text = store.text(slot, position))
                ok = put(text->data(), text->size());
        }
    }
    ok = ok && padTo(header.textOffset + textSize + RecordStore::ReadSlack);
    for (int position = Field::Name; ok && position < Field::NamedCount; ++position) {
        if (header.orderOffset[position] != 0) {
            const auto& order = *orders[static_cast<std::size_t>(position)];
            ok = put(order.data(), order.size() * sizeof(RecordStore::Slot));
        }
    }
    ok = ok && flush();
    if (!ok)
        return problem;
    if (written != header.fileSize)
        return QStringLiteral("the cache could not be written whole");
    header.checksum = XXH3_64bits_digest(state);
    if (::pwrite(file.fd(), &header, sizeof header, 0) != static_cast<ssize_t>(sizeof header) ||
        ::fdatasync(file.fd()) != 0)
        return QStringLiteral("the cache could not be written: %1").arg(systemError());
    if (!named) {
        if (!nameUnnamed(file.fd(), temporary))
            return QStringLiteral("the cache could not be put in place: %1").arg(systemError());
        named = true;
    }
    if (::close(file.release()) != 0)
        return QStringLiteral("the cache could not be written: %1").arg(systemError());
    progress.checkCancelled();
    if (::rename(temporary.constData(), QFile::encodeName(target).constData()) != 0)
        return QStringLiteral("the cache could not be put in place: %1").arg(systemError());
    renamed = true;
    return {};
}

QString TableCache::describe(const QString& tablePath, const QString& cachePath)
{
    struct stat info
    {
    };
    if (::lstat(QFile::encodeName(cachePath).constData(), &info) != 0)
        return QStringLiteral("no cache (the program writes one after it has read the table)");
    sqlite::Database db(tablePath, sqlite::Database::Mode::ReadOnly);
    const TableFile::ReadLock lock(db);
    RecordStore store;
    Orders orders;
    QString reason;
    if (read(cachePath, TableFile::readStamp(db, tablePath), store, orders, &reason))
        return QStringLiteral("the cache matches the table");
    return reason + QStringLiteral("; the program will ignore it and write it again");
}
