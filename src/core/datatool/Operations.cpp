// The table file operations of DbTool.h; the command line that runs them is DbTool.cpp.

#include "datatool/Csv.h"
#include "datatool/CsvRecords.h"
#include "datatool/DbTool.h"
#include "datatool/Generator.h"
#include "datatool/OutputFile.h"
#include "directory/Record.h"
#include "directory/Sqlite.h"
#include "directory/TableSchema.h"
#include "errors/AppError.h"

#include <QDir>
#include <QFileInfo>
#include <QIODevice>
#include <algorithm>
#include <limits>

namespace DbTool {

namespace {

sqlite::Database openTable(const QString& dbPath)
{
    sqlite::Database db(dbPath, sqlite::Database::Mode::ReadWrite);
    TableSchema::verify(db);
    return db;
}

sqlite::Database createEmpty(const QString& dbPath, bool withIndexes = true)
{
    if (QFileInfo::exists(dbPath))
        throw AppError(QStringLiteral("%1 already exists; it is left as it is").arg(dbPath));
    const QString folder = QFileInfo(dbPath).absolutePath();
    if (!QDir().mkpath(folder))
        throw AppError(QStringLiteral("Cannot create the folder %1").arg(folder));
    sqlite::Database db(dbPath, sqlite::Database::Mode::Create);
    // Rollback journal, not WAL: a WAL database cannot even be read from a read-only folder.
    db.exec("PRAGMA journal_mode = DELETE");
    if (withIndexes)
        TableSchema::create(db);
    else
        TableSchema::createTable(db);
    return db;
}

// How many records pass between two looks at the cancel flag: often enough to stop
// within a blink, seldom enough to cost nothing.
constexpr qint64 CancelCheckEvery = 256;

// Large enough that a million records take few system calls.
constexpr qsizetype ExportChunk = 256 * 1024;

} // namespace

void create(const QString& dbPath)
{
    createEmpty(dbPath);
}

ImportSummary importCsv(const QString& dbPath, const QString& csvPath, Progress& progress)
{
    refuseOutputOnInput(dbPath, {csvPath});
    // Every record is read and checked before any is written, so a bad line changes nothing.
    progress.beginStep(0, 0);
    std::vector<CsvRecords::Row> rows;
    const bool withNo = CsvRecords::read(csvPath, QStringLiteral("nothing was imported"), [&](CsvRecords::Row& row) {
        rows.push_back(std::move(row));
        if (rows.size() % CancelCheckEvery == 0)
            progress.checkCancelled();
    });
    progress.checkCancelled();

    sqlite::Database db = openTable(dbPath);
    sqlite::Transaction transaction(db, true);
    qint64 next = 1;
    {
        sqlite::Statement highest(db, "SELECT max(No) FROM newspapers");
        if (highest.step() && !highest.isNull(0))
            next = highest.int64(0) + 1;
    }
    const auto total = static_cast<qint64>(rows.size());
    ImportSummary summary;
    summary.added = total;
    if (withNo) {
        sqlite::Statement exists(db, "SELECT 1 FROM newspapers WHERE No = ?1");
        qint64 looked = 0;
        for (const CsvRecords::Row& row : rows) {
            if (++looked % CancelCheckEvery == 0)
                progress.checkCancelled();
            exists.reset();
            exists.bind(1, row.no);
            if (exists.step()) {
                throw AppError(QStringLiteral("%1, line %2: No %3 is already in the table; nothing was imported")
                                   .arg(csvPath)
                                   .arg(row.line)
                                   .arg(row.no));
            }
        }
        const auto [lowest, highest] = std::minmax_element(
            rows.begin(), rows.end(), [](const CsvRecords::Row& a, const CsvRecords::Row& b) { return a.no < b.no; });
        if (total > 0) {
            summary.firstNo = lowest->no;
            summary.lastNo = highest->no;
        }
    } else if (next + total - 1 > std::numeric_limits<qint32>::max()) {
        throw AppError(QStringLiteral("%1: the records would be numbered beyond %2; nothing was imported")
                           .arg(csvPath)
                           .arg(std::numeric_limits<qint32>::max()));
    } else if (total > 0) {
        summary.firstNo = next;
        summary.lastNo = next + total - 1;
    }

    TableSchema::RecordInserter insert(db);
    progress.beginStep(1, total);
    for (qint64 i = 0; i < total; ++i) {
        const CsvRecords::Row& row = rows[static_cast<size_t>(i)];
        insert.insert(withNo ? row.no : next++, row.text);
        progress.setDone(i + 1);
        if (i % CancelCheckEvery == 0)
            progress.checkCancelled();
    }
    // The last look: a cancel that came at any time before the commit leaves the file as it was.
    progress.checkCancelled();
    transaction.commit();
    return summary;
}

ImportSummary importCsv(const QString& dbPath, const QString& csvPath)
{
    Progress progress;
    return importCsv(dbPath, csvPath, progress);
}

qint64 exportCsv(const QString& dbPath, QIODevice& out, Progress& progress)
{
    sqlite::Database db = openTable(dbPath);
    // The count and the records come from one state of the file.
    sqlite::Transaction snapshot(db);
    {
        sqlite::Statement count(db, "SELECT count(*) FROM newspapers");
        progress.beginStep(0, count.step() ? count.int64(0) : 0);
    }
    // Written in large pieces, each checked, so a full disk or a closed pipe is reported.
    QByteArray pending;
    auto flush = [&] {
        if (!pending.isEmpty() && out.write(pending) != pending.size())
            throw AppError(QStringLiteral("Cannot write the export: %1").arg(out.errorString()));
        pending.clear();
    };
    pending += Csv::formatRecord({QStringLiteral("No"), QStringLiteral("Name"), QStringLiteral("Url"),
                                  QStringLiteral("Country"), QStringLiteral("State"), QStringLiteral("City"),
                                  QStringLiteral("Category")});
    sqlite::Statement st(db, "SELECT No, Name, Url, Country, State, City, Category FROM newspapers ORDER BY No");
    QStringList fields;
    qint64 written = 0;
    while (st.step()) {
        fields.clear();
        fields << QString::number(st.int64(0));
        for (int i = 1; i <= Field::TextCount; ++i)
            fields << (st.isNull(i) ? QString() : st.string(i));
        pending += Csv::formatRecord(fields);
        if (pending.size() >= ExportChunk)
            flush();
        progress.setDone(++written);
        if (written % CancelCheckEvery == 0)
            progress.checkCancelled();
    }
    progress.checkCancelled();
    flush();
    return written;
}

qint64 exportCsv(const QString& dbPath, QIODevice& out)
{
    Progress progress;
    return exportCsv(dbPath, out, progress);
}

qint64 exportCsv(const QString& dbPath, const QString& csvPath, Progress& progress)
{
    refuseOutputOnInput(csvPath, {dbPath});
    OutputFile out(csvPath);
    out.open();
    const qint64 records = exportCsv(dbPath, out.device(), progress);
    if (!out.commit())
        throw AppError(QStringLiteral("Cannot write %1: %2").arg(csvPath, out.errorString()));
    return records;
}

qint64 exportCsv(const QString& dbPath, const QString& csvPath)
{
    Progress progress;
    return exportCsv(dbPath, csvPath, progress);
}

QStringList check(const QString& dbPath)
{
    sqlite::Database db(dbPath, sqlite::Database::Mode::ReadWrite);
    QStringList problems = TableSchema::problems(db);
    sqlite::Statement integrity(db, "PRAGMA integrity_check");
    while (integrity.step()) {
        const QString line = integrity.string(0);
        if (line != QLatin1String("ok"))
            problems << QStringLiteral("integrity check: %1").arg(line);
    }
    sqlite::Statement mode(db, "PRAGMA journal_mode");
    if (mode.step() && mode.string(0).compare(QLatin1String("wal"), Qt::CaseInsensitive) == 0)
        problems << QStringLiteral("the file is in WAL mode, which a read-only folder cannot read; "
                                   "run: sqlite3 FILE 'PRAGMA journal_mode=DELETE'");
    return problems;
}

void generate(const QString& dbPath, qint64 count, quint64 seed)
{
    Progress progress;
    generate(dbPath, count, seed, progress);
}

void generate(const QString& dbPath, qint64 count, quint64 seed, Progress& progress)
{
    if (count < 0 || count > std::numeric_limits<qint32>::max())
        throw AppError(
            QStringLiteral("The number of records must be from 0 to %1").arg(std::numeric_limits<qint32>::max()));
    // Indexing once at the end is far quicker than keeping six indexes up to date.
    sqlite::Database db = createEmpty(dbPath, false);
    db.exec("PRAGMA cache_size = -262144");
    {
        sqlite::Transaction transaction(db, true);
        TableSchema::RecordInserter insert(db);
        Generator generator(seed);
        progress.beginStep(0, count);
        for (qint64 no = 1; no <= count; ++no) {
            insert.insert(no, generator.next());
            progress.setDone(no);
        }
        transaction.commit();
    }
    TableSchema::createIndexes(db);
}

} // namespace DbTool
