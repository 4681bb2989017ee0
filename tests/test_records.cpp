// The record dialog and the add, modify and delete commands.

#include "TestSupport.h"

#include "dialogs/RecordDialog.h"
#include "directory/Sqlite.h"
#include "directory/Table.h"
#include "grid/DirectoryGrid.h"
#include "mainwindow/MainWindow.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>
#include <atomic>
#include <future>
#include <thread>

namespace {

const std::vector<Row> Papers = {
    {10, "Toronto Star", "https://www.thestar.com/", "Canada", "ON", "Toronto", ""},
    {57, "Globe", "https://www.theglobe.example.com/", "", "", "Toronto", "Business"},
    {20, "Le Devoir", "https://www.ledevoir.com/", "Canada", "QC", "Montreal", "Politics"},
};

QStringList texts(const RecordDialog& dialog)
{
    return {nameEdit(dialog)->text(), countryBox(dialog)->currentText(),  stateEdit(dialog)->text(),
            cityEdit(dialog)->text(), categoryBox(dialog)->currentText(), webEdit(dialog)->text()};
}

QString stored(const TestPlatform& t, qint64 no, const char* column)
{
    const QByteArray sql = QByteArray("SELECT ") + column + " FROM newspapers WHERE No = " + QByteArray::number(no);
    return queryValue(t.folder.tablePath(), sql.constData());
}

} // namespace

class TestRecords : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void dialogStandsAsDesigned();
    void modifyModeCopiesEachFieldOnItsOwn();
    void commandsBuildAFreshDialogEachTime();
    void addNumbersFromLastNumberAndStaysOpen();
    void addRefusesEmptyNameOnly();
    void addAsksAboutAKnownAddressAndTheGridShowsTheRecord();
    void deletingTheHighestRecordDoesNotLowerTheCounter();
    void modifyKeepsNameWhenEmptiedAndBlanksOthers();
    void modifiedRecordLeavesTheFilteredView();
    void deleteAsksAndRefreshesEitherWay();
    void emptyGridRefusesModifyAndDelete();
    void fieldsTakeNoLineBreaksAndKeepAnyText();
    void keysMoveFocusPressAddAndClose();
    void lockedTableReportsAndKeepsDialogOpen();
    void staleModifyIsRefusedAndTheGridCatchesUp();
    void modifyKeepsTheStoredBytesOfFieldsNotTouched();
    void addTellsTheTruthAtTheNumberLimit_data();
    void addTellsTheTruthAtTheNumberLimit();
    void lockShowsTheWaitCursorAndATitleClickRecovers();

private:
    std::unique_ptr<TestPlatform> t;
    std::unique_ptr<MainWindow> form;
    std::unique_ptr<RecordDialog> open(bool addMode)
    {
        auto dialog =
            std::make_unique<RecordDialog>(*form, addMode ? RecordDialog::Mode::Add : RecordDialog::Mode::Modify);
        dialog->show();
        return dialog;
    }
};

void TestRecords::init()
{
    t = std::make_unique<TestPlatform>();
    t->folder.makeTable(Papers);
    form = openWindow(t->platform);
}

void TestRecords::cleanup()
{
    form.reset();
    t.reset();
}

