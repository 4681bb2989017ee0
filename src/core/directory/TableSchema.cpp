#include "directory/TableSchema.h"

#include "directory/Record.h"
#include "errors/AppError.h"

namespace TableSchema {

const std::array<IndexDef, 6>& indexes()
{
    static const std::array<IndexDef, 6> defs = {{{"Name1", Field::Name},
                                                  {"Country1", Field::Country},
                                                  {"State1", Field::State},
                                                  {"City1", Field::City},
                                                  {"Category1", Field::Category},
                                                  {"URL1", Field::Url}}};
    return defs;
}

RecordInserter::RecordInserter(sqlite::Database& db)
    : m_statement(db, "INSERT INTO newspapers (No, Name, Url, Country, State, City, Category, Reserved1, Reserved2, "
                      "Reserved3) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, '0', 0, 0)")
{
}

void RecordInserter::insert(qint64 no, const std::array<QByteArray, 6>& utf8Texts)
{
    m_statement.reset();
    m_statement.bind(1, no);
    for (int i = 0; i < Field::TextCount; ++i) {
        const QByteArray& text = utf8Texts[static_cast<size_t>(i)];
        if (text.isEmpty())
            m_statement.bindNull(i + 2);
        else
            m_statement.bind(i + 2, text);
    }
    m_statement.run();
}

void RecordInserter::insert(qint64 no, const std::array<QString, 6>& texts)
{
    std::array<QByteArray, 6> utf8;
    for (size_t i = 0; i < utf8.size(); ++i)
        utf8[i] = texts[i].toUtf8();
    insert(no, utf8);
}

void createTable(sqlite::Database& db)
{
    db.exec("CREATE TABLE newspapers (\n"
            "  No INTEGER PRIMARY KEY,\n"
            "  Name TEXT, Url TEXT, Country TEXT, State TEXT, City TEXT, Category TEXT,\n"
            "  Reserved1 TEXT, Reserved2 INTEGER, Reserved3 INTEGER\n"
            ")");
}

void createIndexes(sqlite::Database& db)
{
    // NOCASE makes these indexes useful to other SQLite tools; the program builds its
    // own Unicode-aware orders in memory.
    QByteArray sql = "BEGIN;\n";
    for (const IndexDef& def : indexes()) {
        sql += QByteArray("CREATE INDEX ") + def.name + " ON newspapers (" + Field::columnNames()[def.position] +
               " COLLATE NOCASE);\n";
    }
    sql += "COMMIT;\n";
    db.exec(sql.constData());
}

void create(sqlite::Database& db)
{
    createTable(db);
    createIndexes(db);
}

QStringList problems(sqlite::Database& db)
{
    QStringList found;
    {
        sqlite::Statement st(db, "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = ?1");
        st.bind(1, QByteArray(TableName));
        if (!st.step() || st.int64(0) == 0) {
            found << QStringLiteral("the table \"%1\" is missing").arg(QLatin1String(TableName));
            return found;
        }
    }

    // Columns by position: their names and the primary key.
    std::vector<QString> names;
    bool noIsKey = false;
    {
        sqlite::Statement st(db, "SELECT name, type, pk FROM pragma_table_info(?1) ORDER BY cid");
        st.bind(1, QByteArray(TableName));
        while (st.step()) {
            names.push_back(st.string(0));
            if (names.size() == 1)
                noIsKey = st.int64(2) == 1 && st.string(1).compare(QLatin1String("INTEGER"), Qt::CaseInsensitive) == 0;
        }
    }
    for (int pos = 0; pos < Field::Count; ++pos) {
        const QLatin1String expected(Field::columnNames()[pos]);
        if (pos >= static_cast<int>(names.size())) {
            found << QStringLiteral("the column \"%1\" is missing").arg(expected);
        } else if (names[pos].compare(expected, Qt::CaseInsensitive) != 0) {
            found << QStringLiteral("column %1 is \"%2\" where \"%3\" is expected").arg(pos).arg(names[pos], expected);
        }
    }
    if (!names.empty() && !noIsKey)
        found << QStringLiteral("the column \"No\" is not the INTEGER PRIMARY KEY");

    for (const IndexDef& def : indexes()) {
        sqlite::Statement st(db, "SELECT i.name FROM sqlite_master m, pragma_index_info(m.name) i "
                                 "WHERE m.type = 'index' AND m.name = ?1 AND m.tbl_name = ?2 ORDER BY i.seqno");
        st.bind(1, QByteArray(def.name));
        st.bind(2, QByteArray(TableName));
        if (!st.step()) {
            found << QStringLiteral("the index \"%1\" is missing").arg(QLatin1String(def.name));
        } else if (st.string(0).compare(QLatin1String(Field::columnNames()[def.position]), Qt::CaseInsensitive) != 0) {
            found << QStringLiteral("the index \"%1\" does not order by %2")
                         .arg(QLatin1String(def.name), QLatin1String(Field::columnNames()[def.position]));
        }
    }
    return found;
}

void verify(sqlite::Database& db)
{
    const QStringList list = problems(db);
    if (!list.isEmpty()) {
        throw EngineError(
            QStringLiteral("Cannot open %1: it is not a directory table (%2)").arg(db.path(), list.first()));
    }
}

} // namespace TableSchema
