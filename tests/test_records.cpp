// The record dialog and the add, modify and delete commands.

#include "TestSupport.h"

#include "dialogs/RecordDialog.h"
#include "directory/Sqlite.h"
#include "directory/Table.h"
#include "grid/DBGrid.h"
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

QStringList texts(const TForm2& dialog)
{
    return {dialog.Edit1->text(), dialog.ComboBox1->currentText(), dialog.Edit3->text(),
            dialog.Edit4->text(), dialog.ComboBox2->currentText(), dialog.Edit6->text()};
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
    void deletingTheHighestRecordDoesNotLowerTheCounter();
    void modifyKeepsNameWhenEmptiedAndBlanksOthers();
    void modifiedRecordLeavesTheFilteredView();
    void deleteAsksAndRefreshesEitherWay();
    void emptyGridRefusesModifyAndDelete();
    void fieldsTakeNoLineBreaksAndKeepAnyText();
    void keysMoveFocusPressAddAndClose();
    void lockedTableReportsAndKeepsDialogOpen();
    void staleModifyIsRefusedAndTheGridCatchesUp();
    void addTellsTheTruthAtTheNumberLimit_data();
    void addTellsTheTruthAtTheNumberLimit();
    void lockShowsTheWaitCursorAndATitleClickRecovers();

private:
    std::unique_ptr<TestPlatform> t;
    std::unique_ptr<TForm1> form;
    std::unique_ptr<TForm2> open(bool addMode)
    {
        form->AddMode = addMode;
        auto dialog = std::make_unique<TForm2>(*form);
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
    QCOMPARE(dialog->GroupBox1->title(), QStringLiteral("Add Newspaper"));
    QCOMPARE(dialog->GroupBox1->geometry(), QRect(8, 8, 353, 169));
    QCOMPARE(dialog->BitBtn1->text(), QStringLiteral("Add"));
    QCOMPARE(dialog->BitBtn1->geometry(), QRect(80, 192, 75, 25));
    QCOMPARE(dialog->BitBtn2->text(), QStringLiteral("Cancel"));
    QCOMPARE(dialog->BitBtn2->geometry(), QRect(224, 192, 75, 25));
    QVERIFY(dialog->BitBtn1->isDefault());
    const QRect fields[] = {{56, 28, 281, 21}, {56, 60, 121, 21}, {240, 60, 97, 21},
                            {56, 92, 121, 21}, {240, 92, 97, 21}, {56, 124, 281, 21}};
    const QWidget* controls[] = {dialog->Edit1, dialog->ComboBox1, dialog->Edit3,
                                 dialog->Edit4, dialog->ComboBox2, dialog->Edit6};
    for (int i = 0; i < 6; ++i)
        QCOMPARE(controls[i]->geometry(), fields[i]);
    const QPoint labels[] = {{8, 32}, {8, 64}, {200, 64}, {8, 96}, {184, 96}, {8, 128}};
    const QLabel* labelWidgets[] = {dialog->Label1, dialog->Label2, dialog->Label3,
                                    dialog->Label4, dialog->Label5, dialog->Label6};
    for (int i = 0; i < 6; ++i)
        QCOMPARE(labelWidgets[i]->pos(), labels[i]);
    QCOMPARE(texts(*dialog), (QStringList{"", "United States", "", "", "", ""}));
    QCOMPARE(dialog->ComboBox1->count(), 239);
    QCOMPARE(dialog->ComboBox1->itemText(0), QStringLiteral("United States"));
    QCOMPARE(dialog->ComboBox1->itemText(1), QStringLiteral("United Kingdom"));
    QCOMPARE(dialog->ComboBox1->itemText(2), QStringLiteral("Canada"));
    QCOMPARE(dialog->ComboBox1->itemText(3), QStringLiteral("Afghanistan"));
    QCOMPARE(dialog->ComboBox1->itemText(238), QStringLiteral("Zimbabwe"));
    QCOMPARE(dialog->ComboBox2->count(), 7);
    QCOMPARE(dialog->ComboBox2->itemText(0), QStringLiteral("City Guide"));
    QCOMPARE(dialog->ComboBox2->itemText(6), QStringLiteral("Shopping"));
    QTRY_COMPARE(QApplication::focusWidget(), dialog->Edit1);
    const QWidget* order[] = {dialog->Edit1,     dialog->ComboBox1, dialog->Edit3,   dialog->Edit4,
                              dialog->ComboBox2, dialog->Edit6,     dialog->BitBtn1, dialog->BitBtn2};
    for (int i = 1; i < 8; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), order[i]);
    }
}