void TestRecords::dialogStandsAsDesigned()
{
    auto dialog = open(true);
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    QCOMPARE(dialog->size(), QSize(371, 224));
    QCOMPARE(dialog->windowTitle(), QStringLiteral("Add a New Record"));
    QCOMPARE(recordGroup(*dialog)->title(), QStringLiteral("Add Newspaper"));
    QCOMPARE(recordGroup(*dialog)->geometry(), QRect(8, 8, 353, 169));
    QCOMPARE(saveButton(*dialog)->text(), QStringLiteral("Add"));
    QCOMPARE(saveButton(*dialog)->geometry(), QRect(80, 192, 75, 25));
    QCOMPARE(cancelButton(*dialog)->text(), QStringLiteral("Cancel"));
    QCOMPARE(cancelButton(*dialog)->geometry(), QRect(224, 192, 75, 25));
    QVERIFY(saveButton(*dialog)->isDefault());
    const QRect fields[] = {{56, 28, 281, 21}, {56, 60, 121, 21}, {240, 60, 97, 21},
                            {56, 92, 121, 21}, {240, 92, 97, 21}, {56, 124, 281, 21}};
    const QWidget* controls[] = {nameEdit(*dialog), countryBox(*dialog),  stateEdit(*dialog),
                                 cityEdit(*dialog), categoryBox(*dialog), webEdit(*dialog)};
    for (int i = 0; i < 6; ++i)
        QCOMPARE(controls[i]->geometry(), fields[i]);
    const QPoint labels[] = {{8, 32}, {8, 64}, {200, 64}, {8, 96}, {184, 96}, {8, 128}};
    const QLabel* labelWidgets[] = {nameLabel(*dialog), countryLabel(*dialog),  stateLabel(*dialog),
                                    cityLabel(*dialog), categoryLabel(*dialog), webLabel(*dialog)};
    for (int i = 0; i < 6; ++i)
        QCOMPARE(labelWidgets[i]->pos(), labels[i]);
    QCOMPARE(texts(*dialog), (QStringList{"", "United States", "", "", "", ""}));
    QCOMPARE(countryBox(*dialog)->count(), 239);
    QCOMPARE(countryBox(*dialog)->itemText(0), QStringLiteral("United States"));
    QCOMPARE(countryBox(*dialog)->itemText(1), QStringLiteral("United Kingdom"));
    QCOMPARE(countryBox(*dialog)->itemText(2), QStringLiteral("Canada"));
    QCOMPARE(countryBox(*dialog)->itemText(3), QStringLiteral("Afghanistan"));
    QCOMPARE(countryBox(*dialog)->itemText(238), QStringLiteral("Zimbabwe"));
    QCOMPARE(categoryBox(*dialog)->count(), 7);
    QCOMPARE(categoryBox(*dialog)->itemText(0), QStringLiteral("City Guide"));
    QCOMPARE(categoryBox(*dialog)->itemText(6), QStringLiteral("Shopping"));
    QTRY_COMPARE(QApplication::focusWidget(), nameEdit(*dialog));
    const QWidget* order[] = {nameEdit(*dialog),    countryBox(*dialog), stateEdit(*dialog),  cityEdit(*dialog),
                              categoryBox(*dialog), webEdit(*dialog),    saveButton(*dialog), cancelButton(*dialog)};
    for (int i = 1; i < 8; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), order[i]);
    }
}

void TestRecords::modifyModeCopiesEachFieldOnItsOwn()
{
    QVERIFY(form->table().locate(Field::Name, QStringLiteral("Le Devoir")));
    auto full = open(false);
    QCOMPARE(full->windowTitle(), QStringLiteral("Modify a record"));
    QCOMPARE(recordGroup(*full)->title(), QStringLiteral("Modify Newspaper"));
    QCOMPARE(saveButton(*full)->text(), QStringLiteral("Modify"));
    QCOMPARE(texts(*full),
             (QStringList{"Le Devoir", "Canada", "QC", "Montreal", "Politics", "https://www.ledevoir.com/"}));

    QVERIFY(form->table().locate(Field::Name, QStringLiteral("Globe")));
    auto blanks = open(false);
    QCOMPARE(texts(*blanks),
             (QStringList{"Globe", "United States", "", "Toronto", "Business", "https://www.theglobe.example.com/"}));

    nameEdit(*form)->setText(QStringLiteral("no such paper"));
    form->search();
    auto none = open(false);
    QCOMPARE(none->windowTitle(), QStringLiteral("Modify a record"));
    QCOMPARE(texts(*none), (QStringList{"", "United States", "", "", "", ""}));
    QVERIFY(t->boxes.shown.empty());
}

void TestRecords::commandsBuildAFreshDialogEachTime()
{
    QStringList seen;
    auto record = [&](QWidget* modal) {
        auto* dialog = qobject_cast<RecordDialog*>(modal);
        QVERIFY(dialog);
        seen << dialog->windowTitle() + QLatin1Char('|') + nameEdit(*dialog)->text();
    };
    whenModalOpens(record);
    menuItem(*form, "modifyRecordAction")->trigger();
    whenModalOpens(record);
    menuItem(*form, "popupAddRecordAction")->trigger();
    QCOMPARE(seen, (QStringList{"Modify a record|Globe", "Add a New Record|"}));
    QCOMPARE(form->findChildren<RecordDialog*>().size(), 0); // destroyed when closed
}

