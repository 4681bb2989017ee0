// The orders by text: the table's orders and OrderSort's radix sort by the collation's
// first level, against ICU's own comparison of the texts.

#include "CoreTestSupport.h"

#include "datatool/Generator.h"
#include "directory/OrderSort.h"
#include "directory/Sqlite.h"
#include "directory/Table.h"
#include "directory/TableFile.h"

#include <QFile>
#include <QtTest>
#include <algorithm>
#include <random>
#include <string>
#include <unicode/ucol.h>
#include <unicode/ustring.h>
#include <vector>

class TestOrder : public QObject
{
    Q_OBJECT

private slots:
    void ordersFollowTheInternationalCollation();
    void radixOrderMatchesAReferenceSort();
    void firstLevelSortMatchesTheCollatorOnEveryPath();
};

namespace {

// The text as ICU's keys take it: UTF-16 with U+FFFD for bytes that are not UTF-8.
std::u16string utf16(std::string_view utf8)
{
    std::u16string out(utf8.size() + 1, u'\0');
    int32_t length = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strFromUTF8WithSub(reinterpret_cast<UChar*>(out.data()), static_cast<int32_t>(out.size()), &length, utf8.data(),
                         static_cast<int32_t>(utf8.size()), 0xFFFD, nullptr, &status);
    out.resize(U_SUCCESS(status) ? static_cast<std::size_t>(length) : 0);
    return out;
}

QStringList names(Table& table)
{
    QStringList list;
    for (int row = 0; row < table.recordCount(); ++row)
        list << table.displayText(row, Field::Name);
    return list;
}

} // namespace

void TestOrder::ordersFollowTheInternationalCollation()
{
    // Accented letters with their base letter, then by mark, then by case; blanks first;
    // equal names by number.
    TempProgramFolder folder;
    const QStringList written = {"Ziarul",  "Última", "b",      "Új Szó",  "Svenska", "Östersunds", "Élet",
                                 "",        "Åbo",    "a",      "Äripäev", "Ámbito",  "B",          "Sächsische",
                                 "Strasse", "Straße", "Москва", "москва",  "Αθήνα",   "Ziarul",     "ÁMBITO"};
    std::vector<Row> rows;
    for (int i = 0; i < written.size(); ++i)
        rows.push_back({i + 1, written[i], "", "", "", "", ""});
    folder.makeTable(rows);
    Table table;
    table.setFileName(folder.tablePath());
    table.open();
    table.setOrder(Field::Name);
    QCOMPARE(names(table),
             (QStringList{"",       "a",      "Åbo",        "Ámbito",     "ÁMBITO",  "Äripäev", "b",
                          "B",      "Élet",   "Östersunds", "Sächsische", "Strasse", "Straße",  "Svenska",
                          "Új Szó", "Última", "Ziarul",     "Ziarul",     "Αθήνα",   "москва",  "Москва"}));
    QCOMPARE(table.displayText(16, Field::No), QStringLiteral("1")); // the two Ziarul by number
    QCOMPARE(table.displayText(17, Field::No), QStringLiteral("20"));

    // Against the collation library itself, on names in a dozen scripts, the starter
    // directory and generated names; each order compared with the library's own
    // comparison of the texts, ties by number.
    // "Café" written precomposed and with a combining accent: equal for the collation.
    QStringList texts = {
        "Café",     "Cafe\u0301", "東京新聞", "朝日新聞",   "Ελευθεροτυπία", "Καθημερινή", "Правда",   "Ведомости",
        "الأهرام",  "הארץ",       "Haaretz",  "दैनिक जागरण", "ไทยรัฐ",         "조선일보",   "Հայաստան", "საქართველო",
        "ゆうゆう", "Ω",          "ω",        "Ωmega",      "örnek",         "ÖRNEK",      "Orn",      "Ørsted",
        "Œuvre",    "Oeuvre",     "co-op",    "co op",      "coop",          "Coop",       "1st",      "10th",
        "2nd",      "_under",     "-dash",    ".dot",       "'quote"};
    QFile starter(QStringLiteral(KESTROVE_STARTER_CSV));
    QVERIFY(starter.open(QIODevice::ReadOnly));
    for (const QByteArray& line : starter.readAll().split('\n'))
        texts << QString::fromUtf8(line.left(80));
    Generator generator(7);
    for (int i = 0; i < 3000; ++i) {
        const RecordTexts record = generator.next();
        texts << record[0] << record[1];
    }
    rows.clear();
    for (int i = 0; i < texts.size(); ++i)
        rows.push_back({i + 1, texts[i], texts[(i * 7919) % texts.size()], texts[i % 60], "", "", ""});
    folder.makeTable(rows);
    table.close();
    table.open();
    UErrorCode status = U_ZERO_ERROR;
    UCollator* reference = ucol_open("", &status);
    QVERIFY(U_SUCCESS(status));
    // Country has few different texts, so its order is built by ranking them.
    for (const Field::Position position : {Field::Name, Field::Url, Field::Country}) {
        table.setOrder(position);
        for (int row = 1; row < table.recordCount(); ++row) {
            const QString a = table.displayText(row - 1, position);
            const QString b = table.displayText(row, position);
            const UCollationResult order =
                ucol_strcoll(reference, reinterpret_cast<const UChar*>(a.utf16()), static_cast<int32_t>(a.size()),
                             reinterpret_cast<const UChar*>(b.utf16()), static_cast<int32_t>(b.size()));
            const bool numbered =
                table.displayText(row - 1, Field::No).toLongLong() < table.displayText(row, Field::No).toLongLong();
            QVERIFY2(order == UCOL_LESS || (order == UCOL_EQUAL && numbered),
                     qPrintable(QStringLiteral("%1 | %2").arg(a, b)));
        }
    }
    ucol_close(reference);
}

