// The orders by text: OrderSort's radix sort by the collation's first level, against
// ICU's own comparison of the texts.

#include "directory/OrderSort.h"

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

} // namespace

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
}

QTEST_GUILESS_MAIN(TestOrder)
#include "test_order.moc"