void TestRecords::modifyModeCopiesEachFieldOnItsOwn()
{
    QVERIFY(form->Table1->locate(QStringLiteral("Name"), QStringLiteral("Le Devoir")));
    auto full = open(false);
    QCOMPARE(full->windowTitle(), QStringLiteral("Modify a record"));
    QCOMPARE(full->GroupBox1->title(), QStringLiteral("Modify Newspaper"));
    QCOMPARE(full->BitBtn1->text(), QStringLiteral("Modify"));
    QCOMPARE(texts(*full),
             (QStringList{"Le Devoir", "Canada", "QC", "Montreal", "Politics", "https://www.ledevoir.com/"}));

    QVERIFY(form->Table1->locate(QStringLiteral("Name"), QStringLiteral("Globe")));
    auto blanks = open(false);
    QCOMPARE(texts(*blanks),
             (QStringList{"Globe", "United States", "", "Toronto", "Business", "https://www.theglobe.example.com/"}));

    form->Edit1->setText(QStringLiteral("no such paper"));
    form->BitBtn5Click();
    auto none = open(false);
    QCOMPARE(none->windowTitle(), QStringLiteral("Modify a record"));
    QCOMPARE(texts(*none), (QStringList{"", "United States", "", "", "", ""}));
    QVERIFY(t->boxes.shown.empty());
}

void TestRecords::commandsBuildAFreshDialogEachTime()
{
    QStringList seen;
    auto record = [&](QWidget* modal) {
        auto* dialog = qobject_cast<TForm2*>(modal);
        QVERIFY(dialog);
        seen << dialog->windowTitle() + QLatin1Char('|') + dialog->Edit1->text();
    };
    whenModalOpens(record);
    form->menuItem(QStringLiteral("ModifyRecord1"))->trigger();
    whenModalOpens(record);
    form->menuItem(QStringLiteral("AddaNewRecord1"))->trigger();
    QCOMPARE(seen, (QStringList{"Modify a record|Globe", "Add a New Record|"}));
    QVERIFY(form->AddMode);                            // the last command was Add
    QCOMPARE(form->findChildren<TForm2*>().size(), 0); // destroyed when closed
}

void TestRecords::addNumbersFromLastNumberAndStaysOpen()
{
    QCOMPARE(form->LastNo, 57); // the last record in number order
    auto dialog = open(true);
    dialog->Edit1->setText(QStringLiteral("Added"));
    QTest::mouseClick(dialog->BitBtn1, Qt::LeftButton);
    QTest::keyClick(dialog->Edit1, Qt::Key_Return); // Enter presses Add again
    QVERIFY(dialog->isVisible());
    QCOMPARE(form->LastNo, 59);
    QCOMPARE(queryValue(t->folder.tablePath(), "SELECT group_concat(No || ':' || Name || ':' || Country || ':' || "
                                               "ifnull(State, 'blank') || ':' || ifnull(Url, 'blank'), ' ') "
                                               "FROM newspapers WHERE Name = 'Added'"),
             QStringLiteral("58:Added:United States:blank:blank 59:Added:United States:blank:blank"));
    QCOMPARE(form->Table1->recordCount(), 5);
    QCOMPARE(dialog->Edit1->text(), QStringLiteral("Added")); // texts stay
}

void TestRecords::addRefusesEmptyNameOnly()
{
    auto dialog = open(true);
    dialog->Edit6->setText(QStringLiteral("https://nameless.example.com/"));
    dialog->BitBtn1Click();
    QCOMPARE(form->LastNo, 57);
    QCOMPARE(queryValue(t->folder.tablePath(), "SELECT count(*) FROM newspapers"), QStringLiteral("3"));
    dialog->Edit1->setText(QStringLiteral("   "));
    dialog->BitBtn1Click();
    QCOMPARE(form->LastNo, 58);
    QCOMPARE(stored(*t, 58, "Name"), QStringLiteral("   "));
    QVERIFY(t->boxes.shown.empty());
}