void TestOrder::radixOrderMatchesAReferenceSort()
{
    // Long shared prefixes, duplicates, accents and blanks exercise every path of the sort.
    TempProgramFolder folder;
    folder.makeTable();
    std::mt19937 random(42);
    const QStringList parts = {"the ", "The ", "daily ",   "DAILY ", "é",
                               "É",    "news", "Zeitung ", "a",      "",
                               "Über", "über", "Ωmega",    "ωmega",  "the daily news of the world ",
                               "ß"};
    std::vector<Row> rows;
    for (int no = 1; no <= 6000; ++no) {
        QString name;
        const int pieces = static_cast<int>(random() % 6);
        for (int i = 0; i < pieces; ++i)
            name += parts[static_cast<int>(random() % parts.size())];
        if (random() % 2) // more different names than a ranking takes
            name += QString::number(random() % 4000);
        rows.push_back({no, name, "", name.left(3), "", "", ""});
    }
    insertRows(folder.tablePath(), rows);

    sqlite::Database db(folder.tablePath(), sqlite::Database::Mode::ReadWrite);
    const TableFile::ReadLock lock(db);
    RecordStore store;
    TableFile::loadAll(db, folder.tablePath(), TableFile::readStamp(db, folder.tablePath()), store);
    // Keyed all at once, and in buckets of a few records each.
    for (const std::size_t bucketsFrom : {std::size_t(1) << 30, std::size_t(100)})
        for (const int position : {Field::Name, Field::Country}) {
            OrderSort::setBucketSortMinimum(bucketsFrom);
            std::vector<RecordStore::Slot> sorted = OrderSort::byNumber(store);
            std::vector<RecordStore::Slot> reference = sorted;
            OrderSort::sortByText(sorted, store, position);
            OrderSort::setBucketSortMinimum(std::size_t(1) << 18);
            std::stable_sort(reference.begin(), reference.end(), [&](auto a, auto b) {
                return OrderSort::key(store, a, position) < OrderSort::key(store, b, position);
            });
            QVERIFY(sorted == reference);
            for (size_t i = 1; i < sorted.size(); ++i)
                QVERIFY(OrderSort::compare(store, position, sorted[i - 1], sorted[i]) < 0);
        }
}

