#include "mainwindow/MainWindow.h"

#include "art/Artwork.h"
#include "desktop/ErrorReport.h"
#include "directory/ItemLists.h"
#include "directory/Table.h"
#include "grid/DBGrid.h"
#include "grid/NameListModel.h"
#include "startup/ProgramTitle.h"
#include "startup/Startup.h"
#include "widgets/Controls.h"

#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHash>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QShortcut>
#include <QTimer>
#include <QToolButton>

namespace {

constexpr int ClientWidth = 688;
// How long the records stay unchanged before the cache is written again.
constexpr int CacheDelayMs = 1500;
constexpr int ClientHeight = 475;

// Colours stored as 0x00BBGGRR.
QColor fromBgr(quint32 bgr)
{
    return QColor(bgr & 0xff, (bgr >> 8) & 0xff, (bgr >> 16) & 0xff);
}
const QColor PaleBlueGrey = fromBgr(15723495);
const QColor PaleCream = fromBgr(15138815);
const QColor Navy = fromBgr(0x800000);
// Window text as the light desktop draws it. The backgrounds are fixed, so the text
// is too: a dark theme's light window text would vanish on them.
const QColor WindowText = fromBgr(0x000000);

const char* const HandlerProperty = "handler";

using Handler = void (TForm1::*)();

const QHash<QString, Handler>& handlers()
{
    static const QHash<QString, Handler> table = {
        {QStringLiteral("Exit1Click"), &TForm1::Exit1Click},
        {QStringLiteral("SendFeedback1Click"), &TForm1::SendFeedback1Click},
        {QStringLiteral("VisitHomepage1Click"), &TForm1::VisitHomepage1Click},
        {QStringLiteral("About1Click"), &TForm1::About1Click},
        {QStringLiteral("BitBtn5Click"), &TForm1::BitBtn5Click},
        {QStringLiteral("BitBtn4Click"), &TForm1::BitBtn4Click},
        {QStringLiteral("Name1Click"), &TForm1::Name1Click},
        {QStringLiteral("Country1Click"), &TForm1::Country1Click},
        {QStringLiteral("State1Click"), &TForm1::State1Click},
        {QStringLiteral("City1Click"), &TForm1::City1Click},
        {QStringLiteral("Category1Click"), &TForm1::Category1Click},
        {QStringLiteral("WebAddress1Click"), &TForm1::WebAddress1Click},
        {QStringLiteral("BitBtn2Click"), &TForm1::BitBtn2Click},
        {QStringLiteral("DBGrid1DblClick"), &TForm1::DBGrid1DblClick},
        {QStringLiteral("BitBtn7Click"), &TForm1::BitBtn7Click},
        {QStringLiteral("SpeedButton1Click"), &TForm1::SpeedButton1Click},
        {QStringLiteral("SpeedButton2Click"), &TForm1::SpeedButton2Click},
        {QStringLiteral("SpeedButton3Click"), &TForm1::SpeedButton3Click},
        {QStringLiteral("SpeedButton4Click"), &TForm1::SpeedButton4Click},
        {QStringLiteral("BitBtn1Click"), &TForm1::BitBtn1Click},
        {QStringLiteral("BitBtn9Click"), &TForm1::BitBtn9Click},
        {QStringLiteral("BitBtn3Click"), &TForm1::BitBtn3Click},
    };
    return table;
}

QLineEdit* edit(QWidget* parent, const char* name, int x, int y, int w, int h)
{
    auto* result = new QLineEdit(QStringLiteral("All"), parent);
    result->setObjectName(QLatin1String(name));
    result->setGeometry(x, y, w, h);
    return result;
}

// `spoken` names the button for screen readers, which cannot tell two "Go" hints apart
// by where they stand; the hint becomes its description.
QToolButton* smallButton(QWidget* parent, const char* name, const QString& hint, const QString& spoken,
                         const QString& picture, int x, int y)
{
    auto* result = new QToolButton(parent);
    result->setObjectName(QLatin1String(name));
    result->setGeometry(x, y, 21, 21);
    result->setToolTip(hint);
    result->setAccessibleName(spoken);
    result->setAccessibleDescription(hint);
    result->setIcon(Artwork::icon(picture, QSize(16, 16)));
    result->setIconSize(QSize(16, 16));
    result->setAutoRaise(true);
    result->setFocusPolicy(Qt::NoFocus);
    return result;
}

QToolButton* pictureButton(QWidget* parent, const char* name, const QString& text, const QString& picture,
                           QRect geometry, QSize pictureSize)
{
    auto* result = new QToolButton(parent);
    result->setObjectName(QLatin1String(name));
    result->setGeometry(geometry);
    result->setAccessibleName(text);
    result->setIcon(Artwork::icon(picture, pictureSize));
    result->setIconSize(pictureSize);
    result->setAutoRaise(true);
    result->setFocusPolicy(Qt::NoFocus);
    return result;
}

} // namespace

