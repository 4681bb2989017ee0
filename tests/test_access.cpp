// Both windows as a keyboard user, a screen reader, a dark theme and a large scale factor
// meet them. The file runs at scale factor 2 unless another is given: the offscreen
// screen of 800 x 600 pixels is then 400 x 300, smaller than the main window, as a
// 1280 x 1024 screen at scale 2 is.
// KESTROVE_SCREENSHOTS=<folder> saves main-window-dark.png and main-window-scale2.png there.

#include "TestSupport.h"

#include "datatool/DbTool.h"
#include "dialogs/RecordDialog.h"
#include "directory/Table.h"
#include "grid/DirectoryGrid.h"
#include "mainwindow/MainWindow.h"
#include "widgets/Controls.h"

#include <QAccessible>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScopeGuard>
#include <QTextLayout>
#include <QtTest>

namespace {

// East Asian papers under their own names, after the starter directory's romanised ones.
const std::vector<Row> NativeNames = {
    {1001, QStringLiteral("朝日新聞"), "https://www.asahi.com/", "Japan", "Tokyo", "Tokyo", "Politics"},
    {1002, QStringLiteral("人民日报"), "https://www.people.com.cn/", "China", "Beijing", "Beijing", "Politics"},
    {1003, QStringLiteral("조선일보"), "https://www.chosun.com/", "South Korea", "Seoul", "Seoul", "Business"},
    {1004, QStringLiteral("聯合報"), "https://udn.com/", "Taiwan", "Taipei", "Taipei", "Business"},
};

void saveScreenshot(QWidget* window, const char* file)
{
    if (const QString folder = qEnvironmentVariable("KESTROVE_SCREENSHOTS"); !folder.isEmpty())
        window->grab().save(folder + QLatin1Char('/') + QLatin1String(file));
}

// WCAG 2 relative luminance and contrast ratio.
double luminance(const QColor& colour)
{
    auto channel = [](double c) { return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); };
    return 0.2126 * channel(colour.redF()) + 0.7152 * channel(colour.greenF()) + 0.0722 * channel(colour.blueF());
}

double contrast(const QColor& a, const QColor& b)
{
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QPalette darkPalette()
{
    QPalette dark;
    for (auto group : {QPalette::Active, QPalette::Inactive}) {
        dark.setColor(group, QPalette::Window, QColor(0x30, 0x30, 0x30));
        dark.setColor(group, QPalette::Base, QColor(0x20, 0x20, 0x20));
        dark.setColor(group, QPalette::Button, QColor(0x30, 0x30, 0x30));
        dark.setColor(group, QPalette::Highlight, QColor(0x2a, 0x82, 0xda));
        for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText, QPalette::HighlightedText})
            dark.setColor(group, role, Qt::white);
    }
    return dark;
}

// What a screen reader announces a part by: the label it is labelled by (how a drop-down
// is named on this desktop, whose own name is its text), else its name.
QString spokenName(QAccessibleInterface* node)
{
    for (const auto& [label, relation] : node->relations(QAccessible::Label)) {
        if (qobject_cast<QLabel*>(label->object()))
            return label->text(QAccessible::Name);
    }
    return node->text(QAccessible::Name);
}

// The spoken names of a window's parts by object name; `unnamed` lists the focusable
// parts, buttons and menu entries without one.
void collectNames(QAccessibleInterface* node, QStringList& unnamed, QHash<QString, QString>& names)
{
    const QString name = spokenName(node);
    const QAccessible::Role role = node->role();
    const bool control = node->state().focusable || role == QAccessible::PushButton || role == QAccessible::MenuItem ||
                         role == QAccessible::ButtonMenu;
    const QString id = node->object() ? node->object()->objectName() : QString();
    if (control && name.isEmpty())
        unnamed << QStringLiteral("%1 (role %2)").arg(id).arg(role);
    if (!id.isEmpty())
        names.insert(id, name);
    if (role == QAccessible::Table) // its cells are checked on their own
        return;
    for (int i = 0; i < node->childCount(); ++i) {
        if (QAccessibleInterface* child = node->child(i))
            collectNames(child, unnamed, names);
    }
}

} // namespace

class TestAccess : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void keyboardReachesEveryControlAndCommand();
    void columnsReadInADarkTheme();
    void everyControlHasAName();
    void windowStaysOnScreen();