void TestOrder::firstLevelSortMatchesTheCollatorOnEveryPath()
{
    // Pieces that take every path: letters and digits of one-byte weight, punctuation of
    // two, Greek and CJK of longer weights that 8-byte reads split, accents and case
    // that only whole keys tell apart, "l·" (the dot maps otherwise after an l), и with
    // a combining breve (a contraction, also across another mark), a lone combining
    // mark, a character past the BMP, an ignorable soft hyphen, a long expansion, bytes
    // that are not UTF-8.
    std::vector<std::string> pieces;
    const std::string joined = "the |The |a|b|z|1|10|-|/|:|.| |daily news of the world |"
                               "é|É|e\xcc\x81|ß|ss|Ärztliche|ŁÓDŹ|Ω|ω|Καθημερινή|東京|서울|"
                               "l·l|L·|l|и|и\xcc\x86|и\xcc\x96\xcc\x86|й|\xcc\x88|"
                               "😀|\xc2\xad|\xef\xb7\xba|\xef\xbf\xbd|\xff|\xc3";
    for (std::size_t from = 0, bar; from <= joined.size(); from = bar + 1) {
        bar = std::min(joined.find('|', from), joined.size());
        pieces.push_back(joined.substr(from, bar - from));
    }
    std::mt19937 random(11);
    RecordStore store;
    constexpr int Records = 8000; // more different texts than are ranked, so the radix sort takes them
    for (int no = 1; no <= Records; ++no) {
        std::string text;
        for (int i = static_cast<int>(random() % 7); i > 0; --i)
            text += pieces[random() % pieces.size()];
        if (no % 13 == 0) // keys that agree far beyond the depths where equal texts are looked for
            text = std::string(300, 'x') + text;
        else if (no % 7 == 0) // keys that agree up to the middle of their third 8 bytes
            text = "same first twenty " + text;
        RecordStore::ExactTexts texts{};
        if (no % 50 != 0) // a blank now and then, and empty texts when no piece was drawn
            texts[0] = text;
        store.addExact(no, texts);
    }
    UErrorCode status = U_ZERO_ERROR;
    UCollator* collator = ucol_open("", &status);
    QVERIFY(U_SUCCESS(status));
    // Sorted on one core; split into buckets by a sample's keys, one bucket's items at a
    // time; and with every record's item at once, split by the keys' leading bytes.
    for (const std::size_t bucketsFrom : {std::size_t(1) << 30, std::size_t(1024), std::size_t(64)}) {
        OrderSort::setBucketSortMinimum(bucketsFrom);
        std::vector<RecordStore::Slot> sorted = OrderSort::byNumber(store);
        OrderSort::sortByText(sorted, store, Field::Name);
        OrderSort::setBucketSortMinimum(std::size_t(1) << 16);
        QCOMPARE(sorted.size(), std::size_t(Records));
        // Blanks first, then by the collator, equal texts by number.
        for (std::size_t i = 1; i < sorted.size(); ++i) {
            const auto a = store.text(sorted[i - 1], Field::Name);
            const auto b = store.text(sorted[i], Field::Name);
            const bool numbered = store.no(sorted[i - 1]) < store.no(sorted[i]);
            if (!a || !b) {
                QVERIFY(!a && (b || numbered));
                continue;
            }
            const std::u16string a16 = utf16(*a);
            const std::u16string b16 = utf16(*b);
            const UCollationResult order =
                ucol_strcoll(collator, reinterpret_cast<const UChar*>(a16.data()), static_cast<int32_t>(a16.size()),
                             reinterpret_cast<const UChar*>(b16.data()), static_cast<int32_t>(b16.size()));
            QVERIFY2(order == UCOL_LESS || (order == UCOL_EQUAL && numbered),
                     qPrintable(QStringLiteral("%1 before %2")
                                    .arg(QString::fromStdU16String(a16), QString::fromStdU16String(b16))));
        }
    }
    ucol_close(collator);

    // A record placed by binary search with a probe of its own text lands exactly where
    // the order has it: the probe orders as the whole keys do, on every path.
    std::vector<RecordStore::Slot> sorted = OrderSort::byNumber(store);
    OrderSort::sortByText(sorted, store, Field::Name);
    for (std::size_t i = 0; i < sorted.size(); i += 3) {
        const OrderSort::Probe probe(store.text(sorted[i], Field::Name), store.no(sorted[i]));
        const auto at = std::lower_bound(sorted.begin(), sorted.end(), 0, [&](RecordStore::Slot a, int) {
            return probe.compareWith(store, Field::Name, a) < 0;
        });
        QCOMPARE(static_cast<std::size_t>(at - sorted.begin()), i);
    }

    // The first records of the order, told before the rest is sorted, are its first rows,
    // past the blanks and empty texts too; the sort then finished is the whole order.
    for (const std::size_t count : {std::size_t(1), std::size_t(37), std::size_t(1500), std::size_t(3000)}) {
        OrderSort::TextSort begun(OrderSort::byNumber(store), store, Field::Name);
        const auto first = begun.first(count, Records);
        QVERIFY(first);
        QCOMPARE(*first, std::vector<RecordStore::Slot>(sorted.begin(), sorted.begin() + count));
        QCOMPARE(begun.finish(), sorted);
    }
}

QTEST_GUILESS_MAIN(TestOrder)
#include "test_order.moc"