QFont TForm1::windowFont()
{
    // The controls are placed for a narrow 8-point sans-serif; where the designed face is
    // missing, the closest narrow faces stand in before the desktop's default. None of
    // them has Chinese, Japanese or Korean: Qt takes those characters from the
    // desktop's fallback faces (Noto Sans CJK on Debian).
    static const bool substituted = [] {
        QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                                   {QStringLiteral("Microsoft Sans Serif"), QStringLiteral("Liberation Sans"),
                                    QStringLiteral("Arimo"), QStringLiteral("Arial"), QStringLiteral("Helvetica"),
                                    QStringLiteral("Nimbus Sans"), QStringLiteral("DejaVu Sans Condensed")});
        return true;
    }();
    Q_UNUSED(substituted);
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(8);
    return font;
}

TForm1::TForm1(const Platform& platform, QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                              Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint)
    , m_platform(platform)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Form1"));
    setFont(windowFont());

    Table1 = new Table(this);
    Table1->setObjectName(QStringLiteral("Table1"));
    Table1->setOnFilterRecord([this] { return Table1FilterRecord(); });
    // While another program's lock holds up the table, the pointer shows it.
    Table1->setBusyObserver([](bool waiting) {
        if (waiting)
            QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        else
            QGuiApplication::restoreOverrideCursor();
    });
    DataSource1 = new DataSource(*Table1, this);
    DataSource1->setObjectName(QStringLiteral("DataSource1"));
    ImageList1 = Artwork::imageList();

    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    client->setFixedSize(ClientWidth, ClientHeight);
    setCentralWidget(client);
    buildControls(client);
    buildGrid(client);
    buildMenus();
    buildTabOrder();
    setFixedSize(sizeHint());

    // The table opens with the window, from the data folder whatever the working
    // directory; failing here fails the whole window.
    const QString dataPath = platform.folder.dataLocation().folder();
    Table1->setFileName(dataPath + QStringLiteral("Data/list.db"));
    Table1->open();
    ExePath = platform.folder.exePath();
    DataPath = dataPath;

    ErrorReport::guard(m_platform, this, [this] { FormCreate(); });

    // From here on, reading the file after another program wrote it and building an
    // order run off the window's thread: the pointer shows the wait, and commands wait
    // for the table (see run()).
    Table1->setBackgroundWork(true);
    connect(Table1, &Table::busyChanged, this, [](bool busy) {
        if (busy)
            QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        else
            QGuiApplication::restoreOverrideCursor();
    });
    connect(Table1, &Table::backgroundFailed, this,
            [this](const QString& message) { ErrorReport::show(m_platform, this, message); });
    // The cache beside the table is written once the records have been still a moment.
    m_cacheTimer = new QTimer(this);
    m_cacheTimer->setSingleShot(true);
    m_cacheTimer->setInterval(CacheDelayMs);
    connect(m_cacheTimer, &QTimer::timeout, Table1, &Table::saveCacheInBackground);
    connect(Table1, &Table::cacheOutOfDate, m_cacheTimer, qOverload<>(&QTimer::start));
    if (!Table1->cacheIsCurrent())
        m_cacheTimer->start();
}

TForm1::~TForm1() = default;