private:
    void openWindow();
    std::unique_ptr<TestPlatform> t;
    std::unique_ptr<MainWindow> form;
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
    form = ::openWindow(t->platform);
    form->show();
    form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(form.get()));
}

void TestAccess::keyboardReachesEveryControlAndCommand()
{
    openWindow();
    QCOMPARE(QApplication::focusWidget(), grid(*form));
    QTest::keyClick(grid(*form), Qt::Key_Down); // the arrows still move between records
    QCOMPARE(form->table().currentRow(), 1);
    QTest::keyClick(grid(*form), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), nameEdit(*form));
    QTest::keyClick(nameEdit(*form), Qt::Key_End);
    QTest::keyClick(nameEdit(*form), Qt::Key_F, Qt::ControlModifier); // selects also where the focus already is
    QCOMPARE(nameEdit(*form)->selectedText(), QStringLiteral("All"));
    QTest::keyClick(nameEdit(*form), Qt::Key_Backtab, Qt::ShiftModifier);
    QCOMPARE(QApplication::focusWidget(), grid(*form));
    QCOMPARE(form->table().currentRow(), 1);
    QTest::keyClick(grid(*form), Qt::Key_F, Qt::ControlModifier);
    QCOMPARE(QApplication::focusWidget(), nameEdit(*form));

    // Enter reads the current newspaper, with either Enter key; Delete asks first.
    grid(*form)->setFocus();
    const QString address = form->table().field(Field::Url).asString();
    QTest::keyClick(grid(*form), Qt::Key_Return);
    QTest::keyClick(grid(*form), Qt::Key_Enter, Qt::KeypadModifier);
    QCOMPARE(t->shell.opened, (std::vector<QString>{address, address}));
    const int records = form->table().recordCount();
    t->boxes.answers = {MessageBoxes::Answer::Cancel};
    QTest::keyClick(grid(*form), Qt::Key_Delete);
    QCOMPARE(t->boxes.shown.size(), size_t(1));
    QCOMPARE(t->boxes.shown[0].caption, QStringLiteral("Confirmation"));
    QCOMPARE(form->table().recordCount(), records);

    // In the record dialog Enter presses the focused button, else Add.
    const qint32 lastNo = form->lastNumber();
    RecordDialog dialog(*form, RecordDialog::Mode::Add);
    dialog.show();
    dialog.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    nameEdit(dialog)->setText(QStringLiteral("Keyed"));
    cancelButton(dialog)->setFocus(Qt::TabFocusReason);
    webEdit(dialog)->setFocus(Qt::BacktabFocusReason);
    QTest::keyClick(webEdit(dialog), Qt::Key_Return); // Add is the default again once Cancel loses the focus
    QCOMPARE(form->lastNumber(), lastNo + 1);
    cancelButton(dialog)->setFocus(Qt::TabFocusReason);
    QTest::keyClick(cancelButton(dialog), Qt::Key_Return);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(form->lastNumber(), lastNo + 1);
    QCOMPARE(form->table().recordCount(), records + 1);
}

void TestAccess::columnsReadInADarkTheme()
{
    const QPalette light = QApplication::palette();
    const auto restore = qScopeGuard([&] { QApplication::setPalette(light); });
    QApplication::setPalette(darkPalette());
    openWindow();
    // A row of a native name, drawn in its column colours once another one is current.
    QVERIFY(form->table().locate(Field::Name, NativeNames[2].name));
    const int row = form->table().currentRow();
    QVERIFY(form->table().locate(Field::Name, NativeNames[1].name));
    DirectoryGrid& view = *grid(*form);
    QVERIFY(view.viewport()->rect().contains(view.visualRect(gridModel(*form)->index(row, 5))));
    const QImage image = view.grab().toImage();
    const qreal ratio = image.devicePixelRatio();
    for (int column = 0; column < 6; ++column) {
        const QModelIndex cell = gridModel(*form)->index(row, column);
        const QVariant foreground = cell.data(Qt::ForegroundRole);
        const QVariant background = cell.data(Qt::BackgroundRole);
        const QColor text = foreground.isValid() ? foreground.value<QColor>() : view.palette().color(QPalette::Text);
        const QColor base = background.isValid() ? background.value<QColor>() : view.palette().color(QPalette::Base);
        QVERIFY2(contrast(text, base) >= 4.5, qPrintable(QString::number(column)));

        // As drawn: the cell's darkest pixel, its text, stands out from its background.
        const QRect area = view.visualRect(cell).translated(view.viewport()->pos()).adjusted(1, 1, -1, -1);
        QColor darkest = base;
        for (int y = qRound(area.top() * ratio); y < qRound(area.bottom() * ratio); ++y) {
            for (int x = qRound(area.left() * ratio); x < qRound(area.right() * ratio); ++x) {
                if (luminance(image.pixelColor(x, y)) < luminance(darkest))
                    darkest = image.pixelColor(x, y);
            }
        }
        QCOMPARE(image.pixelColor(qRound(area.left() * ratio), qRound(area.top() * ratio)), base);
        QVERIFY2(contrast(darkest, base) >= 4.5, qPrintable(QString::number(column)));
    }

    // Every glyph of the native names has a face, whatever face the window asks for.
    for (const Row& paper : NativeNames) {
        QTextLayout layout(paper.name, view.font());
        layout.beginLayout();
        layout.createLine();
        layout.endLayout();
        for (const QGlyphRun& run : layout.glyphRuns()) {
            for (quint32 glyph : run.glyphIndexes())
                QVERIFY2(glyph != 0, qPrintable(paper.name + QLatin1String(" in ") + run.rawFont().familyName()));
        }
    }
    saveScreenshot(form.get(), "main-window-dark.png");
}

