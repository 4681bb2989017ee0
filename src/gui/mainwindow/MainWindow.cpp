#include "mainwindow/MainWindow.h"

#include "art/Artwork.h"
#include "commands/CommandQueue.h"
#include "desktop/ErrorReport.h"
#include "directory/Collation.h"
#include "directory/ItemLists.h"
#include "directory/Table.h"
#include "directory/TableFile.h"
#include "grid/DirectoryGrid.h"
#include "grid/NameListModel.h"
#include "startup/ProgramTitle.h"
#include "startup/Startup.h"
#include "widgets/Controls.h"
#include "widgets/WorkIndicator.h"

#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QShortcut>
#include <QTimer>
#include <QToolButton>
#include <QtConcurrent/QtConcurrentRun>

namespace {

constexpr int ClientWidth = 688;
constexpr int ClientHeight = 475;
// How long the records stay unchanged before the cache is written again.
constexpr int CacheDelayMs = 1500;
// How often a table kept closed by another program's lock is tried again.
constexpr int ReopenCheckMs = 250;

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

QLineEdit* criterionEdit(QWidget* parent, const char* name, QRect geometry)
{
    auto* result = new QLineEdit(QStringLiteral("All"), parent);
    result->setObjectName(QLatin1String(name));
    result->setGeometry(geometry);
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

// A button that is all picture: the focus shows as a dotted frame over its edge, since
// the picture leaves the style no room for its own.
class PictureButton : public QToolButton
{
public:
    using QToolButton::QToolButton;

protected:
    void paintEvent(QPaintEvent* event) override
    {
        QToolButton::paintEvent(event);
        if (!hasFocus())
            return;
        QPainter painter(this);
        const QRect frame = rect().adjusted(0, 0, -1, -1);
        painter.setPen(QPen(palette().color(QPalette::Base), 1));
        painter.drawRect(frame);
        painter.setPen(QPen(palette().color(QPalette::Text), 1, Qt::DotLine));
        painter.drawRect(frame);
    }
};

// The picture buttons take the focus from the keyboard (Tab), never from a click, so a
// click leaves the focus where it was.
QToolButton* pictureButton(QWidget* parent, const char* name, const QString& text, const QString& description,
                           const QString& picture, QRect geometry, QSize pictureSize)
{
    auto* result = new PictureButton(parent);
    result->setObjectName(QLatin1String(name));
    result->setGeometry(geometry);
    result->setAccessibleName(text);
    result->setAccessibleDescription(description);
    result->setIcon(Artwork::icon(picture, pictureSize));
    result->setIconSize(pictureSize);
    result->setAutoRaise(true);
    result->setFocusPolicy(Qt::TabFocus);
    return result;
}

// Shows the key of a command beside its menu item. The key itself belongs to the window
// (F1) or the grid (Ctrl+C): in the menu it acts only while the menu is open.
void showKey(QAction* action, const QKeySequence& key)
{
    action->setShortcut(key);
    action->setShortcutContext(Qt::WidgetShortcut);
}

void followBusyWithCursor(bool busy)
{
    if (busy)
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QGuiApplication::restoreOverrideCursor();
}

} // namespace

QFont MainWindow::windowFont()
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

MainWindow::MainWindow(const Platform& platform, QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                              Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint)
    , m_platform(platform)
    , m_collationReady(QtConcurrent::run(&Collation::prepare))
{
    setObjectName(QStringLiteral("mainWindow"));
    setWindowTitle(QStringLiteral("Form1"));
    setFont(windowFont());

    m_table = new Table(this);
    m_table->setObjectName(QStringLiteral("table"));
    m_table->setOnFilterRecord([this] { return searchRule(); });
    // While another program's lock holds up the table, the pointer shows it.
    m_table->setBusyObserver(followBusyWithCursor);
    m_model = new DirectoryModel(*m_table, this);
    m_toolWork = new BackgroundWork(this);
    m_toolWork->setObjectName(QStringLiteral("toolWork"));
    m_commands = new CommandQueue(
        [this] { return m_table->busy() || m_toolWork->busy() || m_toolConcluding; },
        [this](const CommandQueue::Command& command) { ErrorReport::guard(m_platform, this, command); }, this);
    // The table opens with the window, from the data folder whatever the working
    // directory, and is read while the window is built.
    const DataLocation location = platform.folder.dataLocation();
    m_dataFolder = location.folder();
    m_table->setFileName(location.tablePath());
    m_table->setCacheFile(location.cachePath());
    m_table->readAhead();
    m_pictures = Artwork::imageList();

    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    client->setFixedSize(ClientWidth, ClientHeight);
    setCentralWidget(client);
    buildControls(client);
    buildGrid(client);
    buildMenus();
    buildTabOrder();
    buildShortcuts();
    setFixedSize(sizeHint());

    // Failing here fails the whole window.
    m_table->open();

    // From here on, reading the file after another program wrote it and building an
    // order run beside the window's thread: the pointer and the work indicator show it,
    // and commands given meanwhile wait for it (see CommandQueue). So does start-up's
    // first order of a large table, whose first page the window shows meanwhile.
    m_table->setBackgroundWork(true);
    connect(m_table, &Table::busyChanged, this, [this](bool busy) {
        followBusyWithCursor(busy);
        if (!busy) {
            Startup::returnFreedMemory();
            m_commands->workEnded();
        }
    });
    connect(m_table, &Table::backgroundFailed, this,
            [this](const QString& message) { ErrorReport::show(m_platform, this, message); });
    m_workIndicator->watch(m_table->work(), false);

    ErrorReport::guard(m_platform, this, [this] { startUp(); });

    // The commands on the whole directory run beside the window too; they can be cancelled.
    m_workIndicator->watch(*m_toolWork, true);
    connect(m_toolWork, &BackgroundWork::busyChanged, this, [this](bool busy) {
        m_cancelToolKey->setEnabled(busy);
        if (!busy)
            m_commands->workEnded();
    });
    connect(m_toolWork, &BackgroundWork::failed, this,
            [this](const QString& message) { ErrorReport::show(m_platform, this, message); });

    // The cache beside the table is written once the records have been still a moment.
    m_cacheTimer = new QTimer(this);
    m_cacheTimer->setSingleShot(true);
    m_cacheTimer->setInterval(CacheDelayMs);
    connect(m_cacheTimer, &QTimer::timeout, m_table, &Table::saveCacheInBackground);
    connect(m_table, &Table::cacheOutOfDate, m_cacheTimer, qOverload<>(&QTimer::start));
    if (!m_table->cacheIsCurrent())
        m_cacheTimer->start();

    // A table that another program's lock kept closed shows again as soon as the lock is
    // gone, without waiting for the user's next command.
    m_reopenTimer = new QTimer(this);
    m_reopenTimer->setInterval(ReopenCheckMs);
    connect(m_reopenTimer, &QTimer::timeout, this, [this] {
        if (!m_table->wantsOpen()) {
            m_reopenTimer->stop();
            return;
        }
        if (!m_table->busy() && m_commands->waiting() == 0 && TableFile::readableNow(m_table->fileName()))
            give(QStringLiteral("reopen"), [this] { m_table->open(); });
    });
    connect(m_commands, &CommandQueue::finished, this, [this] {
        if (m_table->wantsOpen() && !m_reopenTimer->isActive())
            m_reopenTimer->start();
    });
    connect(m_table, &Table::backgroundFailed, m_reopenTimer, qOverload<>(&QTimer::start));
}

MainWindow::~MainWindow()
{
    m_collationReady.waitForFinished();
}

void MainWindow::startUp()
{
    setWindowTitle(ProgramTitle);
    // A list that cannot be read is reported on its own; the session still gets the
    // other list, the table, its number counter and its order.
    ErrorReport::guard(m_platform, this, [this] { loadFavourites(); });
    ErrorReport::guard(m_platform, this, [this] { loadHistory(); });
    m_lastNumber = Startup::openDirectory(*m_table, m_dataFolder);
}

void MainWindow::buildControls(QWidget* client)
{
    m_shortcutsGroup = new QGroupBox(QStringLiteral("Shortcuts"), client);
    m_shortcutsGroup->setObjectName(QStringLiteral("shortcutsGroup"));
    m_shortcutsGroup->setGeometry(24, 8, 297, 113);
    QLabel* favouritesLabel =
        Controls::label(m_shortcutsGroup, "favouritesLabel", QStringLiteral("My Favorites"), QPoint(16, 32));
    m_favouritesBox = Controls::comboBox(m_shortcutsGroup, "favouritesBox", QRect(80, 28, 145, 21), false);
    m_favouritesBox->setModel(new NameListModel(m_favouritesBox));
    m_goToFavouriteButton = smallButton(m_shortcutsGroup, "goToFavouriteButton", QStringLiteral("Go"),
                                        QStringLiteral("Go to Favorite"), QStringLiteral("go-favorite"), 228, 28);
    m_deleteFavouriteButton =
        smallButton(m_shortcutsGroup, "deleteFavouriteButton", QStringLiteral("Delete"),
                    QStringLiteral("Delete Favorite"), QStringLiteral("delete-favorite"), 252, 28);
    QLabel* historyLabel =
        Controls::label(m_shortcutsGroup, "historyLabel", QStringLiteral("Visit History"), QPoint(16, 64));
    m_historyBox = Controls::comboBox(m_shortcutsGroup, "historyBox", QRect(80, 60, 145, 21), true);
    m_historyBox->setModel(new NameListModel(m_historyBox));
    m_historyBox->setEditText(QString());
    m_goToVisitedButton = smallButton(m_shortcutsGroup, "goToVisitedButton", QStringLiteral("Go"),
                                      QStringLiteral("Go to Visited Newspaper"), QStringLiteral("go-history"), 228, 60);
    m_clearHistoryButton = smallButton(m_shortcutsGroup, "clearHistoryButton", QStringLiteral("Clear History"),
                                       QStringLiteral("Clear History"), QStringLiteral("clear-history"), 252, 60);

    m_readNowButton = pictureButton(client, "readNowButton", QStringLiteral("Read Now"),
                                    QStringLiteral("Opens the selected newspaper in your web browser"),
                                    QStringLiteral("read-now"), QRect(104, 152, 120, 28), QSize(120, 26));
    // Below Read Now, in the strip above the grid: what long work beside the window does.
    m_workIndicator = new WorkIndicator(client);
    m_workIndicator->setObjectName(QStringLiteral("workIndicator"));
    m_workIndicator->setGeometry(8, 182, 340, 17);

    m_searchGroup = new QGroupBox(QStringLiteral("Search Newspaper"), client);
    m_searchGroup->setObjectName(QStringLiteral("searchGroup"));
    m_searchGroup->setGeometry(360, 8, 305, 185);
    QLabel* nameLabel = Controls::label(m_searchGroup, "nameLabel", QStringLiteral("Name"), QPoint(8, 32));
    m_nameEdit = criterionEdit(m_searchGroup, "nameEdit", QRect(56, 28, 233, 21));
    QLabel* countryLabel = Controls::label(m_searchGroup, "countryLabel", QStringLiteral("Country"), QPoint(8, 64));
    m_countryBox = Controls::comboBox(m_searchGroup, "countryBox", QRect(56, 60, 97, 21), true);
    m_countryBox->addItems(ItemLists::searchCountries());
    m_countryBox->setCurrentIndex(0);
    QLabel* stateLabel = Controls::label(m_searchGroup, "stateLabel", QStringLiteral("State"), QPoint(168, 64));
    m_stateEdit = criterionEdit(m_searchGroup, "stateEdit", QRect(208, 60, 81, 21));
    QLabel* cityLabel = Controls::label(m_searchGroup, "cityLabel", QStringLiteral("City"), QPoint(8, 96));
    m_cityEdit = criterionEdit(m_searchGroup, "cityEdit", QRect(56, 92, 97, 21));
    QLabel* categoryLabel =
        Controls::label(m_searchGroup, "categoryLabel", QStringLiteral("Category"), QPoint(160, 96));
    m_categoryBox = Controls::comboBox(m_searchGroup, "categoryBox", QRect(208, 92, 81, 21), true);
    m_categoryBox->addItems(ItemLists::searchCategories());
    m_categoryBox->setCurrentIndex(0);
    QLabel* webLabel = Controls::label(m_searchGroup, "webLabel", QStringLiteral("Web"), QPoint(8, 128));
    m_webEdit = criterionEdit(m_searchGroup, "webEdit", QRect(56, 124, 233, 21));
    m_searchButton = pictureButton(m_searchGroup, "searchButton", QStringLiteral("Search"),
                                   QStringLiteral("Shows the newspapers that meet the criteria (F3)"),
                                   QStringLiteral("search"), QRect(40, 156, 90, 21), QSize(90, 19));
    m_showAllButton = pictureButton(m_searchGroup, "showAllButton", QStringLiteral("Show All"),
                                    QStringLiteral("Shows every newspaper again (F4)"), QStringLiteral("show-all"),
                                    QRect(168, 156, 90, 21), QSize(90, 19));

    // Screen readers name each box by its label.
    Controls::labelFor(nameLabel, m_nameEdit);
    Controls::labelFor(countryLabel, m_countryBox);
    Controls::labelFor(stateLabel, m_stateEdit);
    Controls::labelFor(cityLabel, m_cityEdit);
    Controls::labelFor(categoryLabel, m_categoryBox);
    Controls::labelFor(webLabel, m_webEdit);
    Controls::labelFor(favouritesLabel, m_favouritesBox);
    Controls::labelFor(historyLabel, m_historyBox);

    // Enter in a criterion steps to the next one instead of reaching the control.
    m_criteria = {m_nameEdit, m_countryBox, m_stateEdit, m_cityEdit, m_categoryBox, m_webEdit};
    for (QWidget* criterion : m_criteria) {
        criterion->installEventFilter(this);
        if (auto* combo = qobject_cast<QComboBox*>(criterion))
            combo->lineEdit()->installEventFilter(this);
    }
    // Enter in a list box is its Go button; on a picture button, it presses it.
    for (QObject* watched : {static_cast<QObject*>(m_favouritesBox), static_cast<QObject*>(m_historyBox),
                             static_cast<QObject*>(m_historyBox->lineEdit()), static_cast<QObject*>(m_readNowButton),
                             static_cast<QObject*>(m_searchButton), static_cast<QObject*>(m_showAllButton)})
        watched->installEventFilter(this);

    connect(m_goToFavouriteButton, &QToolButton::clicked, this, &MainWindow::goToFavourite);
    connect(m_deleteFavouriteButton, &QToolButton::clicked, this, &MainWindow::deleteFavourite);
    connect(m_goToVisitedButton, &QToolButton::clicked, this, &MainWindow::goToVisited);
    connect(m_clearHistoryButton, &QToolButton::clicked, this, &MainWindow::clearHistory);
    connect(m_readNowButton, &QToolButton::clicked, this, &MainWindow::readNow);
    connect(m_searchButton, &QToolButton::clicked, this, &MainWindow::search);
    connect(m_showAllButton, &QToolButton::clicked, this, &MainWindow::showAll);
}

void MainWindow::buildGrid(QWidget* client)
{
    m_model->setColumns({
        {Field::Name, QStringLiteral("Newspaper Name"), 150, PaleBlueGrey, WindowText},
        {Field::Country, QStringLiteral("Country"), 80, PaleCream, Navy},
        {Field::State, QStringLiteral("State"), 50, PaleBlueGrey, WindowText},
        {Field::City, QStringLiteral("City"), 90, PaleCream, Navy},
        {Field::Category, QStringLiteral("Category"), 90, PaleBlueGrey, WindowText},
        {Field::Url, QStringLiteral("Web Address"), 188, PaleCream, Navy},
    });
    m_grid = new DirectoryGrid(client);
    m_grid->setObjectName(QStringLiteral("grid"));
    m_grid->setGeometry(0, 201, 688, 274);
    m_grid->setDirectoryModel(m_model);
    m_grid->setAccessibleName(QStringLiteral("Newspapers"));
    connect(m_grid, &DirectoryGrid::gridDoubleClicked, this, &MainWindow::readNow);
    // The keyboard's way to the grid's two most used commands.
    connect(m_grid, &DirectoryGrid::enterPressed, this, &MainWindow::readNow);
    connect(m_grid, &DirectoryGrid::deletePressed, this, &MainWindow::deleteRecord);
    connect(m_grid, &DirectoryGrid::copyPressed, this, &MainWindow::copyWebAddress);
    connect(m_grid, &DirectoryGrid::popupKeyPressed, this, &MainWindow::popUpMenuAtCurrentRow);
    connect(m_grid, &DirectoryGrid::titleClicked, this,
            [this](const GridColumn& column) { sortByColumnTitle(column.field); });
    connect(m_grid, &DirectoryGrid::moveFailed, this,
            [this](const QString& message) { ErrorReport::show(m_platform, this, message); });
    connect(m_grid, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { m_popupMenu->popup(m_grid->viewport()->mapToGlobal(at)); });
}

void MainWindow::buildMenus()
{
    auto item = [this](QMenu* menu, const char* name, const QString& text, int picture, auto command) {
        QAction* action = menu->addAction(text);
        action->setObjectName(QLatin1String(name));
        if (picture >= 0)
            action->setIcon(m_pictures[static_cast<std::size_t>(picture)]);
        connect(action, &QAction::triggered, this, command);
        return action;
    };
    auto sortItem = [&](QMenu* menu, const char* name, const QString& text, int picture, Field::Position field) {
        return item(menu, name, text, picture, [this, field] { sortBy(field); });
    };

    menuBar()->setObjectName(QStringLiteral("mainMenu"));
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    file->setObjectName(QStringLiteral("fileMenu"));
    item(file, "addRecordAction", QStringLiteral("&Add a New Record"), 0, &MainWindow::addRecord);
    item(file, "modifyRecordAction", QStringLiteral("&Modify Record"), 7, &MainWindow::modifyRecord);
    item(file, "deleteRecordAction", QStringLiteral("&Delete Record"), 2, &MainWindow::deleteRecord);
    file->addSeparator();
    item(file, "importNewspapersAction", QStringLiteral("&Import Newspapers\u2026"), -1, &MainWindow::importNewspapers);
    item(file, "exportNewspapersAction", QStringLiteral("&Export Newspapers\u2026"), -1, &MainWindow::exportNewspapers);
    item(file, "mergeNewerDirectoryAction", QStringLiteral("Mer&ge a Newer Directory\u2026"), -1,
         &MainWindow::mergeNewerDirectory);
    item(file, "checkWebAddressesAction", QStringLiteral("Check &Web Addresses\u2026"), -1,
         &MainWindow::checkWebAddresses);
    file->addSeparator();
    item(file, "addToFavouritesAction", QStringLiteral("Add to &Favorites"), 3, &MainWindow::addToFavourites);
    // The small buttons' commands, for the keyboard.
    item(file, "deleteFavouriteAction", QStringLiteral("Delete Fa&vorite"), -1, &MainWindow::deleteFavourite)
        ->setIcon(Artwork::icon(QStringLiteral("delete-favorite"), QSize(16, 16)));
    item(file, "clearHistoryAction", QStringLiteral("&Clear History"), -1, &MainWindow::clearHistory)
        ->setIcon(Artwork::icon(QStringLiteral("clear-history"), QSize(16, 16)));
    file->addSeparator();
    item(file, "exitAction", QStringLiteral("E&xit"), 9, &MainWindow::exitProgram);

    QMenu* sort = menuBar()->addMenu(QStringLiteral("&Sort"));
    sort->setObjectName(QStringLiteral("sortMenu"));
    sortItem(sort, "sortByNameAction", QStringLiteral("Sort by &Name"), 13, Field::Name);
    sortItem(sort, "sortByCountryAction", QStringLiteral("Sort by &Country"), 13, Field::Country);
    sortItem(sort, "sortByStateAction", QStringLiteral("Sort by &State"), 13, Field::State);
    sortItem(sort, "sortByCityAction", QStringLiteral("Sort by C&ity"), 13, Field::City);
    sortItem(sort, "sortByCategoryAction", QStringLiteral("Sort by C&ategory"), 13, Field::Category);
    sortItem(sort, "sortByWebAddressAction", QStringLiteral("Sort by &Web Address"), 13, Field::Url);

    QAction* readNowAction = menuBar()->addAction(QStringLiteral("&Read Now"));
    readNowAction->setObjectName(QStringLiteral("readNowAction"));
    connect(readNowAction, &QAction::triggered, this, &MainWindow::readNow);

    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    help->setObjectName(QStringLiteral("helpMenu"));
    showKey(item(help, "helpTopicsAction", QStringLiteral("&Help Topics"), 10, &MainWindow::helpTopics),
            QKeySequence(Qt::Key_F1));
    help->addSeparator();
    item(help, "sendFeedbackAction", QStringLiteral("Send &Feedback"), 12, &MainWindow::sendFeedback);
    item(help, "visitHomepageAction", QStringLiteral("Visit &Homepage"), 11, &MainWindow::visitHomepage);
    help->addSeparator();
    item(help, "aboutAction", QStringLiteral("&About"), 8, &MainWindow::about);

    m_popupMenu = new QMenu(this);
    m_popupMenu->setObjectName(QStringLiteral("popupMenu"));
    item(m_popupMenu, "popupReadNowAction", QStringLiteral("&Read Now!"), 5, &MainWindow::readNow);
    showKey(item(m_popupMenu, "popupCopyWebAddressAction", QStringLiteral("&Copy Web Address"), -1,
                 &MainWindow::copyWebAddress),
            QKeySequence::Copy);
    m_popupMenu->addSeparator();
    item(m_popupMenu, "popupAddRecordAction", QStringLiteral("&Add a New Record"), 0, &MainWindow::addRecord);
    item(m_popupMenu, "popupModifyRecordAction", QStringLiteral("&Modify This Record"), 7, &MainWindow::modifyRecord);
    item(m_popupMenu, "popupDeleteRecordAction", QStringLiteral("&Delete This Record"), 2, &MainWindow::deleteRecord);
    m_popupMenu->addSeparator();
    item(m_popupMenu, "popupAddToFavouritesAction", QStringLiteral("Add to &Favorites"), 3,
         &MainWindow::addToFavourites);
    m_popupMenu->addSeparator();
    QMenu* sortBy = m_popupMenu->addMenu(m_pictures[13], QStringLiteral("&Sort by"));
    sortBy->setObjectName(QStringLiteral("popupSortMenu"));
    sortItem(sortBy, "popupSortByNameAction", QStringLiteral("&Name"), -1, Field::Name);
    sortItem(sortBy, "popupSortByCountryAction", QStringLiteral("&Country"), -1, Field::Country);
    sortItem(sortBy, "popupSortByStateAction", QStringLiteral("&State"), -1, Field::State);
    sortItem(sortBy, "popupSortByCityAction", QStringLiteral("C&ity"), -1, Field::City);
    sortItem(sortBy, "popupSortByCategoryAction", QStringLiteral("C&ategory"), -1, Field::Category);
    sortItem(sortBy, "popupSortByWebAddressAction", QStringLiteral("&Web Address"), -1, Field::Url);
}

void MainWindow::buildTabOrder()
{
    // Grid, then the search group with its two buttons, then the shortcuts group, then
    // Read Now below it. The small buttons never take the focus: the File menu has their
    // commands.
    const QList<QWidget*> chain = {m_grid,          m_nameEdit,      m_countryBox, m_stateEdit,
                                   m_cityEdit,      m_categoryBox,   m_webEdit,    m_searchButton,
                                   m_showAllButton, m_favouritesBox, m_historyBox, m_readNowButton};
    for (int i = 0; i + 1 < chain.size(); ++i)
        setTabOrder(chain[i], chain[i + 1]);
    m_grid->setFocus();
}

void MainWindow::buildShortcuts()
{
    // These keys reach the picture buttons' commands from anywhere in the window.
    connect(new QShortcut(QKeySequence(Qt::Key_F3), this), &QShortcut::activated, this, &MainWindow::search);
    connect(new QShortcut(QKeySequence(Qt::Key_F4), this), &QShortcut::activated, this, &MainWindow::showAll);
    // Ctrl+F: straight to the first criterion, ready to be typed over.
    connect(new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_F), this), &QShortcut::activated, this, [this] {
        m_nameEdit->setFocus(Qt::ShortcutFocusReason);
        m_nameEdit->selectAll();
    });
    connect(new QShortcut(QKeySequence(Qt::Key_F1), this), &QShortcut::activated, this, &MainWindow::helpTopics);
    // Esc stops an import, export, merge or address check, as its Cancel button does.
    m_cancelToolKey = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    m_cancelToolKey->setEnabled(false);
    connect(m_cancelToolKey, &QShortcut::activated, m_toolWork, &BackgroundWork::cancel);
}