void TForm1::FormCreate()
{
    setWindowTitle(ProgramTitle);
    // A list that cannot be read is reported on its own; the session still gets the
    // other list, the table, its number counter and its order.
    ErrorReport::guard(m_platform, this, [this] { LoadFavorites(); });
    ErrorReport::guard(m_platform, this, [this] { LoadHistory(); });
    LastNo = Startup::openDirectory(*Table1, DataPath);
}

void TForm1::Exit1Click()
{
    close();
}

void TForm1::buildControls(QWidget* client)
{
    GroupBox2 = new QGroupBox(QStringLiteral("Shortcuts"), client);
    GroupBox2->setObjectName(QStringLiteral("GroupBox2"));
    GroupBox2->setGeometry(24, 8, 297, 113);
    Label7 = Controls::label(GroupBox2, "Label7", QStringLiteral("My Favorites"), QPoint(16, 32));
    ComboBox3 = Controls::comboBox(GroupBox2, "ComboBox3", QRect(80, 28, 145, 21), false);
    ComboBox3->setModel(new NameListModel(ComboBox3));
    SpeedButton1 = smallButton(GroupBox2, "SpeedButton1", QStringLiteral("Go"), QStringLiteral("Go to Favorite"),
                               QStringLiteral("go-favorite"), 228, 28);
    SpeedButton2 = smallButton(GroupBox2, "SpeedButton2", QStringLiteral("Delete"), QStringLiteral("Delete Favorite"),
                               QStringLiteral("delete-favorite"), 252, 28);
    Label8 = Controls::label(GroupBox2, "Label8", QStringLiteral("Visit History"), QPoint(16, 64));
    ComboBox4 = Controls::comboBox(GroupBox2, "ComboBox4", QRect(80, 60, 145, 21), true);
    ComboBox4->setModel(new NameListModel(ComboBox4));
    ComboBox4->setEditText(QString());
    SpeedButton3 = smallButton(GroupBox2, "SpeedButton3", QStringLiteral("Go"),
                               QStringLiteral("Go to Visited Newspaper"), QStringLiteral("go-history"), 228, 60);
    SpeedButton4 = smallButton(GroupBox2, "SpeedButton4", QStringLiteral("Clear History"),
                               QStringLiteral("Clear History"), QStringLiteral("clear-history"), 252, 60);

    SpeedButton5 = pictureButton(client, "SpeedButton5", QStringLiteral("Read Now"), QStringLiteral("read-now"),
                                 QRect(104, 152, 120, 28), QSize(120, 26));

    GroupBox1 = new QGroupBox(QStringLiteral("Search Newspaper"), client);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    GroupBox1->setGeometry(360, 8, 305, 185);
    Label1 = Controls::label(GroupBox1, "Label1", QStringLiteral("Name"), QPoint(8, 32));
    Edit1 = edit(GroupBox1, "Edit1", 56, 28, 233, 21);
    Label2 = Controls::label(GroupBox1, "Label2", QStringLiteral("Country"), QPoint(8, 64));
    ComboBox1 = Controls::comboBox(GroupBox1, "ComboBox1", QRect(56, 60, 97, 21), true);
    ComboBox1->addItems(ItemLists::searchCountries());
    ComboBox1->setCurrentIndex(0);
    Label3 = Controls::label(GroupBox1, "Label3", QStringLiteral("State"), QPoint(168, 64));
    Edit3 = edit(GroupBox1, "Edit3", 208, 60, 81, 21);
    Label4 = Controls::label(GroupBox1, "Label4", QStringLiteral("City"), QPoint(8, 96));
    Edit4 = edit(GroupBox1, "Edit4", 56, 92, 97, 21);
    Label5 = Controls::label(GroupBox1, "Label5", QStringLiteral("Category"), QPoint(160, 96));
    ComboBox2 = Controls::comboBox(GroupBox1, "ComboBox2", QRect(208, 92, 81, 21), true);
    ComboBox2->addItems(ItemLists::searchCategories());
    ComboBox2->setCurrentIndex(0);
    Label6 = Controls::label(GroupBox1, "Label6", QStringLiteral("Web"), QPoint(8, 128));
    Edit6 = edit(GroupBox1, "Edit6", 56, 124, 233, 21);
    SpeedButton6 = pictureButton(GroupBox1, "SpeedButton6", QStringLiteral("Search"), QStringLiteral("search"),
                                 QRect(40, 156, 90, 21), QSize(90, 19));
    SpeedButton7 = pictureButton(GroupBox1, "SpeedButton7", QStringLiteral("Show All"), QStringLiteral("show-all"),
                                 QRect(168, 156, 90, 21), QSize(90, 19));

    // Screen readers name each box by its label.
    Controls::labelFor(Label1, Edit1);
    Controls::labelFor(Label2, ComboBox1);
    Controls::labelFor(Label3, Edit3);
    Controls::labelFor(Label4, Edit4);
    Controls::labelFor(Label5, ComboBox2);
    Controls::labelFor(Label6, Edit6);
    Controls::labelFor(Label7, ComboBox3);
    Controls::labelFor(Label8, ComboBox4);

    // Enter in a criterion steps to the next one instead of reaching the control.
    for (QWidget* criterion :
         {static_cast<QWidget*>(Edit1), static_cast<QWidget*>(ComboBox1), static_cast<QWidget*>(Edit3),
          static_cast<QWidget*>(Edit4), static_cast<QWidget*>(ComboBox2), static_cast<QWidget*>(Edit6)}) {
        criterion->installEventFilter(this);
        if (auto* combo = qobject_cast<QComboBox*>(criterion))
            combo->lineEdit()->installEventFilter(this);
    }

    // The picture buttons take no focus; these keys reach them from anywhere in the window.
    auto* search = new QShortcut(QKeySequence(Qt::Key_F3), this);
    connect(search, &QShortcut::activated, this, [this] { run(QStringLiteral("BitBtn5Click")); });
    auto* showAll = new QShortcut(QKeySequence(Qt::Key_F4), this);
    connect(showAll, &QShortcut::activated, this, [this] { run(QStringLiteral("BitBtn4Click")); });
    // Ctrl+F: straight to the first criterion, ready to be typed over.
    auto* find = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_F), this);
    connect(find, &QShortcut::activated, this, [this] {
        Edit1->setFocus(Qt::ShortcutFocusReason);
        Edit1->selectAll();
    });
    // Enter in a list box is its Go button.
    ComboBox3->installEventFilter(this);
    ComboBox4->installEventFilter(this);
    ComboBox4->lineEdit()->installEventFilter(this);

    bind(SpeedButton1, QStringLiteral("SpeedButton1Click"));
    bind(SpeedButton2, QStringLiteral("SpeedButton2Click"));
    bind(SpeedButton3, QStringLiteral("SpeedButton3Click"));
    bind(SpeedButton4, QStringLiteral("SpeedButton4Click"));
    bind(SpeedButton5, QStringLiteral("BitBtn2Click"));
    bind(SpeedButton6, QStringLiteral("BitBtn5Click"));
    bind(SpeedButton7, QStringLiteral("BitBtn4Click"));
}