void TestRecords::addNumbersFromLastNumberAndStaysOpen()
{
    QCOMPARE(form->lastNumber(), 57); // the last record in number order
    auto dialog = open(true);
    nameEdit(*dialog)->setText(QStringLiteral("Added"));
    QTest::mouseClick(saveButton(*dialog), Qt::LeftButton);
    QTest::keyClick(nameEdit(*dialog), Qt::Key_Return); // Enter presses Add again
    QVERIFY(dialog->isVisible());
    QCOMPARE(form->lastNumber(), 59);
    QCOMPARE(queryValue(t->folder.tablePath(), "SELECT group_concat(No || ':' || Name || ':' || Country || ':' || "
                                               "ifnull(State, 'blank') || ':' || ifnull(Url, 'blank'), ' ') "
                                               "FROM newspapers WHERE Name = 'Added'"),
             QStringLiteral("58:Added:United States:blank:blank 59:Added:United States:blank:blank"));
    QCOMPARE(form->table().recordCount(), 5);
    QCOMPARE(nameEdit(*dialog)->text(), QStringLiteral("Added")); // texts stay
}

void TestRecords::addRefusesEmptyNameOnly()
{
    auto dialog = open(true);
    webEdit(*dialog)->setText(QStringLiteral("https://nameless.example.com/"));
    dialog->save();
    QCOMPARE(form->lastNumber(), 57);
    QCOMPARE(queryValue(t->folder.tablePath(), "SELECT count(*) FROM newspapers"), QStringLiteral("3"));
    nameEdit(*dialog)->setText(QStringLiteral("   "));
    dialog->save();
    QCOMPARE(form->lastNumber(), 58);
    QCOMPARE(stored(*t, 58, "Name"), QStringLiteral("   "));
    QVERIFY(t->boxes.shown.empty());
}

void TestRecords::addAsksAboutAKnownAddressAndTheGridShowsTheRecord()
{
    auto dialog = open(true);
    nameEdit(*dialog)->setText(QStringLiteral("Star Again"));
    webEdit(*dialog)->setText(QStringLiteral("HTTP://thestar.com"));
    // The merge's rule: the same newspaper's address in another letter case, without www.
    t->boxes.answers = {MessageBoxes::Answer::Cancel};
    dialog->save();
    QCOMPARE(t->boxes.shown.size(), size_t(1));
    QCOMPARE(t->boxes.shown[0].text, QStringLiteral("The web address HTTP://thestar.com is already in the directory, "
                                                    "for the newspaper \"Toronto Star\". Add this newspaper anyway?"));
    QCOMPARE(t->boxes.shown[0].caption, QStringLiteral("Confirmation"));
    QCOMPARE(t->boxes.shown[0].description, QStringLiteral("The newspaper that has the address: Toronto Star"));
    QCOMPARE(form->table().recordCount(), 3);

    // OK adds it anyway, and the grid behind moves to it.
    dialog->save();
    QCOMPARE(t->boxes.shown.size(), size_t(2));
    QCOMPARE(form->table().recordCount(), 4);
    QCOMPARE(form->table().field(Field::No).asInteger(), form->lastNumber());
    QCOMPARE(grid(*form)->currentIndex().row(), form->table().currentRow());

    // A new address asks nothing; a record the search hides moves nothing.
    nameEdit(*form)->setText(QStringLiteral("Toronto"));
    form->search();
    QCOMPARE(form->table().field(Field::Name).asString(), QStringLiteral("Toronto Star"));
    nameEdit(*dialog)->setText(QStringLiteral("Hidden Gazette"));
    webEdit(*dialog)->setText(QStringLiteral("https://hidden.example.com/"));
    dialog->save();
    QCOMPARE(t->boxes.shown.size(), size_t(2));
    QCOMPARE(stored(*t, form->lastNumber(), "Name"), QStringLiteral("Hidden Gazette"));
    QCOMPARE(form->table().field(Field::Name).asString(), QStringLiteral("Toronto Star"));

    // Modify: the grid stays on the record changed, wherever the order puts it now.
    form->showAll();
    QVERIFY(form->table().locate(Field::Name, QStringLiteral("Globe")));
    auto modify = open(false);
    nameEdit(*modify)->setText(QStringLiteral("Zeta Globe"));
    modify->save();
    QCOMPARE(form->table().field(Field::No).asInteger(), 57);
    QCOMPARE(form->table().currentRow(), form->table().recordCount() - 1);
}