void TestRecords::deletingTheHighestRecordDoesNotLowerTheCounter()
{
    form->Table1->setIndexName(QString());
    form->Table1->last();
    QCOMPARE(form->Table1->fieldByName(QStringLiteral("No")).asInteger(), 57);
    form->BitBtn3Click();
    QCOMPARE(form->LastNo, 57);
    auto dialog = open(true);
    dialog->Edit1->setText(QStringLiteral("Next"));
    dialog->BitBtn1Click();
    QCOMPARE(stored(*t, 58, "Name"), QStringLiteral("Next"));
    QCOMPARE(stored(*t, 57, "count(*)"), QStringLiteral("0")); // 57 is not handed out again in this run
}

void TestRecords::modifyKeepsNameWhenEmptiedAndBlanksOthers()
{
    QVERIFY(form->Table1->locate(QStringLiteral("Name"), QStringLiteral("Le Devoir")));
    auto dialog = open(false);
    dialog->Edit1->clear();
    dialog->ComboBox2->setEditText(QString());
    dialog->Edit4->setText(QStringLiteral("Montréal"));
    dialog->BitBtn1Click();
    QCOMPARE(stored(*t, 20, "Name"), QStringLiteral("Le Devoir"));
    QCOMPARE(stored(*t, 20, "Category"), QStringLiteral("NULL"));
    QCOMPARE(stored(*t, 20, "City"), QStringLiteral("Montréal"));
    QCOMPARE(stored(*t, 20, "Reserved1 || Reserved2 || Reserved3"), QStringLiteral("000"));
    QCOMPARE(form->Table1->fieldByName(QStringLiteral("Name")).asString(), QStringLiteral("Le Devoir"));
    QVERIFY(!form->Table1->controlsDisabled());
    QVERIFY(dialog->isVisible());
}

void TestRecords::modifiedRecordLeavesTheFilteredView()
{
    form->ComboBox1->setEditText(QStringLiteral("Canada"));
    form->BitBtn5Click();
    QCOMPARE(form->Table1->recordCount(), 2);
    QVERIFY(form->Table1->locate(QStringLiteral("Name"), QStringLiteral("Le Devoir")));
    auto dialog = open(false);
    dialog->ComboBox1->setEditText(QStringLiteral("France"));
    dialog->BitBtn1Click();
    QCOMPARE(stored(*t, 20, "Country"), QStringLiteral("France"));
    QCOMPARE(form->Table1->recordCount(), 1);
    QCOMPARE(form->Table1->fieldByName(QStringLiteral("Name")).asString(), QStringLiteral("Toronto Star"));
    QVERIFY(form->Table1->filtered());
    QCOMPARE(form->Table1->indexName(), QStringLiteral("Name1"));
    // An added record that does not meet the search is stored but not shown either.
    auto adding = open(true);
    adding->Edit1->setText(QStringLiteral("Elsewhere"));
    adding->BitBtn1Click();
    QCOMPARE(form->Table1->recordCount(), 1);
    QCOMPARE(stored(*t, 58, "Name"), QStringLiteral("Elsewhere"));
}

void TestRecords::deleteAsksAndRefreshesEitherWay()
{
    QVERIFY(form->Table1->locate(QStringLiteral("Name"), QStringLiteral("Le Devoir")));
    insertRows(t->folder.tablePath(), {{99, "From another copy", "", "", "", "", ""}});
    t->boxes.answers = {MessageBoxes::Answer::Cancel};
    form->menuItem(QStringLiteral("DeleteRecord1"))->trigger();
    QCOMPARE(t->boxes.shown.back().text, QStringLiteral("Are you sure you want to delete this record?"));
    QCOMPARE(t->boxes.shown.back().caption, QStringLiteral("Confirmation"));
    QCOMPARE(form->Table1->recordCount(), 4); // refreshed: the other copy's record shows
    QCOMPARE(form->Table1->fieldByName(QStringLiteral("Name")).asString(), QStringLiteral("Le Devoir"));
    form->menuItem(QStringLiteral("Delete1"))->trigger();
    QCOMPARE(form->Table1->recordCount(), 3);
    QCOMPARE(stored(*t, 20, "count(*)"), QStringLiteral("0"));
    QCOMPARE(form->Table1->fieldByName(QStringLiteral("Name")).asString(), QStringLiteral("Toronto Star"));
}

