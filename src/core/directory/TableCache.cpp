#include "directory/TableCache.h"

#include "directory/Collation.h"
#include "directory/Sqlite.h"
#include "errors/AppError.h"
#include "work/Progress.h"

#include <QFile>
#include <QSaveFile>
#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char Magic[16] = "KESTROVE-CACHE\n";
constexpr quint32 Format = 2;
// The text is mapped from the file, so it starts on a page boundary.
constexpr quint64 Alignment = 4096;
// Written through a buffer of this size, checking for a cancel between two.
constexpr qsizetype WriteChunk = 1 << 20;

struct Header
{
    char magic[16];
    quint32 format;
    quint32 entrySize;
    quint64 device;
    quint64 inode;
    quint64 size;
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
    quint32 checksum; // of everything before it
    quint32 reserved;
};

// FNV-1a of the header's bytes before the checksum: enough to tell a damaged header.
quint32 checksumOf(const Header& header)
{
    quint32 hash = 2166136261u;
    const auto* bytes = reinterpret_cast<const unsigned char*>(&header);
    for (size_t i = 0; i < offsetof(Header, checksum); ++i)
        hash = (hash ^ bytes[i]) * 16777619u;
    return hash;
}

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

bool readAt(int fd, void* into, quint64 size, quint64 offset)
{
    auto* out = static_cast<char*>(into);
    while (size > 0) {
        const ssize_t n = ::pread(fd, out, size, static_cast<off_t>(offset));
        if (n <= 0)
            return false;
        out += n;
        size -= static_cast<quint64>(n);
        offset += static_cast<quint64>(n);
    }
    return true;
}

class File
{
public:
    explicit File(const QString& path)
        : m_fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC))
    {
    }
    ~File()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    int fd() const { return m_fd; }

private:
    int m_fd;
};

} // namespace

QString TableCache::pathFor(const QString& tablePath)
{
    return tablePath + QStringLiteral(".cache");
}

bool TableCache::read(const QString& tablePath, const TableFile::Stamp& stamp, RecordStore& store, Orders& orders,
                      QString* reason)
{
    auto refuse = [&](const QString& why) {
        if (reason)
            *reason = why;
        return false;
    };
    if (!stamp.dependable())
        return refuse(QStringLiteral("the table does not keep a change counter a cache could rely on"));
    const File file(pathFor(tablePath));
    if (file.fd() < 0)
        return refuse(QStringLiteral("there is no cache"));
    struct stat info
    {
    };
    Header header{};
    if (::fstat(file.fd(), &info) != 0 || !readAt(file.fd(), &header, sizeof header, 0))
        return refuse(QStringLiteral("the cache is too short to be one"));
    if (std::memcmp(header.magic, Magic, sizeof Magic) != 0 || header.format != Format ||
        header.entrySize != sizeof(RecordStore::Entry) || header.checksum != checksumOf(header))
        return refuse(QStringLiteral("the cache is not one this program wrote"));
    if (header.fileSize != static_cast<quint64>(info.st_size))
        return refuse(QStringLiteral("the cache is truncated or damaged"));
    if (header.device != stamp.device || header.inode != stamp.inode || header.size != stamp.size ||
        header.changeCounter != stamp.changeCounter || header.validFor != stamp.validFor)
        return refuse(QStringLiteral("the cache is out of date: the table has changed since it was written"));
    if (QByteArray(header.collation) != collationName())
        return refuse(QStringLiteral("the cache was sorted with another collation"));

    // Every part must lie inside the file, so nothing read from it reaches past it.
    const quint64 slotTotal = header.slotCount;
    const quint64 entriesSize = slotTotal * sizeof(RecordStore::Entry);
    auto inside = [&](quint64 offset, quint64 size) {
        return offset >= sizeof header && offset <= header.fileSize && size <= header.fileSize - offset;
    };
    if (slotTotal > std::numeric_limits<RecordStore::Slot>::max() || header.liveCount > slotTotal ||
        !inside(header.entriesOffset, entriesSize) ||
        !inside(header.textOffset, header.textSize + RecordStore::ReadSlack) || header.textOffset % Alignment != 0 ||
        header.textSize > 0xffffffffu)
        return refuse(QStringLiteral("the cache is damaged"));
    for (const quint64 offset : header.orderOffset) {
        if (offset != 0 && !inside(offset, header.liveCount * sizeof(RecordStore::Slot)))
            return refuse(QStringLiteral("the cache is damaged"));
    }

    BlockVector<RecordStore::Entry> entries;
    entries.resize(slotTotal);
    for (std::size_t b = 0; b < entries.blockCount(); ++b) {
        const quint64 first = b * entries.BlockSize;
        const quint64 count = std::min<quint64>(entries.BlockSize, slotTotal - first);
        if (!readAt(file.fd(), entries.block(b), count * sizeof(RecordStore::Entry),
                    header.entriesOffset + first * sizeof(RecordStore::Entry)))
            return refuse(QStringLiteral("the cache cannot be read"));
    }
    quint64 live = 0;
    for (std::size_t i = 0; i < slotTotal; ++i) {
        const RecordStore::Entry& entry = entries[i];
        if (!entry.live)
            continue;
        ++live;
        quint64 end = entry.start;
        for (const std::uint16_t length : entry.length)
            end += length == RecordStore::ShortBlank ? 0 : length;
        if (entry.longTexts || (entry.start >> 32) != 0 || end > header.textSize)
            return refuse(QStringLiteral("the cache is damaged"));
    }
    if (live != header.liveCount)
        return refuse(QStringLiteral("the cache is damaged"));

    Orders read;
    std::vector<bool> seen;
    for (int position = 0; position < Field::NamedCount; ++position) {
        if (header.orderOffset[position] == 0)
            continue;
        std::vector<RecordStore::Slot> order(header.liveCount);
        if (!readAt(file.fd(), order.data(), order.size() * sizeof(RecordStore::Slot), header.orderOffset[position]))
            return refuse(QStringLiteral("the cache cannot be read"));
        // Each live record exactly once.
        seen.assign(slotTotal, false);
        for (const RecordStore::Slot slot : order) {
            if (slot >= slotTotal || !entries[slot].live || seen[slot])
                return refuse(QStringLiteral("the cache is damaged"));
            seen[slot] = true;
        }
        read[position] = std::move(order);
    }

    const char* text = nullptr;
    std::shared_ptr<const void> mapping;
    if (header.textSize > 0) {
        // With the zero bytes written after the text, which the search may read; populated
        // at once, since mapping the pages in one go costs a fraction of taking a fault on
        // each, which the first search would otherwise do while the window waits.
        const quint64 length = header.textSize + RecordStore::ReadSlack;
        void* mapped = ::mmap(nullptr, length, PROT_READ, MAP_PRIVATE | MAP_POPULATE, file.fd(),
                              static_cast<off_t>(header.textOffset));
        if (mapped == MAP_FAILED)
            return refuse(QStringLiteral("the cache cannot be mapped"));
        mapping =
            std::shared_ptr<const void>(mapped, [length](const void* at) { ::munmap(const_cast<void*>(at), length); });
        text = static_cast<const char*>(mapped);
    }

    store.clear();
    store.m_entries = std::move(entries);
    store.m_live = header.liveCount;
    RecordStore::Chunk borrowed;
    borrowed.data = text;
    store.m_chunks.push_back(std::move(borrowed));
    store.m_borrowed = std::move(mapping);
    orders = std::move(read);
    return true;
}

