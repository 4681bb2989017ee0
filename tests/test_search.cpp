// The search rule, Search and Show All, the Enter key in the criteria, and both kinds of sort.

#include "TestSupport.h"

#include "commands/CommandQueue.h"
#include "directory/CaseFold.h"
#include "directory/RecordStore.h"
#include "directory/Table.h"
#include "grid/DirectoryGrid.h"
#include "mainwindow/MainWindow.h"
#include "search/SearchFilter.h"
#include "work/BackgroundWork.h"

#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QSignalSpy>
#include <QToolButton>
#include <QtTest>
#include <future>
#include <random>

namespace {

const std::vector<Row> Papers = {
    {1, "The Times", "https://www.thetimes.co.uk/", "United Kingdom", "", "London", ""},
    {2, "Le Monde", "https://www.lemonde.fr/", "France", "", "Paris", ""},
    {3, "Le Figaro", "https://www.lefigaro.fr/", "France", "", "Paris", "Politics"},
    {4, "Sahel Dimanche", "https://www.sahel.ne/", "Niger", "", "Niamey", ""},
    {5, "The Punch", "https://punchng.com/", "Nigeria", "Lagos", "Lagos", ""},
    {6, "Nameless", "https://nameless.example.com/", "", "", "", ""},
    {7, "Tallahassee Democrat", "https://www.tallahassee.com/", "United States", "FL", "Tallahassee", ""},
    {8, "Financial Times", "https://www.ft.com/", "United Kingdom", "", "London", "Business"},
};

QStringList names(MainWindow& form)
{
    QStringList list;
    for (int row = 0; row < form.table().recordCount(); ++row)
        list << form.table().displayText(row, Field::Name);
    return list;
}

QString current(MainWindow& form)
{
    return form.table().field(Field::Name).asString();
}

} // namespace

class TestSearch : public QObject
{
    Q_OBJECT

private slots:
    void ruleMatchesActiveCriteriaInAnyCase_data();
    void ruleMatchesActiveCriteriaInAnyCase();
    void everyActiveCriterionMustOccur();
    void fastPathsAgreeWithUnicodeLowerCasing();
    void init();
    void cleanup();
    void searchNarrowsAndShowAllRestores();
    void criteriaAreReadAtEachReRead();
    void noMatchLeavesNoCurrentRecord();
    void menuSortKeepsRecordAndFilter();
    void titleClickEndsOnFirstRecordAndKeepsFilter();
    void enterStepsThroughCriteriaWithoutSearching();
    void longWorkRunsBesideTheWindow();
    void commandsGivenDuringWorkRunInOrderAfterIt();

private:
    std::unique_ptr<TestPlatform> t;
    std::unique_ptr<MainWindow> form;
};

void TestSearch::ruleMatchesActiveCriteriaInAnyCase_data()
{
    QTest::addColumn<QString>("criterion");
    QTest::addColumn<QString>("field"); // "<blank>" for a blank field
    QTest::addColumn<bool>("passes");
    auto row = [](const char* tag, const char* criterion, const char* field, bool passes) {
        QTest::newRow(tag) << QString::fromUtf8(criterion) << QString::fromUtf8(field) << passes;
    };
    row("All is inactive", "All", "Anything", true);
    row("All lets blanks through", "All", "<blank>", true);
    row("empty is inactive", "", "<blank>", true);
    row("lower-case all is active", "all", "Tallahassee", true);
    row("lower-case all rejects", "all", "FL", false);
    row("ALL is active", "ALL", "Small Town", true);
    row("All with a blank is active", " All", "All", false);
    row("All with a blank matches inside", "All ", "All News", true);
    row("upper-case criterion", "TIMES", "The New York Times", true);
    row("lower-case field", "Times", "the sunday times", true);
    row("accented capital", "é", "ÉCLAIR", true);
    row("accented both ways", "ÖRNEK", "örnek gazete", true);
    row("cedilla and tilde", "ÇAĞ", "Yeni çağ", true);
    row("Polish", "ŁÓDŹ", "Dziennik Łódzki łódź", true);
    row("Cyrillic", "МОСКВА", "Вечерняя Москва", true);
    row("Greek", "ΚΑΘΗΜΕΡΙΝΉ", "Η Καθημερινή", true);
    row("Greek accents are not removed", "ΚΑΘΗΜΕΡΙΝΗ", "Η Καθημερινή", false);
    row("accents are not removed", "e", "É", false);
    row("Niger keeps Nigeria", "Niger", "Nigeria", true);
    row("Guinea in Papua new Guinea", "Guinea", "Papua new Guinea", true);
    row("Guinea in Guinea-Bissau", "Guinea", "Guinea-Bissau", true);
    row("united", "united", "United Arab Emirates", true);
    row("two words together", "New York", "The New York Post", true);
    row("two words with other blanks", "New York", "New  York", false);
    row("one blank needs a blank", " ", "NewYork", false);
    row("one blank", " ", "New York", true);
    row("leading blank not at start", " Times", "Times Union", false);
    row("leading blank inside", " Times", "The Times", true);
    row("no wildcard star", "T*s", "Times", false);
    row("percent is itself", "100%", "100% News", true);
    row("question mark is itself", "?", "Why", false);
    row("blank field rejects an active criterion", "France", "<blank>", false);
    row("empty text rejects an active criterion", "France", "", false);
}