void TForm1::buildGrid(QWidget* client)
{
    DataSource1->setColumns({
        {QStringLiteral("Name"), QStringLiteral("Newspaper Name"), 150, PaleBlueGrey, WindowText},
        {QStringLiteral("Country"), QStringLiteral("Country"), 80, PaleCream, Navy},
        {QStringLiteral("State"), QStringLiteral("State"), 50, PaleBlueGrey, WindowText},
        {QStringLiteral("City"), QStringLiteral("City"), 90, PaleCream, Navy},
        {QStringLiteral("Category"), QStringLiteral("Category"), 90, PaleBlueGrey, WindowText},
        {QStringLiteral("Url"), QStringLiteral("Web Address"), 188, PaleCream, Navy},
    });
    DBGrid1 = new DBGrid(client);
    DBGrid1->setObjectName(QStringLiteral("DBGrid1"));
    DBGrid1->setGeometry(0, 201, 688, 274);
    DBGrid1->setDataSource(DataSource1);
    DBGrid1->setAccessibleName(QStringLiteral("Newspapers"));
    connect(DBGrid1, &DBGrid::gridDoubleClicked, this, [this] { run(QStringLiteral("DBGrid1DblClick")); });
    // The keyboard's way to the grid's two most used commands.
    connect(DBGrid1, &DBGrid::enterPressed, this, [this] { run(QStringLiteral("BitBtn2Click")); });
    connect(DBGrid1, &DBGrid::deletePressed, this, [this] { run(QStringLiteral("BitBtn3Click")); });
    connect(DBGrid1, &DBGrid::titleClicked, this, [this](const GridColumn& column) {
        if (Table1->busy())
            return;
        emit commandRun(QStringLiteral("DBGrid1TitleClick"));
        ErrorReport::guard(m_platform, this, [&] { DBGrid1TitleClick(column); });
    });
    connect(DBGrid1, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { PopupMenu1->popup(DBGrid1->viewport()->mapToGlobal(at)); });
}

