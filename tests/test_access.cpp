// Both windows as a keyboard user meets them.

#include "TestSupport.h"

#include "datatool/DbTool.h"
#include "dialogs/RecordDialog.h"
#include "directory/Table.h"
#include "grid/DBGrid.h"
#include "mainwindow/MainWindow.h"

#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

namespace {

// Papers under their own names, after the starter directory's romanised ones.
const std::vector<Row> NativeNames = {
    {1001, QStringLiteral("朝日新聞"), "https://www.asahi.com/", "Japan", "Tokyo", "Tokyo", "Politics"},
    {1002, QStringLiteral("人民日报"), "https://www.people.com.cn/", "China", "Beijing", "Beijing", "Politics"},
    {1003, QStringLiteral("조선일보"), "https://www.chosun.com/", "South Korea", "Seoul", "Seoul", "Business"},
    {1004, QStringLiteral("聯合報"), "https://udn.com/", "Taiwan", "Taipei", "Taipei", "Business"},
};

} // namespace

class TestAccess : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void keyboardReachesEveryControlAndCommand();

private:
    void openWindow();
    std::unique_ptr<TestPlatform> t;
    std::unique_ptr<TForm1> form;
};

void TestAccess::init()
{
    t = std::make_unique<TestPlatform>();
    t->folder.makeTable(NativeNames);
    DbTool::importCsv(t->folder.tablePath(), QStringLiteral(KESTROVE_STARTER_CSV));
}

void TestAccess::cleanup()
{
    form.reset();
    t.reset();
}

void TestAccess::openWindow()
{
    form = std::make_unique<TForm1>(t->platform);
    form->show();
    form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(form.get()));
}

void TestAccess::keyboardReachesEveryControlAndCommand()
{
    openWindow();
    QCOMPARE(QApplication::focusWidget(), form->DBGrid1);
    QTest::keyClick(form->DBGrid1, Qt::Key_Down); // the arrows still move between records
    QCOMPARE(form->Table1->currentRow(), 1);
    QTest::keyClick(form->DBGrid1, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), form->Edit1);
    QTest::keyClick(form->Edit1, Qt::Key_End);
    QTest::keyClick(form->Edit1, Qt::Key_F, Qt::ControlModifier); // selects also where the focus already is
    QCOMPARE(form->Edit1->selectedText(), QStringLiteral("All"));
    QTest::keyClick(form->Edit1, Qt::Key_Backtab, Qt::ShiftModifier);
    QCOMPARE(QApplication::focusWidget(), form->DBGrid1);
    QCOMPARE(form->Table1->currentRow(), 1);
    QTest::keyClick(form->DBGrid1, Qt::Key_F, Qt::ControlModifier);
    QCOMPARE(QApplication::focusWidget(), form->Edit1);

    // Enter reads the current newspaper, with either Enter key; Delete asks first.
    form->DBGrid1->setFocus();
    const QString address = form->Table1->fieldByName(QStringLiteral("Url")).asString();
    QTest::keyClick(form->DBGrid1, Qt::Key_Return);
    QTest::keyClick(form->DBGrid1, Qt::Key_Enter, Qt::KeypadModifier);
    QCOMPARE(t->shell.opened, (std::vector<QString>{address, address}));
    const int records = form->Table1->recordCount();
    t->boxes.answers = {MessageBoxes::Answer::Cancel};
    QTest::keyClick(form->DBGrid1, Qt::Key_Delete);
    QCOMPARE(t->boxes.shown.size(), size_t(1));
    QCOMPARE(t->boxes.shown[0].caption, QStringLiteral("Confirmation"));
    QCOMPARE(form->Table1->recordCount(), records);

    // In the record dialog Enter presses the focused button, else Add.
    form->AddMode = true;
    const qint32 lastNo = form->LastNo;
    TForm2 dialog(*form);
    dialog.show();
    dialog.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    dialog.Edit1->setText(QStringLiteral("Keyed"));
    dialog.BitBtn2->setFocus(Qt::TabFocusReason);
    dialog.Edit6->setFocus(Qt::BacktabFocusReason);
    QTest::keyClick(dialog.Edit6, Qt::Key_Return); // Add is the default again once Cancel loses the focus
    QCOMPARE(form->LastNo, lastNo + 1);
    dialog.BitBtn2->setFocus(Qt::TabFocusReason);
    QTest::keyClick(dialog.BitBtn2, Qt::Key_Return);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(form->LastNo, lastNo + 1);
    QCOMPARE(form->Table1->recordCount(), records + 1);
}

QTEST_MAIN(TestAccess)
#include "test_access.moc"