void TestRecords::deletingTheHighestRecordDoesNotLowerTheCounter()
{
    form->table().setOrder(Field::No);
    form->table().last();
    QCOMPARE(form->table().field(Field::No).asInteger(), 57);
    form->deleteRecord();
    QCOMPARE(form->lastNumber(), 57);
    auto dialog = open(true);
    nameEdit(*dialog)->setText(QStringLiteral("Next"));
    dialog->save();
    QCOMPARE(stored(*t, 58, "Name"), QStringLiteral("Next"));
    QCOMPARE(stored(*t, 57, "count(*)"), QStringLiteral("0")); // 57 is not handed out again in this run
}

void TestRecords::modifyKeepsNameWhenEmptiedAndBlanksOthers()
{
    QVERIFY(form->table().locate(Field::Name, QStringLiteral("Le Devoir")));
    auto dialog = open(false);
    nameEdit(*dialog)->clear();
    categoryBox(*dialog)->setEditText(QString());
    cityEdit(*dialog)->setText(QStringLiteral("Montréal"));
    dialog->save();
    QCOMPARE(stored(*t, 20, "Name"), QStringLiteral("Le Devoir"));
    QCOMPARE(stored(*t, 20, "Category"), QStringLiteral("NULL"));
    QCOMPARE(stored(*t, 20, "City"), QStringLiteral("Montréal"));
    QCOMPARE(stored(*t, 20, "Reserved1 || Reserved2 || Reserved3"), QStringLiteral("000"));
    QCOMPARE(form->table().field(Field::Name).asString(), QStringLiteral("Le Devoir"));
    QVERIFY(!form->table().controlsDisabled());
    QVERIFY(dialog->isVisible());
}

void TestRecords::modifiedRecordLeavesTheFilteredView()
{
    countryBox(*form)->setEditText(QStringLiteral("Canada"));
    form->search();
    QCOMPARE(form->table().recordCount(), 2);
    QVERIFY(form->table().locate(Field::Name, QStringLiteral("Le Devoir")));
    auto dialog = open(false);
    countryBox(*dialog)->setEditText(QStringLiteral("France"));
    dialog->save();
    QCOMPARE(stored(*t, 20, "Country"), QStringLiteral("France"));
    QCOMPARE(form->table().recordCount(), 1);
    QCOMPARE(form->table().field(Field::Name).asString(), QStringLiteral("Toronto Star"));
    QVERIFY(form->table().filtered());
    QCOMPARE(form->table().order(), Field::Name);
    // An added record that does not meet the search is stored but not shown either.
    auto adding = open(true);
    nameEdit(*adding)->setText(QStringLiteral("Elsewhere"));
    adding->save();
    QCOMPARE(form->table().recordCount(), 1);
    QCOMPARE(stored(*t, 58, "Name"), QStringLiteral("Elsewhere"));
}

void TestRecords::deleteAsksAndRefreshesEitherWay()
{
    QVERIFY(form->table().locate(Field::Name, QStringLiteral("Le Devoir")));
    insertRows(t->folder.tablePath(), {{99, "From another copy", "", "", "", "", ""}});
    t->boxes.answers = {MessageBoxes::Answer::Cancel};
    menuItem(*form, "deleteRecordAction")->trigger();
    QCOMPARE(t->boxes.shown.back().text, QStringLiteral("Are you sure you want to delete this record?"));
    QCOMPARE(t->boxes.shown.back().caption, QStringLiteral("Confirmation"));
    QCOMPARE(form->table().recordCount(), 4); // refreshed: the other copy's record shows
    QCOMPARE(form->table().field(Field::Name).asString(), QStringLiteral("Le Devoir"));
    menuItem(*form, "popupDeleteRecordAction")->trigger();
    QCOMPARE(form->table().recordCount(), 3);
    QCOMPARE(stored(*t, 20, "count(*)"), QStringLiteral("0"));
    QCOMPARE(form->table().field(Field::Name).asString(), QStringLiteral("Toronto Star"));
}