void TestSearch::ruleMatchesActiveCriteriaInAnyCase()
{
    QFETCH(QString, criterion);
    QFETCH(QString, field);
    QFETCH(bool, passes);
    // The same rule for each of the six criteria and their fields.
    const int positions[] = {1, 3, 4, 5, 6, 2};
    for (int i = 0; i < 6; ++i) {
        RecordStore store;
        std::array<QByteArray, Field::TextCount> texts;
        for (QByteArray& text : texts)
            text = "something";
        texts[static_cast<size_t>(positions[i] - 1)] =
            field == QLatin1String("<blank>") ? QByteArray() : field.toUtf8();
        const auto slot = store.add(1, texts);
        if (field.isEmpty()) // an empty text as another tool may have stored it
            store.replaceTexts(slot, {});
        SearchCriteria criteria{"All", "All", "All", "All", "All", "All"};
        QString* fields[] = {&criteria.name, &criteria.country,  &criteria.state,
                             &criteria.city, &criteria.category, &criteria.web};
        *fields[i] = criterion;
        QCOMPARE(SearchFilter(criteria).accept(store, slot), passes);
    }
}

void TestSearch::everyActiveCriterionMustOccur()
{
    RecordStore store;
    const auto blankState =
        store.add(1, {"Tallahassee Democrat", "https://x.com/", "United States", "", "Tallahassee", ""});
    const auto both =
        store.add(2, {"Tallahassee Democrat", "https://x.com/", "United States", "FL", "Tallahassee", ""});
    SearchCriteria criteria{"All", "All", "FL", "Tallahassee", "All", "All"};
    const SearchFilter filter(criteria);
    QVERIFY(!filter.accept(store, blankState)); // a blank State no longer lets the record through
    QVERIFY(filter.accept(store, both));
    criteria.city = QStringLiteral("Miami");
    QVERIFY(!SearchFilter(criteria).accept(store, both));
    QVERIFY(SearchFilter(criteria).sameAs(SearchFilter(criteria)));
    QVERIFY(!SearchFilter(criteria).sameAs(filter));
}