void TestRecords::emptyGridRefusesModifyAndDelete()
{
    form->Edit1->setText(QStringLiteral("no such paper"));
    form->BitBtn5Click();
    auto dialog = open(false);
    dialog->Edit1->setText(QStringLiteral("Would be a record without a number"));
    QTest::mouseClick(dialog->BitBtn1, Qt::LeftButton);
    QCOMPARE(t->boxes.errors().size(), 1);
    QVERIFY2(t->boxes.errors()[0].contains(QStringLiteral("no current record")), qPrintable(t->boxes.errors()[0]));
    QVERIFY(!form->Table1->controlsDisabled());
    form->run(QStringLiteral("BitBtn3Click"));
    QCOMPARE(t->boxes.errors().size(), 2);
    QVERIFY2(t->boxes.errors()[1].contains(QStringLiteral("no record to delete")), qPrintable(t->boxes.errors()[1]));
    QCOMPARE(queryValue(t->folder.tablePath(), "SELECT count(*) FROM newspapers"), QStringLiteral("3"));
}

void TestRecords::fieldsTakeNoLineBreaksAndKeepAnyText()
{
    auto dialog = open(true);
    dialog->show();
    dialog->Edit1->setFocus();
    dialog->Edit1->insert(QStringLiteral("Two\r\nLines"));
    QCOMPARE(dialog->Edit1->text(), QStringLiteral("Two  Lines"));
    dialog->ComboBox1->lineEdit()->selectAll();
    dialog->ComboBox1->lineEdit()->insert(QStringLiteral("North\nland"));
    QCOMPARE(dialog->ComboBox1->currentText(), QStringLiteral("North land"));

    const QString tricky =
        QStringLiteral("'; DROP TABLE newspapers; -- \"quoted\" %_ Ωμέγα 東京 ") + QString(10000, 'x');
    dialog->Edit1->setText(tricky);
    dialog->Edit3->setText(QStringLiteral("a;b"));
    dialog->BitBtn1Click();
    QCOMPARE(stored(*t, 58, "Name"), tricky);
    QCOMPARE(stored(*t, 58, "State"), QStringLiteral("a;b"));
    QCOMPARE(queryValue(t->folder.tablePath(), "SELECT count(*) FROM newspapers"), QStringLiteral("4"));
}

void TestRecords::keysMoveFocusPressAddAndClose()
{
    auto dialog = open(true);
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    dialog->activateWindow();
    dialog->Edit1->setFocus();
    dialog->Edit1->setText(QStringLiteral("Keyed"));
    QTest::keyClick(dialog->Edit1, Qt::Key_M, Qt::ControlModifier); // a typed carriage return
    QCOMPARE(QApplication::focusWidget(), dialog->ComboBox1);
    QCOMPARE(dialog->Edit1->text(), QStringLiteral("Keyed"));
    QCOMPARE(form->LastNo, 57);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return); // Enter in the Country box presses Add
    QCOMPARE(form->LastNo, 58);
    QVERIFY(dialog->isVisible());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    QVERIFY(!dialog->isVisible());
}

void TestRecords::lockedTableReportsAndKeepsDialogOpen()
{
    QVERIFY(form->Table1->locate(QStringLiteral("Name"), QStringLiteral("Globe")));
    auto dialog = open(false);
    dialog->Edit1->setText(QStringLiteral("Renamed"));
    sqlite::Database other(t->folder.tablePath(), sqlite::Database::Mode::ReadWrite);
    other.exec("BEGIN EXCLUSIVE");
    QTest::mouseClick(dialog->BitBtn1, Qt::LeftButton);
    other.exec("ROLLBACK");
    QCOMPARE(t->boxes.errors().size(), 1);
    QVERIFY2(t->boxes.errors()[0].contains(QStringLiteral("locked")), qPrintable(t->boxes.errors()[0]));
    QCOMPARE(t->boxes.shown[0].caption, QStringLiteral("kestrove-news"));
    QVERIFY(dialog->isVisible());
    QCOMPARE(stored(*t, 57, "Name"), QStringLiteral("Globe"));
    QVERIFY(!form->Table1->controlsDisabled());
    QTest::mouseClick(dialog->BitBtn1, Qt::LeftButton); // the next press succeeds
    QCOMPARE(stored(*t, 57, "Name"), QStringLiteral("Renamed"));
}