void TForm1::buildMenus()
{
    auto item = [this](QMenu* menu, const char* name, const QString& text, int picture, const QString& handler) {
        QAction* action = menu->addAction(text);
        action->setObjectName(QLatin1String(name));
        if (picture >= 0)
            action->setIcon(ImageList1[static_cast<size_t>(picture)]);
        if (!handler.isEmpty())
            bind(action, handler);
        return action;
    };

    menuBar()->setObjectName(QStringLiteral("MainMenu1"));
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    file->setObjectName(QStringLiteral("File1"));
    item(file, "AddaNewRecord2", QStringLiteral("&Add a New Record"), 0, QStringLiteral("BitBtn1Click"));
    item(file, "ModifyRecord1", QStringLiteral("&Modify Record"), 7, QStringLiteral("BitBtn9Click"));
    item(file, "DeleteRecord1", QStringLiteral("&Delete Record"), 2, QStringLiteral("BitBtn3Click"));
    file->addSeparator();
    item(file, "AddtoFavorites2", QStringLiteral("Add to &Favorites"), 3, QStringLiteral("BitBtn7Click"));
    file->addSeparator();
    item(file, "Exit1", QStringLiteral("E&xit"), 9, QStringLiteral("Exit1Click"));

    QMenu* sort = menuBar()->addMenu(QStringLiteral("&Sort"));
    sort->setObjectName(QStringLiteral("Sort1"));
    item(sort, "Name1", QStringLiteral("Sort by &Name"), 13, QStringLiteral("Name1Click"));
    item(sort, "Country1", QStringLiteral("Sort by &Country"), 13, QStringLiteral("Country1Click"));
    item(sort, "State1", QStringLiteral("Sort by &State"), 13, QStringLiteral("State1Click"));
    item(sort, "City1", QStringLiteral("Sort by C&ity"), 13, QStringLiteral("City1Click"));
    item(sort, "Category1", QStringLiteral("Sort by C&ategory"), 13, QStringLiteral("Category1Click"));
    item(sort, "WebAddress1", QStringLiteral("Sort by &Web Address"), 13, QStringLiteral("WebAddress1Click"));

    QAction* readNow = menuBar()->addAction(QStringLiteral("&Read Now"));
    readNow->setObjectName(QStringLiteral("VisitNow1"));
    bind(readNow, QStringLiteral("BitBtn2Click"));

    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    help->setObjectName(QStringLiteral("Help1"));
    item(help, "HelpTopics1", QStringLiteral("&Help Topics"), 10, QString()); // no help file exists
    help->addSeparator();
    item(help, "SendFeedback1", QStringLiteral("Send &Feedback"), 12, QStringLiteral("SendFeedback1Click"));
    item(help, "VisitHomepage1", QStringLiteral("Visit &Homepage"), 11, QStringLiteral("VisitHomepage1Click"));
    help->addSeparator();
    item(help, "About1", QStringLiteral("&About"), 8, QStringLiteral("About1Click"));

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    item(PopupMenu1, "N11", QStringLiteral("&Read Now!"), 5, QStringLiteral("BitBtn2Click"));
    PopupMenu1->addSeparator();
    item(PopupMenu1, "AddaNewRecord1", QStringLiteral("&Add a New Record"), 0, QStringLiteral("BitBtn1Click"));
    item(PopupMenu1, "Modify1", QStringLiteral("&Modify This Record"), 7, QStringLiteral("BitBtn9Click"));
    item(PopupMenu1, "Delete1", QStringLiteral("&Delete This Record"), 2, QStringLiteral("BitBtn3Click"));
    PopupMenu1->addSeparator();
    item(PopupMenu1, "AddtoFavorites1", QStringLiteral("Add to &Favorites"), 3, QStringLiteral("BitBtn7Click"));
    PopupMenu1->addSeparator();
    QMenu* sortBy = PopupMenu1->addMenu(ImageList1[13], QStringLiteral("&Sort by"));
    sortBy->setObjectName(QStringLiteral("Sortby1"));
    sortBy->menuAction()->setObjectName(QStringLiteral("Sortby1"));
    item(sortBy, "Name2", QStringLiteral("&Name"), -1, QStringLiteral("Name1Click"));
    item(sortBy, "Country2", QStringLiteral("&Country"), -1, QStringLiteral("Country1Click"));
    item(sortBy, "State2", QStringLiteral("&State"), -1, QStringLiteral("State1Click"));
    item(sortBy, "City2", QStringLiteral("C&ity"), -1, QStringLiteral("City1Click"));
    item(sortBy, "Category2", QStringLiteral("C&ategory"), -1, QStringLiteral("Category1Click"));
    item(sortBy, "WebAddress2", QStringLiteral("&Web Address"), -1, QStringLiteral("WebAddress1Click"));
}