QString TableCache::write(const QString& tablePath, const TableFile::Stamp& stamp, const RecordStore& store,
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
    header.changeCounter = stamp.changeCounter;
    header.validFor = stamp.validFor;
    const QByteArray collation = collationName();
    std::memcpy(header.collation, collation.constData(), static_cast<size_t>(collation.size()));
    header.slotCount = slotTotal;
    header.liveCount = store.liveCount();
    header.entriesOffset = sizeof header;
    header.textOffset = aligned(header.entriesOffset + slotTotal * sizeof(RecordStore::Entry));
    header.textSize = textSize;
    quint64 end = header.textOffset + textSize + RecordStore::ReadSlack;
    for (int position = Field::Name; position < Field::NamedCount; ++position) {
        if (orders[position] && orders[position]->size() == store.liveCount()) {
            header.orderOffset[position] = end;
            end += store.liveCount() * sizeof(RecordStore::Slot);
        }
    }
    header.fileSize = end;
    header.checksum = checksumOf(header);

    QSaveFile file(pathFor(tablePath));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return file.errorString();
    QByteArray pending;
    pending.reserve(WriteChunk + 4096);
    quint64 written = 0;
    auto flush = [&] {
        progress.checkCancelled();
        if (file.write(pending) != pending.size())
            return false;
        written += static_cast<quint64>(pending.size());
        pending.clear();
        return true;
    };
    auto put = [&](const void* data, qsizetype size) {
        pending.append(static_cast<const char*>(data), size);
        return pending.size() < WriteChunk || flush();
    };
    auto padTo = [&](quint64 offset) {
        const quint64 at = written + static_cast<quint64>(pending.size());
        return put(QByteArray(static_cast<qsizetype>(offset - at), '\0').constData(),
                   static_cast<qsizetype>(offset - at));
    };

    bool ok = put(&header, sizeof header);
    quint64 offset = 0;
    for (RecordStore::Slot slot = 0; ok && slot < slotTotal; ++slot) {
        RecordStore::Entry entry = store.m_entries[slot];
        if (entry.live) {
            entry.start = offset;
            for (const std::uint16_t length : entry.length)
                offset += length == RecordStore::ShortBlank ? 0 : length;
        } else {
            entry = RecordStore::Entry();
            entry.live = false;
        }
        ok = put(&entry, sizeof entry);
    }
    ok = ok && padTo(header.textOffset);
    for (RecordStore::Slot slot = 0; ok && slot < slotTotal; ++slot) {
        if (!store.isLive(slot))
            continue;
        for (int position = Field::Name; ok && position <= Field::Category; ++position) {
            if (const auto text = store.text(slot, position))
                ok = put(text->data(), static_cast<qsizetype>(text->size()));
        }
    }
    ok = ok && padTo(header.textOffset + textSize + RecordStore::ReadSlack);
    for (int position = Field::Name; ok && position < Field::NamedCount; ++position) {
        if (header.orderOffset[position] != 0)
            ok = put(orders[position]->data(),
                     static_cast<qsizetype>(orders[position]->size() * sizeof(RecordStore::Slot)));
    }
    ok = ok && flush() && written == header.fileSize;
    if (!ok) {
        const QString problem = file.errorString();
        file.cancelWriting();
        return problem.isEmpty() ? QStringLiteral("the cache could not be written") : problem;
    }
    if (!file.commit())
        return file.errorString();
    return {};
}

QString TableCache::describe(const QString& tablePath)
{
    if (!QFile::exists(pathFor(tablePath)))
        return QStringLiteral("no cache (the program writes one after it has read the table)");
    sqlite::Database db(tablePath, sqlite::Database::Mode::ReadOnly);
    const TableFile::ReadLock lock(db);
    RecordStore store;
    Orders orders;
    QString reason;
    if (read(tablePath, TableFile::readStamp(db, tablePath), store, orders, &reason))
        return QStringLiteral("the cache matches the table");
    return reason + QStringLiteral("; the program will ignore it and write it again");
}
