// Measures the program on generated directories of several sizes, as it runs: start-up
// as a whole process (exec to the window shown with its first page), with and without
// the cache beside the table; every first sort; search, sorts, locate, add, modify,
// delete, the refresh after another copy wrote, Read Now, grid paging; peak memory.
// Beside each action: the longest time the window's thread was held, and for searches
// and sorts SQLite's own time for the equivalent query.
//
// Every measurement runs in child processes of its own, so start-ups are cold processes
// and peak memory is the program's own.
// Usage: kestrove-bench [--sizes 100000,1000000] [--data DIR] [--repeat N]

#include "BenchSupport.h"

#include "datatool/DbTool.h"
#include "desktop/Platform.h"
#include "dialogs/RecordDialog.h"
#include "directory/Sqlite.h"
#include "directory/Table.h"
#include "directory/TableCache.h"
#include "grid/DirectoryGrid.h"
#include "grid/NameListModel.h"
#include "mainwindow/MainWindow.h"
#include "startup/Startup.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QScrollBar>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>

namespace {

using namespace bench;

// Start-up as the program does it, from the process's start to the window shown with its
// first page, and on until the order it shows is whole (a large table's first order is
// built beside the shown window); the parent times both from exec to the lines this prints.
int startup(const QString& dir, int argc, char** argv)
{
    QApplication app(argc, argv);
    Window window(dir);
    window.open();
    std::printf("SHOWN\t%d\n", window.form->table().recordCount());
    std::fflush(stdout);
    window.form->table().finishBackgroundWork();
    std::printf("READY\n");
    std::fflush(stdout);
    return 0;
}

// Writes the cache the program writes a moment after it started: the records and the
// order it shows.
int prepare(const QString& dir)
{
    Table table;
    table.setFileName(dir + QStringLiteral("/Data/list.db"));
    table.open();
    table.setOrder(Field::Name);
    return table.saveCache() ? 0 : 1;
}

// Building each order of the table off the window's thread, as a first sort does.
int orders(const QString& dir, int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QFile::remove(TableCache::pathFor(dir + QStringLiteral("/Data/list.db")));
    Table table;
    table.setFileName(dir + QStringLiteral("/Data/list.db"));
    table.open();
    table.setBackgroundWork(true);
    for (const auto& [field, name] : {std::pair{Field::Name, "Name"}, std::pair{Field::Url, "Web Address"}}) {
        const Timing t = measure(table, [&, f = field] { table.setOrder(f); });
        result(QByteArray("building the order by ") + name, t);
    }
    return 0;
}

// Every first sort from the window, started as usual (the cache holds the Name order).
int sorts(const QString& dir, int argc, char** argv)
{
    QApplication app(argc, argv);
    Window window(dir);
    window.open();
    MainWindow& form = *window.form;
    const std::pair<const char*, Field::Position> each[] = {
        {"Country", Field::Country},   {"State", Field::State},     {"City", Field::City},
        {"Category", Field::Category}, {"Web Address", Field::Url},
    };
    for (const auto& [name, field] : each)
        result(QByteArray("first sort by ") + name, measure(form.table(), [&, f = field] { form.sortBy(f); }));
    value("peak memory, every order built (MB)", peakKilobytes() / 1024.0);
    return 0;
}

// Everything else, in one window.
int child(const QString& dir, int repeat, int argc, char** argv)
{
    QApplication app(argc, argv);
    const QString tablePath = dir + QStringLiteral("/Data/list.db");
    Window window(dir);
    window.open();
    MainWindow& form = *window.form;
    Table& t = form.table();
    auto* nameEdit = form.findChild<QLineEdit*>(QStringLiteral("nameEdit"));
    auto* countryBox = form.findChild<QComboBox*>(QStringLiteral("countryBox"));
    auto* categoryBox = form.findChild<QComboBox*>(QStringLiteral("categoryBox"));
    auto* favouritesBox = form.findChild<QComboBox*>(QStringLiteral("favouritesBox"));
    auto* grid = form.findChild<DirectoryGrid*>(QStringLiteral("grid"));
    value("peak memory after start-up (MB)", peakKilobytes() / 1024.0);
    stage("after start-up");

    // Search: each run uses other words, so no run reuses the verdicts of the last.
    const QStringList oneWord = {"times", "post", "daily", "herald", "zeitung", "gazette", "courier", "journal"};
    result("Search, one criterion",
           repeated(
               t, repeat, [&](int i) { nameEdit->setText(oneWord[i % oneWord.size()]); }, [&](int) { form.search(); }));
    peer("Search, one criterion", tablePath, repeat, query("Name LIKE ?1", "Name COLLATE NOCASE, No"), {"%times%"});
    const QList<QStringList> three = {{"the", "united", "business"}, {"new", "a", "sports"}, {"daily", "an", "po"}};
    result("Search, three criteria", repeated(
                                         t, repeat,
                                         [&](int i) {
                                             const QStringList& c = three[i % three.size()];
                                             nameEdit->setText(c[0]);
                                             countryBox->setEditText(c[1]);
                                             categoryBox->setEditText(c[2]);
                                         },
                                         [&](int) { form.search(); }));
    peer("Search, three criteria", tablePath, repeat,
         query("Name LIKE ?1 AND Country LIKE ?2 AND Category LIKE ?3", "Name COLLATE NOCASE, No"),
         {"%the%", "%united%", "%business%"});
    countryBox->setEditText(QStringLiteral("All"));
    categoryBox->setEditText(QStringLiteral("All"));
    result("Search, nothing matches", repeated(
                                          t, repeat, [&](int i) { nameEdit->setText(QStringLiteral("zzq%1").arg(i)); },
                                          [&](int) { form.search(); }));
    peer("Search, nothing matches", tablePath, repeat, query("Name LIKE ?1", "Name COLLATE NOCASE, No"), {"%zzq0%"});
    result("Show All", repeated(
                           t, repeat,
                           [&](int i) {
                               nameEdit->setText(oneWord[i % oneWord.size()]);
                               form.search();
                           },
                           [&](int) { form.showAll(); }));
    stage("after searches");
    peer("Show All", tablePath, repeat, query(nullptr, "Name COLLATE NOCASE, No"), {});
    nameEdit->setText(QStringLiteral("All"));

    // Menu sorts with a record in the middle selected, once every order is built.
    const std::tuple<const char*, Field::Position, const char*> menuSorts[] = {
        {"menu sort by Name", Field::Name, "Name"},
        {"menu sort by Country", Field::Country, "Country"},
        {"menu sort by City", Field::City, "City"},
        {"menu sort by Web Address", Field::Url, "Url"},
    };
    for (const auto& [metric, field, column] : menuSorts) {
        measure(t, [&, f = field] { form.sortBy(f); });
        stage(metric);
    }
    for (const auto& [metric, field, column] : menuSorts) {
        const Timing ours = repeated(
            t, repeat,
            [&, f = field](int) {
                measure(t, [&] { form.sortBy(f == Field::Name ? Field::City : Field::Name); });
                t.moveTo(t.recordCount() / 2);
            },
            [&, f = field](int) { form.sortBy(f); });
        result(metric, ours);
        peer(metric, tablePath, repeat, query(nullptr, QByteArray(column) + " COLLATE NOCASE, No"), {});
    }
    stage("after menu sorts");
    result("title-click sort (Country)", repeated(
                                             t, repeat, [&](int) { measure(t, [&] { form.sortBy(Field::Name); }); },
                                             [&](int) { form.sortByColumnTitle(Field::Country); }));
    peer("title-click sort (Country)", tablePath, repeat, query(nullptr, "Country COLLATE NOCASE, No"), {});
    measure(t, [&] { form.sortBy(Field::Name); });

    stage("after title clicks");
    // Go from the favourites: a name near the end of the order.
    const QString lateName = t.displayText(t.recordCount() - 10, Field::Name);
    result("locate by name near the end",
           repeated(
               t, repeat, [&](int) { t.first(); }, [&](int) { t.locate(Field::Name, lateName); }));
    static_cast<NameListModel*>(favouritesBox->model())->setLines({lateName.toUtf8()}, false);
    favouritesBox->setCurrentIndex(0);
    result("Go from the favourites (locate and Read Now)",
           repeated(
               t, repeat, [&](int) { t.first(); }, [&](int) { form.goToFavourite(); }));

    // Add, Modify and Delete, each with its refresh; the first Add on its own.
    {
        RecordDialog dialog(form, RecordDialog::Mode::Add);
        dialog.show();
        dialog.findChild<QLineEdit*>(QStringLiteral("nameEdit"))->setText(QStringLiteral("Benchmark Gazette"));
        dialog.findChild<QLineEdit*>(QStringLiteral("cityEdit"))->setText(QStringLiteral("Testville"));
        // An address, so that each Add looks for it among the records first.
        dialog.findChild<QLineEdit*>(QStringLiteral("webEdit"))
            ->setText(QStringLiteral("https://gazette.example.com/"));
        result("first Add after loading", measure(t, [&] { dialog.save(); }));
        result("Add with refresh", repeated(t, repeat, {}, [&](int) { dialog.save(); }));
        dialog.hide();
    }
    t.moveTo(t.recordCount() / 2);
    {
        RecordDialog dialog(form, RecordDialog::Mode::Modify);
        dialog.show();
        auto* cityEdit = dialog.findChild<QLineEdit*>(QStringLiteral("cityEdit"));
        result("Modify with refresh",
               repeated(
                   t, repeat, [&](int i) { cityEdit->setText(QStringLiteral("Changed %1").arg(i)); },
                   [&](int) { dialog.save(); }));
        dialog.hide();
    }
    result("Delete with refresh",
           repeated(
               t, repeat, [&](int) { t.moveTo(t.recordCount() / 3); }, [&](int) { form.deleteRecord(); }));

    stage("after add, modify, delete");
    // Another copy of the program writes; Show All reads what it changed.
    sqlite::Database other(tablePath, sqlite::Database::Mode::ReadWrite);
    result("refresh after another copy changed a record",
           repeated(
               t, repeat,
               [&](int i) {
                   sqlite::Statement st(other, "UPDATE newspapers SET City = ?1 WHERE No = ?2");
                   st.bind(1, QStringLiteral("Elsewhere %1").arg(i).toUtf8());
                   st.bind(2, qint64(1000 + i));
                   st.run();
               },
               [&](int) { form.showAll(); }));
    stage("after a changed record");
    const qint64 records = t.recordCount();
    result("refresh after another copy added 1% of the records",
           repeated(
               t, std::min(repeat, 3),
               [&](int i) {
                   other.exec("BEGIN");
                   sqlite::Statement st(other, "INSERT INTO newspapers (No, Name, Url, Country, Reserved1, "
                                               "Reserved2, Reserved3) VALUES (?1, ?2, ?3, 'Norway', '0', 0, 0)");
                   for (qint64 n = 0; n < records / 100; ++n) {
                       st.reset();
                       st.bind(1, 100000000 + i * 10000000 + n);
                       st.bind(2, QStringLiteral("Imported paper %1").arg(n).toUtf8());
                       st.bind(3, QStringLiteral("https://imported%1.example.com/").arg(n).toUtf8());
                       st.run();
                   }
                   other.exec("COMMIT");
               },
               [&](int) { form.showAll(); }));

    stage("after 1% added");
    // Read Now with a long history.
    {
        QFile history(dir + QStringLiteral("/history.txt"));
        history.open(QIODevice::WriteOnly);
        for (int i = 0; i < 100000; ++i)
            history.write("A newspaper read before, number " + QByteArray::number(i) + "\r\n");
    }
    stage("with a 100,000-line history");
    result("Read Now with a 100,000-line history", repeated(t, repeat, {}, [&](int) { form.readNow(); }));
    stage("after Read Now");

    // Paging the grid: scroll a page and draw it.
    QScrollBar* bar = grid->verticalScrollBar();
    bar->setValue(bar->maximum() / 2);
    grid->viewport()->repaint();
    result("grid: scroll a page and draw it", repeated(t, repeat * 3, {}, [&](int) {
               bar->setValue(bar->value() + bar->pageStep());
               grid->viewport()->repaint();
           }));

    value("peak memory (MB)", peakKilobytes() / 1024.0);
    window.form.reset();
    qint64 textBytes = 0;
    {
        sqlite::Statement st(other, "SELECT sum(ifnull(length(CAST(Name AS BLOB)), 0) + ifnull(length(CAST(Url AS "
                                    "BLOB)), 0) + ifnull(length(CAST(Country AS BLOB)), 0) + ifnull(length(CAST(State "
                                    "AS BLOB)), 0) + ifnull(length(CAST(City AS BLOB)), 0) + ifnull(length(CAST("
                                    "Category AS BLOB)), 0)) FROM newspapers");
        if (st.step())
            textBytes = st.int64(0);
    }
    value("table text (MB)", static_cast<double>(textBytes) / (1024.0 * 1024.0));
    for (const auto& run : peers)
        run();
    return 0;
}

// The parent: runs the children and gathers their lines.
struct Parent
{
    QString self;
    QString dataDir;
    int repeat = 5;