void TestAccess::everyControlHasAName()
{
    openWindow();
    QStringList unnamed;
    QHash<QString, QString> names;
    collectNames(QAccessible::queryAccessibleInterface(form.get()), unnamed, names);
    collectNames(QAccessible::queryAccessibleInterface(popupMenu(*form)), unnamed, names);
    RecordDialog dialog(*form, RecordDialog::Mode::Modify);
    dialog.show();
    QHash<QString, QString> dialogNames;
    collectNames(QAccessible::queryAccessibleInterface(&dialog), unnamed, dialogNames);
    QCOMPARE(unnamed, QStringList());

    QCOMPARE(names.value("nameEdit"), QStringLiteral("Name"));
    QCOMPARE(names.value("countryBox"), QStringLiteral("Country"));
    QCOMPARE(names.value("favouritesBox"), QStringLiteral("My Favorites"));
    QCOMPARE(names.value("historyBox"), QStringLiteral("Visit History"));
    QCOMPARE(names.value("goToFavouriteButton"), QStringLiteral("Go to Favorite"));
    QCOMPARE(names.value("grid"), QStringLiteral("Newspapers"));
    QCOMPARE(names.value("exitAction"), QStringLiteral("Exit"));
    QCOMPARE(dialogNames.value("categoryBox"), QStringLiteral("Category"));
    QCOMPARE(dialogNames.value("webEdit"), QStringLiteral("Web"));

    // The grid's cells read out what they show.
    QAccessibleTableInterface* table = QAccessible::queryAccessibleInterface(grid(*form))->tableInterface();
    QVERIFY(table);
    QCOMPARE(table->columnCount(), 6);
    QCOMPARE(table->cellAt(2, 0)->text(QAccessible::Name), form->table().displayText(2, Field::Name));
    QCOMPARE(table->cellAt(2, 5)->text(QAccessible::Name), form->table().displayText(2, Field::Url));
}

void TestAccess::windowStaysOnScreen()
{
    // A 1280 x 1024 screen at scale 2 offers 640 x 512: too small for the main window.
    const QRect small(0, 0, 640, 512);
    QCOMPARE(Controls::placement(QRect(0, 0, 734, 537), small), QPoint(0, 0));
    QCOMPARE(Controls::placement(QRect(0, 0, 734, 400), small.adjusted(0, 30, 0, 0)), QPoint(0, 71));
    QCOMPARE(Controls::placement(QRect(0, 0, 600, 537), small.translated(1280, 0)), QPoint(1300, 0));
    QCOMPARE(Controls::placement(QRect(0, 0, 734, 537), QRect(0, 0, 1280, 1024)), QPoint(273, 243));

    openWindow();
    const QRect available = form->screen()->availableGeometry();
    const QRect frame = form->frameGeometry();
    QVERIFY(available.contains(frame.topLeft()));
    QCOMPARE(frame.topLeft(), Controls::placement(frame, available));
    saveScreenshot(form.get(), "main-window-scale2.png");
}

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_SCALE_FACTOR"))
        qputenv("QT_SCALE_FACTOR", "2");
    QApplication app(argc, argv);
    TestAccess test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_access.moc"