void TestRecords::emptyGridRefusesModifyAndDelete()
{
    nameEdit(*form)->setText(QStringLiteral("no such paper"));
    form->search();
    auto dialog = open(false);
    nameEdit(*dialog)->setText(QStringLiteral("Would be a record without a number"));
    QTest::mouseClick(saveButton(*dialog), Qt::LeftButton);
    QCOMPARE(t->boxes.errors().size(), 1);
    QVERIFY2(t->boxes.errors()[0].contains(QStringLiteral("no current record")), qPrintable(t->boxes.errors()[0]));
    QVERIFY(!form->table().controlsDisabled());
    form->deleteRecord();
    QCOMPARE(t->boxes.errors().size(), 2);
    QVERIFY2(t->boxes.errors()[1].contains(QStringLiteral("no record to delete")), qPrintable(t->boxes.errors()[1]));
    QCOMPARE(queryValue(t->folder.tablePath(), "SELECT count(*) FROM newspapers"), QStringLiteral("3"));
}

void TestRecords::fieldsTakeNoLineBreaksAndKeepAnyText()
{
    auto dialog = open(true);
    dialog->show();
    nameEdit(*dialog)->setFocus();
    nameEdit(*dialog)->insert(QStringLiteral("Two\r\nLines"));
    QCOMPARE(nameEdit(*dialog)->text(), QStringLiteral("Two  Lines"));
    countryBox(*dialog)->lineEdit()->selectAll();
    countryBox(*dialog)->lineEdit()->insert(QStringLiteral("North\nland"));
    QCOMPARE(countryBox(*dialog)->currentText(), QStringLiteral("North land"));

    const QString tricky =
        QStringLiteral("'; DROP TABLE newspapers; -- \"quoted\" %_ Ωμέγα 東京 ") + QString(10000, 'x');
    nameEdit(*dialog)->setText(tricky);
    stateEdit(*dialog)->setText(QStringLiteral("a;b"));
    dialog->save();
    QCOMPARE(stored(*t, 58, "Name"), tricky);
    QCOMPARE(stored(*t, 58, "State"), QStringLiteral("a;b"));
    QCOMPARE(queryValue(t->folder.tablePath(), "SELECT count(*) FROM newspapers"), QStringLiteral("4"));
}

void TestRecords::keysMoveFocusPressAddAndClose()
{
    auto dialog = open(true);
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    dialog->activateWindow();
    nameEdit(*dialog)->setFocus();
    nameEdit(*dialog)->setText(QStringLiteral("Keyed"));
    QTest::keyClick(nameEdit(*dialog), Qt::Key_M, Qt::ControlModifier); // a typed carriage return
    QCOMPARE(QApplication::focusWidget(), countryBox(*dialog));
    QCOMPARE(nameEdit(*dialog)->text(), QStringLiteral("Keyed"));
    QCOMPARE(form->lastNumber(), 57);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return); // Enter in the Country box presses Add
    QCOMPARE(form->lastNumber(), 58);
    QVERIFY(dialog->isVisible());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    QVERIFY(!dialog->isVisible());
}