void TestRecords::staleModifyIsRefusedAndTheGridCatchesUp()
{
    QVERIFY(form->Table1->locate(QStringLiteral("Name"), QStringLiteral("Le Devoir")));
    auto dialog = open(false);
    dialog->Edit4->setText(QStringLiteral("Québec"));
    {
        sqlite::Database other(t->folder.tablePath(), sqlite::Database::Mode::ReadWrite);
        other.exec("UPDATE newspapers SET Category = 'Business' WHERE No = 20");
    }
    QTest::mouseClick(dialog->BitBtn1, Qt::LeftButton);
    QCOMPARE(t->boxes.errors(),
             QStringList{QStringLiteral("The newspaper \"Le Devoir\" was changed or deleted by another program, so it "
                                        "was not changed. The list now shows the directory as it is.")});
    QCOMPARE(stored(*t, 20, "City || '|' || Category"), QStringLiteral("Montreal|Business"));
    QCOMPARE(form->Table1->fieldByName(QStringLiteral("Category")).asString(), QStringLiteral("Business"));
    QVERIFY(!form->Table1->controlsDisabled());
    QVERIFY(dialog->isVisible());

    // Deleting a record another copy removed, once its number went to a new record.
    form->Table1->first();
    QCOMPARE(form->Table1->fieldByName(QStringLiteral("No")).asInteger(), 57);
    {
        sqlite::Database other(t->folder.tablePath(), sqlite::Database::Mode::ReadWrite);
        other.exec("DELETE FROM newspapers WHERE No = 57");
    }
    insertRows(t->folder.tablePath(), {{57, "Another paper", "", "", "", "", ""}});
    form->run(QStringLiteral("BitBtn3Click"));
    QCOMPARE(t->boxes.errors().size(), 2);
    QCOMPARE(stored(*t, 57, "Name"), QStringLiteral("Another paper"));
    QCOMPARE(form->Table1->fieldByName(QStringLiteral("Name")).asString(), QStringLiteral("Another paper"));
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
    dialog->Edit1->setText(QStringLiteral("One too many"));
    QTest::mouseClick(dialog->BitBtn1, Qt::LeftButton);
    QTest::mouseClick(dialog->BitBtn1, Qt::LeftButton);
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
    dialog->Edit1->setText(QStringLiteral("Waited"));
    QTest::mouseClick(dialog->BitBtn1, Qt::LeftButton);
    other.join();
    QVERIFY(waitCursor);
    QVERIFY(!QGuiApplication::overrideCursor());
    QCOMPARE(stored(*t, 58, "Name"), QStringLiteral("Waited"));
    QVERIFY(t->boxes.errors().isEmpty());
    dialog.reset();

    // A title click while the lock stays: reported once; the next Search reads again.
    form.reset();
    form = openWindow(t->platform);
    {
        sqlite::Database db(t->folder.tablePath(), sqlite::Database::Mode::ReadWrite);
        db.exec("BEGIN EXCLUSIVE");
        emit form->DBGrid1->titleClicked(form->DataSource1->columns()[1]);
        db.exec("ROLLBACK");
    }
    QCOMPARE(t->boxes.errors().size(), 1);
    QVERIFY2(t->boxes.errors()[0].contains(QStringLiteral("locked")), qPrintable(t->boxes.errors()[0]));
    QCOMPARE(form->Table1->recordCount(), 0);
    form->run(QStringLiteral("BitBtn5Click"));
    QCOMPARE(form->Table1->recordCount(), 4);
    QCOMPARE(form->Table1->indexName(), QStringLiteral("Country1"));
    QCOMPARE(form->DBGrid1->model()->rowCount(), 4);
    form->run(QStringLiteral("BitBtn2Click"));
    QCOMPARE(t->shell.opened.size(), size_t(1));
    QCOMPARE(t->boxes.errors().size(), 1);
}

QTEST_MAIN(TestRecords)
#include "test_records.moc"