void TForm1::buildTabOrder()
{
    // Grid, then the search group, then the shortcuts group; the small and the picture
    // buttons never take the focus.
    const QList<QWidget*> chain = {DBGrid1, Edit1, ComboBox1, Edit3, Edit4, ComboBox2, Edit6, ComboBox3, ComboBox4};
    for (int i = 0; i + 1 < chain.size(); ++i)
        setTabOrder(chain[i], chain[i + 1]);
    DBGrid1->setFocus();
}

void TForm1::bind(QObject* control, const QString& handler)
{
    control->setProperty(HandlerProperty, handler);
    if (auto* action = qobject_cast<QAction*>(control))
        connect(action, &QAction::triggered, this, [this, handler] { run(handler); });
    else if (auto* button = qobject_cast<QToolButton*>(control))
        connect(button, &QToolButton::clicked, this, [this, handler] { run(handler); });
}

QString TForm1::handlerOf(const QObject* control)
{
    return control->property(HandlerProperty).toString();
}

QAction* TForm1::menuItem(const QString& name) const
{
    for (QAction* action : findChildren<QAction*>(name)) {
        if (!action->isSeparator())
            return action;
    }
    return nullptr;
}

void TForm1::run(const QString& handler)
{
    const Handler member = handlers().value(handler, nullptr);
    // While the table is busy with background work, commands are not taken.
    if (!member || Table1->busy())
        return;
    emit commandRun(handler);
    ErrorReport::guard(m_platform, this, [&] { (this->*member)(); });
}

bool TForm1::confirm(const QString& question)
{
    return m_platform.boxes.show(this, question, QStringLiteral("Confirmation"), MessageBoxes::Style::Confirmation) ==
           MessageBoxes::Answer::Ok;
}

bool TForm1::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        const auto& key = *static_cast<QKeyEvent*>(event);
        const bool enter = Controls::isEnterKey(key);
        const bool carriageReturn = enter || Controls::isTypedCarriageReturn(key);
        if (enter && watched == ComboBox3) {
            run(QStringLiteral("SpeedButton1Click"));
            return true;
        }
        if (enter && (watched == ComboBox4 || watched == ComboBox4->lineEdit())) {
            run(QStringLiteral("SpeedButton3Click"));
            return true;
        }
        if (carriageReturn) {
            QChar typed(13);
            Edit1KeyPress(watched, typed);
            if (typed.isNull())
                return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void TForm1::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (!m_centred) {
        m_centred = true;
        Controls::centreOnScreen(this);
    }
}