void TestRecords::lockedTableReportsAndKeepsDialogOpen()
{
    QVERIFY(form->table().locate(Field::Name, QStringLiteral("Globe")));
    auto dialog = open(false);
    nameEdit(*dialog)->setText(QStringLiteral("Renamed"));
    sqlite::Database other(t->folder.tablePath(), sqlite::Database::Mode::ReadWrite);
    other.exec("BEGIN EXCLUSIVE");
    QTest::mouseClick(saveButton(*dialog), Qt::LeftButton);
    other.exec("ROLLBACK");
    QCOMPARE(t->boxes.errors().size(), 1);
    QVERIFY2(t->boxes.errors()[0].contains(QStringLiteral("locked")), qPrintable(t->boxes.errors()[0]));
    QCOMPARE(t->boxes.shown[0].caption, QStringLiteral("kestrove-news"));
    QVERIFY(dialog->isVisible());
    QCOMPARE(stored(*t, 57, "Name"), QStringLiteral("Globe"));
    QVERIFY(!form->table().controlsDisabled());
    QTest::mouseClick(saveButton(*dialog), Qt::LeftButton); // the next press succeeds
    QCOMPARE(stored(*t, 57, "Name"), QStringLiteral("Renamed"));
}

void TestRecords::staleModifyIsRefusedAndTheGridCatchesUp()
{
    QVERIFY(form->table().locate(Field::Name, QStringLiteral("Le Devoir")));
    auto dialog = open(false);
    cityEdit(*dialog)->setText(QStringLiteral("Québec"));
    {
        sqlite::Database other(t->folder.tablePath(), sqlite::Database::Mode::ReadWrite);
        other.exec("UPDATE newspapers SET Category = 'Business' WHERE No = 20");
    }
    QTest::mouseClick(saveButton(*dialog), Qt::LeftButton);
    QCOMPARE(t->boxes.errors(),
             QStringList{QStringLiteral("The newspaper \"Le Devoir\" was changed or deleted by another program, so it "
                                        "was not changed. The list now shows the directory as it is.")});
    QCOMPARE(stored(*t, 20, "City || '|' || Category"), QStringLiteral("Montreal|Business"));
    QCOMPARE(form->table().field(Field::Category).asString(), QStringLiteral("Business"));
    QVERIFY(!form->table().controlsDisabled());
    QVERIFY(dialog->isVisible());

    // Deleting a record another copy removed, once its number went to a new record.
    form->table().first();
    QCOMPARE(form->table().field(Field::No).asInteger(), 57);
    {
        sqlite::Database other(t->folder.tablePath(), sqlite::Database::Mode::ReadWrite);
        other.exec("DELETE FROM newspapers WHERE No = 57");
    }
    insertRows(t->folder.tablePath(), {{57, "Another paper", "", "", "", "", ""}});
    form->deleteRecord();
    QCOMPARE(t->boxes.errors().size(), 2);
    QCOMPARE(stored(*t, 57, "Name"), QStringLiteral("Another paper"));
    QCOMPARE(form->table().field(Field::Name).asString(), QStringLiteral("Another paper"));
}

void TestRecords::modifyKeepsTheStoredBytesOfFieldsNotTouched()
{
    // Written by another program: a City that is not UTF-8, a Name stored as a BLOB.
    {
        sqlite::Database other(t->folder.tablePath(), sqlite::Database::Mode::ReadWrite);
        other.exec("UPDATE newspapers SET City = CAST(X'4EEE6D6573' AS TEXT) WHERE No = 20");
        other.exec("INSERT INTO newspapers VALUES (30, X'426C6F62', 'https://blob.example.com/', 'Chad', NULL, NULL, "
                   "NULL, '0', 0, 0)");
    }
    form->showAll();
    QVERIFY(form->table().locate(Field::Name, QStringLiteral("Le Devoir")));
    auto dialog = open(false);
    nameEdit(*dialog)->setText(QStringLiteral("Le Devoir (QC)"));
    dialog->save();
    QCOMPARE(stored(*t, 20, "Name || '|' || hex(City)"), QStringLiteral("Le Devoir (QC)|4EEE6D6573"));
    dialog.reset();

    QVERIFY(form->table().locate(Field::Name, QStringLiteral("Blob")));
    dialog = open(false);
    cityEdit(*dialog)->setText(QStringLiteral("N'Djamena"));
    dialog->save();
    QCOMPARE(stored(*t, 30, "typeof(Name) || '|' || City"), QStringLiteral("blob|N'Djamena"));
    dialog.reset();
    QVERIFY(form->table().locate(Field::Name, QStringLiteral("Blob")));
    form->deleteRecord();
    QCOMPARE(stored(*t, 30, "count(*)"), QStringLiteral("0"));
    QCOMPARE(t->boxes.errors(), QStringList());
}