void MainWindow::popUpMenuAtCurrentRow()
{
    m_popupMenu->popup(m_grid->popupPosition());
}

void MainWindow::give(const QString& name, std::function<void()> command)
{
    m_commands->give(name, std::move(command));
}

bool MainWindow::confirm(const QString& question, const QString& description)
{
    return m_platform.boxes.showWithDescription(this, question, QStringLiteral("Confirmation"),
                                                MessageBoxes::Style::Confirmation,
                                                description) == MessageBoxes::Answer::Ok;
}

void MainWindow::tell(const QString& summary)
{
    m_platform.boxes.show(this, summary, ProgramName, MessageBoxes::Style::Plain);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        const auto& key = *static_cast<QKeyEvent*>(event);
        const bool enter = Controls::isEnterKey(key);
        if (enter && watched == m_favouritesBox) {
            goToFavourite();
            return true;
        }
        if (enter && (watched == m_historyBox || watched == m_historyBox->lineEdit())) {
            goToVisited();
            return true;
        }
        if (auto* button = qobject_cast<QToolButton*>(watched)) {
            if (enter) {
                button->click();
                return true;
            }
            return QMainWindow::eventFilter(watched, event);
        }
        if (enter || Controls::isTypedCarriageReturn(key)) {
            stepFromCriterion(watched);
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::stepFromCriterion(QObject* watched)
{
    // The criteria one after another, as Tab goes but past the Search and Show All buttons.
    for (int i = 0; i < m_criteria.size(); ++i) {
        auto* combo = qobject_cast<QComboBox*>(m_criteria[i]);
        if (watched == m_criteria[i] || (combo && watched == combo->lineEdit())) {
            QWidget* next = i + 1 < m_criteria.size() ? m_criteria[i + 1] : m_favouritesBox;
            next->setFocus(Qt::TabFocusReason);
            return;
        }
    }
}

void MainWindow::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (!m_centred) {
        m_centred = true;
        Controls::centreOnScreen(this);
    }
}