void TestSearch::fastPathsAgreeWithUnicodeLowerCasing()
{
    // Random texts from pieces that stress the shortcuts: ASCII, accented and
    // non-Latin letters, the Kelvin sign and the dotted capital I (which lower to
    // ASCII letters), and bytes that are not UTF-8.
    const QStringList pieces = {"a",
                                "A",
                                "k",
                                "K",
                                QString(QChar(0x212A)),
                                "i",
                                "I",
                                QString(QChar(0x130)),
                                "é",
                                "É",
                                "ß",
                                "Σ",
                                "σ",
                                "Ж",
                                "ж",
                                "Ǆ",
                                " ",
                                "-",
                                "Times",
                                "TIMES",
                                "ÉCOLE",
                                "école",
                                "Ⱥ",
                                "ⱥ",
                                "𝐀"};
    std::mt19937 random(7);
    auto text = [&](int most) {
        QString t;
        const int n = static_cast<int>(random() % static_cast<unsigned>(most + 1));
        for (int i = 0; i < n; ++i)
            t += pieces[static_cast<int>(random() % pieces.size())];
        return t;
    };
    for (int round = 0; round < 3000; ++round) {
        const QString field = text(12);
        QString criterion = text(3);
        if (!SearchFilter::isActive(criterion))
            criterion = QStringLiteral("k");
        QCOMPARE(QByteArray::fromStdString(CaseFold::fold(field)), field.toLower().toUtf8());
        RecordStore store;
        std::array<QByteArray, Field::TextCount> texts;
        texts[0] = field.toUtf8();
        const auto slot = store.add(1, texts);
        const bool expected = !field.isEmpty() && field.toLower().contains(criterion.toLower());
        QVERIFY2(SearchFilter({criterion, "All", "All", "All", "All", "All"}).accept(store, slot) == expected,
                 qPrintable(field + QStringLiteral(" / ") + criterion));
    }
    // Bytes that are not UTF-8 stand for themselves.
    QCOMPARE(QByteArray::fromStdString(CaseFold::fold(std::string_view("AB\xE9\xC3", 4))), QByteArray("ab\xE9\xC3"));
}

void TestSearch::init()
{
    t = std::make_unique<TestPlatform>();
    t->folder.makeTable(Papers);
    form = openWindow(t->platform);
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
}

void TestSearch::cleanup()
{
    form.reset();
    t.reset();
}

void TestSearch::searchNarrowsAndShowAllRestores()
{
    countryBox(*form)->setEditText(QStringLiteral("Niger"));
    QTest::mouseClick(searchButton(*form), Qt::LeftButton);
    QCOMPARE(names(*form), (QStringList{"Sahel Dimanche", "The Punch"}));
    QCOMPARE(form->table().currentRow(), 0);
    QCOMPARE(grid(*form)->currentIndex().row(), 0);

    countryBox(*form)->setEditText(QStringLiteral("france"));
    categoryBox(*form)->setEditText(QStringLiteral("POLITICS"));
    form->search();
    QCOMPARE(names(*form), QStringList{"Le Figaro"});

    grid(*form)->setFocus();
    QTest::mouseClick(showAllButton(*form), Qt::LeftButton);
    QCOMPARE(form->table().recordCount(), 8);
    QCOMPARE(current(*form), QStringLiteral("Financial Times"));
    QCOMPARE(countryBox(*form)->currentText(), QStringLiteral("france")); // criteria stay
    form->search();
    QCOMPARE(names(*form), QStringList{"Le Figaro"});

    for (QLineEdit* edit : {nameEdit(*form), stateEdit(*form), cityEdit(*form), webEdit(*form)})
        edit->clear();
    countryBox(*form)->setEditText(QString());
    categoryBox(*form)->setEditText(QString());
    form->search();
    QCOMPARE(form->table().recordCount(), 8); // empty criteria are inactive
}

void TestSearch::criteriaAreReadAtEachReRead()
{
    nameEdit(*form)->setText(QStringLiteral("times"));
    form->search();
    QCOMPARE(names(*form), (QStringList{"Financial Times", "The Times"}));
    nameEdit(*form)->setText(QStringLiteral("Le "));
    QCOMPARE(form->table().recordCount(), 2); // nothing changes by itself
    form->sortBy(Field::Country);             // a re-read judges by the new text
    QCOMPARE(names(*form), (QStringList{"Le Monde", "Le Figaro"}));
}

void TestSearch::noMatchLeavesNoCurrentRecord()
{
    webEdit(*form)->setText(QStringLiteral(".nowhere"));
    form->search();
    QCOMPARE(form->table().recordCount(), 0);
    QVERIFY(!form->table().hasCurrentRecord());
    QVERIFY(!grid(*form)->currentIndex().isValid());
    form->sortBy(Field::City); // a menu sort on an empty view: no error
    QVERIFY(t->boxes.shown.empty());
    QCOMPARE(form->table().order(), Field::City);
    form->showAll();
    QCOMPARE(form->table().recordCount(), 8);
    QCOMPARE(form->table().currentRow(), 0);
}

