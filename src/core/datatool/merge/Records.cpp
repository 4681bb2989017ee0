#include "datatool/merge/Records.h"

#include "datatool/AddressKey.h"
#include "datatool/CsvRecords.h"
#include "directory/Sqlite.h"
#include "directory/TableSchema.h"
#include "errors/AppError.h"

#include <QFile>
#include <QFileInfo>

namespace merge {

const QString NothingMerged = QStringLiteral("nothing was merged");

namespace {

bool isSqliteFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && file.read(16) == QByteArray("SQLite format 3\0", 16);
}

// Whether UTF-8 text may hold a character the table refuses: a control character, or
// one of the line breaks U+0085, U+2028 and U+2029.
bool mayBeRefused(std::string_view text)
{
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7f || c == 0xc2 || c == 0xe2)
            return true;
    }
    return false;
}

// How many records pass between two looks at the cancel flag.
constexpr int CancelCheckEvery = 4096;

} // namespace

void Keys::make(std::string_view address, std::string_view paperName, std::string_view country)
{
    AddressKey::make(address, url, scratch);

    name.clear();
    paperName = AddressKey::trimmed(paperName);
    if (!paperName.empty()) {
        AddressKey::appendFolded(paperName, name);
        name += '\x1f';
        AddressKey::appendFolded(AddressKey::trimmed(country), name);
    }
}

QString where(const RecordSet& set, int i, const char* source)
{
    const RecordSet::Rec& rec = set[static_cast<size_t>(i)];
    return rec.line > 0 ? QStringLiteral("line %1 of %2").arg(rec.line).arg(QLatin1String(source))
                        : QStringLiteral("No %1 of %2").arg(rec.no).arg(QLatin1String(source));
}

QString differences(const RecordTexts& from, const RecordTexts& to)
{
    QStringList parts;
    for (int i = 0; i < Field::TextCount; ++i) {
        const QString& a = from[static_cast<size_t>(i)];
        const QString& b = to[static_cast<size_t>(i)];
        if (a != b) {
            parts << QStringLiteral("%1: %2 -> %3")
                         .arg(QLatin1String(Field::columnNames()[i + 1]), a.isEmpty() ? QStringLiteral("(blank)") : a,
                              b.isEmpty() ? QStringLiteral("(blank)") : b);
        }
    }
    return parts.join(QStringLiteral("; "));
}

RecordSet readSource(const QString& path, const Progress& progress)
{
    if (!QFileInfo(path).isFile()) {
        throw AppError(QFileInfo::exists(path) ? QStringLiteral("Cannot read %1: it is not a file").arg(path)
                                               : QStringLiteral("Cannot read %1: the file does not exist").arg(path));
    }
    RecordSet set;
    Keys keys;
    std::array<std::string_view, Field::TextCount> texts;
    if (isSqliteFile(path)) {
        sqlite::Database db(path, sqlite::Database::Mode::ReadOnly);
        TableSchema::verify(db);
        sqlite::Statement st(db, "SELECT No, Name, Url, Country, State, City, Category FROM newspapers ORDER BY No");
        while (st.step()) {
            if (set.size() % CancelCheckEvery == 0)
                progress.checkCancelled();
            for (int i = 0; i < Field::TextCount; ++i)
                texts[static_cast<size_t>(i)] = st.text(i + 1);
            if (std::any_of(texts.begin(), texts.end(), mayBeRefused)) {
                RecordTexts check;
                for (int i = 0; i < Field::TextCount; ++i)
                    check[static_cast<size_t>(i)] = st.string(i + 1);
                if (const QString reason = CsvRecords::refusal(check); !reason.isEmpty()) {
                    throw AppError(
                        QStringLiteral("%1, No %2: %3; %4").arg(path).arg(st.int64(0)).arg(reason, NothingMerged));
                }
            }
            keys.make(texts[Field::Url - 1], texts[Field::Name - 1], texts[Field::Country - 1]);
            set.add(st.int64(0), 0, texts, keys);
        }
        return set;
    }
    CsvRecords::read(path, NothingMerged, [&](CsvRecords::Row& row) {
        if (set.size() % CancelCheckEvery == 0)
            progress.checkCancelled();
        std::array<QByteArray, Field::TextCount> utf8;
        for (size_t i = 0; i < utf8.size(); ++i) {
            utf8[i] = row.text[i].toUtf8();
            texts[i] = std::string_view(utf8[i].constData(), static_cast<size_t>(utf8[i].size()));
        }
        keys.make(texts[Field::Url - 1], texts[Field::Name - 1], texts[Field::Country - 1]);
        set.add(row.no, row.line, texts, keys);
    });
    return set;
}

RecordSet readRelevant(sqlite::Database& db, const HashFilter& wanted, qint64& highest, const Progress& progress)
{
    RecordSet relevant;
    highest = 0;
    Keys keys;
    std::array<std::string_view, Field::TextCount> texts;
    sqlite::Statement st(db, "SELECT No, Name, Url, Country, State, City, Category FROM newspapers ORDER BY No");
    for (qint64 read = 1; st.step(); ++read) {
        if (read % CancelCheckEvery == 0)
            progress.checkCancelled();
        const qint64 no = st.int64(0);
        highest = std::max(highest, no);
        for (int i = 0; i < Field::TextCount; ++i)
            texts[static_cast<size_t>(i)] = st.text(i + 1);
        keys.make(texts[Field::Url - 1], texts[Field::Name - 1], texts[Field::Country - 1]);
        if (wanted.contains(hashOf(keys.url)) || wanted.contains(hashOf(keys.name)))
            relevant.add(no, 0, texts, keys);
    }
    return relevant;
}

} // namespace merge