void TestRecords::addTellsTheTruthAtTheNumberLimit_data()
{
    QTest::addColumn<qint64>("highest");
    QTest::addColumn<QString>("message");
    QTest::newRow("highest number in use")
        << qint64(2147483647) << "Cannot add the record: the highest record number, 2147483647, is in use.";
    QTest::newRow("number past the limit") << qint64(5000000000)
                                           << "Cannot add the record: the directory holds the record number "
                                              "5000000000, which is past the highest record number, 2147483647.";
}

void TestRecords::addTellsTheTruthAtTheNumberLimit()
{
    QFETCH(qint64, highest);
    QFETCH(QString, message);
    form.reset();
    insertRows(t->folder.tablePath(), {{highest, "Highest", "", "", "", "", ""}});
    form = openWindow(t->platform);
    auto dialog = open(true);
    nameEdit(*dialog)->setText(QStringLiteral("One too many"));
    QTest::mouseClick(saveButton(*dialog), Qt::LeftButton);
    QTest::mouseClick(saveButton(*dialog), Qt::LeftButton);
    QCOMPARE(t->boxes.errors(), (QStringList{message, message}));
    QCOMPARE(queryValue(t->folder.tablePath(), "SELECT count(*) FROM newspapers"), QStringLiteral("4"));
}

void TestRecords::lockShowsTheWaitCursorAndATitleClickRecovers()
{
    // A lock held a moment by another program: the write waits with the wait cursor.
    form.reset();
    sqlite::Database::setDefaultBusyTimeout(10000);
    form = openWindow(t->platform);
    sqlite::Database::setDefaultBusyTimeout(TestBusyTimeoutMs);
    std::promise<void> locked;
    std::atomic<bool> waitCursor{false};
    std::thread other([&] {
        sqlite::Database db(t->folder.tablePath(), sqlite::Database::Mode::ReadWrite);
        db.exec("BEGIN EXCLUSIVE");
        locked.set_value();
        QThread::msleep(300);
        const QCursor* cursor = QGuiApplication::overrideCursor();
        waitCursor = cursor && cursor->shape() == Qt::WaitCursor;
        db.exec("ROLLBACK");
    });
    locked.get_future().wait();
    auto dialog = open(true);
    nameEdit(*dialog)->setText(QStringLiteral("Waited"));
    QTest::mouseClick(saveButton(*dialog), Qt::LeftButton);
    other.join();
    QVERIFY(waitCursor);
    QVERIFY(!QGuiApplication::overrideCursor());
    QCOMPARE(stored(*t, 58, "Name"), QStringLiteral("Waited"));
    QVERIFY(t->boxes.errors().isEmpty());
    dialog.reset();

    // A title click while the lock stays: reported once; the grid shows the table again
    // as soon as the lock is gone, before any other command.
    form.reset();
    form = openWindow(t->platform);
    {
        sqlite::Database db(t->folder.tablePath(), sqlite::Database::Mode::ReadWrite);
        db.exec("BEGIN EXCLUSIVE");
        emit grid(*form)->titleClicked(gridModel(*form)->columns()[1]);
        QCOMPARE(form->table().recordCount(), 0);
        QTest::qWait(600); // still locked: nothing is tried that would report again
        db.exec("ROLLBACK");
    }
    QCOMPARE(t->boxes.errors().size(), 1);
    QVERIFY2(t->boxes.errors()[0].contains(QStringLiteral("locked")), qPrintable(t->boxes.errors()[0]));
    QTRY_COMPARE(form->table().recordCount(), 4);
    QCOMPARE(form->table().order(), Field::Country);
    form->search();
    QCOMPARE(form->table().recordCount(), 4);
    QCOMPARE(grid(*form)->model()->rowCount(), 4);
    form->readNow();
    QCOMPARE(t->shell.opened.size(), size_t(1));
    QCOMPARE(t->boxes.errors().size(), 1);
}

QTEST_MAIN(TestRecords)
#include "test_records.moc"