void TestSearch::menuSortKeepsRecordAndFilter()
{
    countryBox(*form)->setEditText(QStringLiteral("United"));
    form->search();
    QCOMPARE(names(*form), (QStringList{"Financial Times", "Tallahassee Democrat", "The Times"}));
    QVERIFY(form->table().locate(Field::Name, QStringLiteral("Tallahassee Democrat")));
    QSignalSpy resets(&form->table(), &Table::rowsReset);
    menuItem(*form, "sortByCityAction")->trigger();
    QCOMPARE(names(*form), (QStringList{"The Times", "Financial Times", "Tallahassee Democrat"})); // London by No
    QCOMPARE(current(*form), QStringLiteral("Tallahassee Democrat"));
    QCOMPARE(grid(*form)->currentIndex().row(), 2);
    QCOMPARE(resets.count(), 1);
    menuItem(*form, "popupSortByCityAction")->trigger(); // the same order from the pop-up menu
    QCOMPARE(resets.count(), 1);
    QCOMPARE(current(*form), QStringLiteral("Tallahassee Democrat"));
    menuItem(*form, "popupSortByWebAddressAction")->trigger();
    QCOMPARE(form->table().order(), Field::Url);
    QCOMPARE(names(*form), (QStringList{"Financial Times", "Tallahassee Democrat", "The Times"}));
    QCOMPARE(current(*form), QStringLiteral("Tallahassee Democrat"));
}

void TestSearch::titleClickEndsOnFirstRecordAndKeepsFilter()
{
    cityEdit(*form)->setText(QStringLiteral("a")); // Paris, Niamey, Lagos, Tallahassee
    form->search();
    QCOMPARE(form->table().recordCount(), 5);
    form->table().last();
    QHeaderView* titles = grid(*form)->horizontalHeader();
    auto click = [&](int column) {
        QTest::mouseClick(titles->viewport(), Qt::LeftButton, {},
                          QPoint(titles->sectionViewportPosition(column) + 10, titles->height() / 2));
    };
    click(5); // Web Address
    QCOMPARE(form->table().order(), Field::Url);
    QVERIFY(form->table().filtered());
    QCOMPARE(names(*form),
             (QStringList{"The Punch", "Le Figaro", "Le Monde", "Sahel Dimanche", "Tallahassee Democrat"}));
    QCOMPARE(form->table().currentRow(), 0);
    form->table().last();
    click(5); // the active order: still back to the top
    QCOMPARE(form->table().currentRow(), 0);
    QCOMPARE(grid(*form)->currentIndex().row(), 0);
    click(1);
    QCOMPARE(form->table().order(), Field::Country);
    QCOMPARE(current(*form), QStringLiteral("Le Monde")); // France, ties by number
}

void TestSearch::enterStepsThroughCriteriaWithoutSearching()
{
    QSignalSpy runs(&form->commands(), &CommandQueue::started);
    nameEdit(*form)->setFocus();
    nameEdit(*form)->setText(QStringLiteral("Times"));
    QTest::keyClick(nameEdit(*form), Qt::Key_Return);
    QCOMPARE(QApplication::focusWidget(), countryBox(*form));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Enter);
    QCOMPARE(QApplication::focusWidget(), stateEdit(*form));
    QTest::keyClick(stateEdit(*form), Qt::Key_M, Qt::ControlModifier); // a carriage return typed as a character
    QCOMPARE(QApplication::focusWidget(), cityEdit(*form));
    QCOMPARE(stateEdit(*form)->text(), QStringLiteral("All"));
    webEdit(*form)->setFocus();
    QTest::keyClick(webEdit(*form), Qt::Key_Return);
    QCOMPARE(QApplication::focusWidget(), favouritesBox(*form));
    QCOMPARE(runs.count(), 0);
    QVERIFY(!form->table().filtered());
    QCOMPARE(form->table().recordCount(), 8);
    QCOMPARE(countryBox(*form)->count(), 240); // Enter added no entry

    // F3 and F4 press the picture buttons from anywhere in the window.
    form->activateWindow();
    QTest::keyClick(form.get(), Qt::Key_F3);
    QCOMPARE(runs.last().first().toString(), QStringLiteral("search"));
    QCOMPARE(form->table().recordCount(), 2); // "Times"
    QTest::keyClick(form.get(), Qt::Key_F4);
    QCOMPARE(runs.last().first().toString(), QStringLiteral("showAll"));
    QCOMPARE(form->table().recordCount(), 8);
}