    QByteArray run(const QStringList& arguments, double* shownAfter = nullptr, double* readyAfter = nullptr) const
    {
        QProcess process;
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        process.setProcessEnvironment(environment);
        QElapsedTimer clock;
        clock.start();
        process.start(self, arguments);
        QByteArray output;
        while (process.state() != QProcess::NotRunning || process.bytesAvailable() > 0) {
            process.waitForReadyRead(50);
            output += process.readAllStandardOutput();
            if (shownAfter && *shownAfter < 0 && output.contains("SHOWN"))
                *shownAfter = ms(clock);
            if (readyAfter && *readyAfter < 0 && output.contains("READY"))
                *readyAfter = ms(clock);
        }
        return output;
    }

    static double readFile(const QString& path)
    {
        QElapsedTimer clock;
        clock.start();
        QProcess cat;
        cat.setStandardOutputFile(QProcess::nullDevice());
        cat.start(QStringLiteral("cat"), {path});
        cat.waitForFinished(-1);
        return ms(clock);
    }
};

} // namespace

int main(int argc, char** argv)
{
    Startup::returnMemoryPromptly();
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    auto option = [&](const QString& name, const QString& fallback) {
        const qsizetype at = args.indexOf(name);
        return at >= 0 && at + 1 < args.size() ? args[at + 1] : fallback;
    };
    const int repeat = option(QStringLiteral("--repeat"), QStringLiteral("5")).toInt();
    const QString folder = option(QStringLiteral("--folder"), QString());
    if (args.contains(QStringLiteral("--startup")))
        return startup(folder, argc, argv);
    if (args.contains(QStringLiteral("--prepare")))
        return prepare(folder);
    if (args.contains(QStringLiteral("--orders")))
        return orders(folder, argc, argv);
    if (args.contains(QStringLiteral("--sorts")))
        return sorts(folder, argc, argv);
    if (args.contains(QStringLiteral("--child")))
        return child(folder, repeat, argc, argv);

    Parent parent;
    parent.self = QString::fromLocal8Bit(argv[0]);
    parent.repeat = repeat;
    parent.dataDir = option(QStringLiteral("--data"), QDir::currentPath() + QStringLiteral("/bench-data"));
    QDir().mkpath(parent.dataDir);
    const QStringList sizes =
        option(QStringLiteral("--sizes"), QStringLiteral("100000,1000000")).split(QLatin1Char(','));

    // metric -> size -> (total, held, sqlite)
    std::map<QString, std::map<QString, std::array<double, 3>>> table;
    QStringList metrics;
    auto record = [&](const QString& size, const QByteArray& output) {
        for (const QByteArray& line : output.split('\n')) {
            const QList<QByteArray> cells = line.split('\t');
            if (cells.size() < 3)
                continue;
            const QString metric = QString::fromUtf8(cells[1]);
            if (cells[0] == "PEER") {
                table[metric][size][2] = cells[2].toDouble();
            } else if (cells[0] == "RESULT" && cells.size() == 4) {
                if (!metrics.contains(metric))
                    metrics << metric;
                table[metric][size] = {cells[2].toDouble(), cells[3].toDouble(), -1};
            }
        }
    };
    for (const QString& size : sizes) {
        std::fprintf(stderr, "measuring %s records...\n", qPrintable(size));
        const QString source = QStringLiteral("%1/generated-%2.db").arg(parent.dataDir, size);
        if (!QFile::exists(source)) {
            std::fprintf(stderr, "generating %s records...\n", qPrintable(size));
            DbTool::generate(source + QStringLiteral(".new"), size.toLongLong(), 20261208);
            QFile::rename(source + QStringLiteral(".new"), source);
        }
        QTemporaryDir dir;
        QDir(dir.path()).mkpath(QStringLiteral("Data"));
        const QString tablePath = dir.path() + QStringLiteral("/Data/list.db");
        const QString cachePath = TableCache::pathFor(tablePath);
        QFile::copy(source, tablePath);
        const QStringList inFolder = {QStringLiteral("--folder"), dir.path()};

        auto startups = [&](bool warm) {
            std::vector<double> shown, ready, reads;
            for (int i = 0; i < parent.repeat; ++i) {
                if (!warm)
                    QFile::remove(cachePath);
                reads.push_back(Parent::readFile(tablePath) + (warm ? Parent::readFile(cachePath) : 0));
                double shownAfter = -1;
                double readyAfter = -1;
                parent.run(QStringList{QStringLiteral("--startup")} + inFolder, &shownAfter, &readyAfter);
                shown.push_back(shownAfter);
                ready.push_back(readyAfter);
            }
            const QByteArray name = warm ? "start-up with the cache" : "start-up without a cache";
            table[QString::fromUtf8(name)][size] = {median(shown), -1, median(reads)};
            if (!metrics.contains(QString::fromUtf8(name)))
                metrics << QString::fromUtf8(name);
            if (!warm) {
                const QString whole = QStringLiteral("start-up without a cache, until its order is whole");
                table[whole][size] = {median(ready), -1, median(reads)};
                if (!metrics.contains(whole))
                    metrics << whole;
            }
        };
        startups(false);
        parent.run(QStringList{QStringLiteral("--prepare")} + inFolder);
        startups(true);
        std::map<QString, std::vector<std::array<double, 2>>> sortRuns;
        for (int i = 0; i < parent.repeat; ++i) {
            for (const char* mode : {"--sorts", "--orders"}) {
                const QByteArray output = parent.run(QStringList{QLatin1String(mode)} + inFolder);
                for (const QByteArray& line : output.split('\n')) {
                    const QList<QByteArray> cells = line.split('\t');
                    if (cells.size() == 4 && cells[0] == "RESULT")
                        sortRuns[QString::fromUtf8(cells[1])].push_back({cells[2].toDouble(), cells[3].toDouble()});
                }
            }
            parent.run(QStringList{QStringLiteral("--prepare")} + inFolder); // --orders removed it
        }
        for (const auto& [metric, runs] : sortRuns) {
            std::vector<double> totals, helds;
            for (const auto& r : runs) {
                totals.push_back(r[0]);
                helds.push_back(r[1]);
            }
            table[metric][size] = {median(totals), median(helds), -1};
            if (!metrics.contains(metric))
                metrics << metric;
        }
        record(size, parent.run(QStringList{QStringLiteral("--child"), QStringLiteral("--repeat"),
                                            QString::number(parent.repeat)} +
                                inFolder));
    }

    std::printf("Medians in milliseconds unless marked. Each cell: the time until done / the longest the "
                "window's thread was held; in brackets SQLite's time for the same query (for start-up: "
                "reading the files with cat) and the ratio.\n\n| measurement |");
    for (const QString& size : sizes)
        std::printf(" %s records |", qPrintable(QLocale(QLocale::English).toString(size.toLongLong())));
    std::printf("\n|---|");
    for (qsizetype i = 0; i < sizes.size(); ++i)
        std::printf("---:|");
    std::printf("\n");
    for (const QString& metric : metrics) {
        std::printf("| %s |", qPrintable(metric));
        for (const QString& size : sizes) {
            const auto [total, held, reference] = table[metric][size];
            QString cell = QString::number(total, 'f', total < 10 ? 2 : 1);
            if (held >= 0)
                cell += QStringLiteral(" / ") + QString::number(held, 'f', held < 10 ? 2 : 1);
            if (reference > 0)
                cell += QStringLiteral(" (%1, %2)")
                            .arg(QString::number(reference, 'f', 1), QString::number(total / reference, 'f', 2));
            std::printf(" %s |", qPrintable(cell));
        }
        std::printf("\n");
    }
    return 0;
}