void TestSearch::longWorkRunsBesideTheWindow()
{
    // The window as the program runs it: building an order and reading another program's
    // changes happen off the window's thread, which shows the wait; a command given
    // meanwhile waits for it and then runs.
    form->table().setBackgroundWork(true);
    QSignalSpy runs(&form->commands(), &CommandQueue::started);
    emit grid(*form)->titleClicked(gridModel(*form)->columns()[5]); // Web Address: not built yet
    QVERIFY(form->table().busy());
    QVERIFY(QGuiApplication::overrideCursor() && QGuiApplication::overrideCursor()->shape() == Qt::WaitCursor);
    QTRY_VERIFY(!form->table().busy());
    QVERIFY(!QGuiApplication::overrideCursor());
    QCOMPARE(form->table().order(), Field::Url);
    QCOMPARE(form->table().displayText(0, Field::Url), QStringLiteral("https://nameless.example.com/"));
    QCOMPARE(form->table().currentRow(), 0);

    insertRows(t->folder.tablePath(), {{9, "Aaa Tribune", "https://aaa.example.com/", "", "", "", ""}});
    form->showAll(); // Show All reads the change
    QVERIFY(form->table().busy());
    QTRY_VERIFY(!form->table().busy());
    QCOMPARE(form->table().recordCount(), 9);
    QCOMPARE(form->table().displayText(0, Field::Name), QStringLiteral("Aaa Tribune"));
    QVERIFY(!QGuiApplication::overrideCursor());
}

void TestSearch::commandsGivenDuringWorkRunInOrderAfterIt()
{
    form->table().setBackgroundWork(true);
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    // Work the test holds open, as a long sort would be.
    std::promise<void> gate;
    std::shared_future<void> opened = gate.get_future().share();
    form->table().work().start({QStringLiteral("Sorting by Web Address")},
                               [opened](Progress& progress) -> BackgroundWork::Completion {
                                   progress.beginStep(0, 4);
                                   progress.setDone(1);
                                   opened.wait();
                                   return [] {};
                               });
    QSignalSpy runs(&form->commands(), &CommandQueue::started);
    emit grid(*form)->titleClicked(gridModel(*form)->columns()[1]); // Country, back to the top
    nameEdit(*form)->setText(QStringLiteral("Times"));
    QTest::mouseClick(searchButton(*form), Qt::LeftButton);
    nameEdit(*form)->setText(QStringLiteral("typed after the click"));
    QTest::mouseClick(readNowButton(*form), Qt::LeftButton);
    QTest::mouseClick(readNowButton(*form), Qt::LeftButton);
    QCOMPARE(runs.count(), 0);
    QCOMPARE(form->commands().waiting(), 4);

    // Long work says what it does and how far it is.
    const auto* indicator = form->findChild<QWidget*>(QStringLiteral("workIndicator"));
    QTRY_VERIFY(indicator->isVisible());
    QCOMPARE(form->findChild<QLabel*>(QStringLiteral("workText"))->text(),
             QStringLiteral("Sorting by Web Address\u2026"));
    QCOMPARE(form->findChild<QProgressBar*>(QStringLiteral("workProgress"))->value(), 250);

    gate.set_value();
    QTRY_COMPARE(form->commands().waiting(), 0);
    QTRY_VERIFY(!form->table().busy());
    QStringList order;
    for (const QList<QVariant>& run : runs)
        order << run.first().toString();
    QCOMPARE(order, (QStringList{"sortByColumnTitle", "search", "readNow", "readNow"}));
    // Country order, then "Times" as it read at the click; both in the United Kingdom, so
    // by number. Read Now twice opened the first of them twice.
    QCOMPARE(form->table().order(), Field::Country);
    QCOMPARE(names(*form), (QStringList{"The Times", "Financial Times"}));
    QCOMPARE(t->shell.opened, (std::vector<QString>{"https://www.thetimes.co.uk/", "https://www.thetimes.co.uk/"}));
    QVERIFY(!indicator->isVisible());
}

QTEST_MAIN(TestSearch)
#include "test_search.moc"
