// Measures the program on generated directories of several sizes: start-up, search,
// sorts, locate, add, modify, delete, Read Now, grid paging and peak memory, with
// SQLite's own time for the equivalent query beside each search and sort.
//
// Each size runs in a child process of its own, so its peak memory is its own.
// Usage: kestrove-bench [--sizes 10000,100000,1000000] [--data DIR] [--repeat N]

#include "datatool/DbTool.h"
#include "desktop/Platform.h"
#include "dialogs/RecordDialog.h"
#include "directory/Sqlite.h"
#include "directory/Table.h"
#include "grid/DBGrid.h"
#include "grid/NameListModel.h"
#include "mainwindow/MainWindow.h"

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
#include <sys/resource.h>

namespace {

class NoShell : public Shell
{
public:
    bool open(const QString&) override
    {
        ++opened;
        return true;
    }
    int opened = 0;
};

class AlwaysOk : public MessageBoxes
{
public:
    Answer show(QWidget*, const QString& text, const QString&, Style style) override
    {
        if (style == Style::Error)
            std::fprintf(stderr, "unexpected error: %s\n", qUtf8Printable(text));
        return Answer::Ok;
    }
};

class Folder : public ProgramFolder
{
public:
    explicit Folder(QString dir)
        : m_dir(std::move(dir))
    {
    }
    QString programFilePath() const override { return m_dir + QStringLiteral("/kestrove-news"); }

private:
    QString m_dir;
};

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Median milliseconds of `body` over `repeat` runs, each after an untimed `setup`.
double time(int repeat, const std::function<void(int)>& setup, const std::function<void(int)>& body)
{
    std::vector<double> runs;
    for (int i = 0; i < repeat; ++i) {
        if (setup)
            setup(i);
        QElapsedTimer clock;
        clock.start();
        body(i);
        runs.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
    }
    return median(runs);
}

void result(const char* metric, double ours)
{
    std::printf("RESULT\t%s\t%.3f\n", metric, ours);
    std::fflush(stdout);
}

// SQLite's queries run after the program's own measurements, so the program's peak
// memory is its own.
std::vector<std::function<void()>> peers;

// SQLite's own time for a query, fetching the ordered record numbers a grid would page through.
void peer(const char* metric, const QString& table, int repeat, QByteArray sql, QList<QByteArray> binds)
{
    peers.push_back([=] {
        sqlite::Database db(table, sqlite::Database::Mode::ReadWrite);
        const double ms = time(repeat, {}, [&](int) {
            sqlite::Statement st(db, std::string_view(sql.constData(), static_cast<size_t>(sql.size())));
            for (int i = 0; i < binds.size(); ++i)
                st.bind(i + 1, binds[i]);
            qint64 rows = 0;
            while (st.step())
                rows += st.int64(0) > 0;
            if (rows < 0)
                std::puts("");
        });
        std::printf("PEER\t%s\t%.3f\n", metric, ms);
        std::fflush(stdout);
    });
}

void stage(const char* name)
{
    if (!qEnvironmentVariableIsSet("KESTROVE_BENCH_STAGES"))
        return;
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    QByteArray rss, hwm;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS"))
            rss = line.simplified();
        if (line.startsWith("VmHWM"))
            hwm = line.simplified();
    }
    std::fprintf(stderr, "%-40s %s %s\n", name, rss.constData(), hwm.constData());
}

long peakKilobytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

int child(qint64 size, const QString& dataDir, int repeat, bool startupOnly, int argc, char** argv)
{
    const QString source = QStringLiteral("%1/generated-%2.db").arg(dataDir).arg(size);
    if (!QFile::exists(source)) {
        std::fprintf(stderr, "generating %lld records...\n", static_cast<long long>(size));
        DbTool::generate(source + QStringLiteral(".new"), size, 20261208);
        QFile::rename(source + QStringLiteral(".new"), source);
    }
    QTemporaryDir dir;
    QDir(dir.path()).mkpath(QStringLiteral("Data"));
    const QString table = dir.path() + QStringLiteral("/Data/list.db");
    QFile::copy(source, table);

    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    NoShell shell;
    AlwaysOk boxes;
    Folder folder(dir.path());
    const Platform platform{shell, boxes, folder};

    if (size == 0) { // the baseline: the program with an empty table
        TForm1 form(platform);
        form.show();
        QApplication::processEvents();
        result("peak memory (MB)", peakKilobytes() / 1024.0);
        return 0;
    }

    // Start-up: building the window through its create handler until the first record is
    // current, once per process as the program does it.
    std::unique_ptr<TForm1> form;
    QElapsedTimer clock;
    clock.start();
    form = std::make_unique<TForm1>(platform);
    if (form->Table1->currentRow() != 0)
        std::fprintf(stderr, "start-up did not reach the first record\n");
    const double startup = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    if (startupOnly) {
        result("start-up", startup);
        return 0;
    }
    stage("after start-up");
    form->show();
    QApplication::processEvents();
    stage("after show");
    Table& t = *form->Table1;

    // The first use of each order builds it; later uses find it built.
    const std::pair<const char*, void (TForm1::*)()> sorts[] = {
        {"Country", &TForm1::Country1Click},
        {"State", &TForm1::State1Click},
        {"City", &TForm1::City1Click},
        {"Category", &TForm1::Category1Click},
        {"Web Address", &TForm1::WebAddress1Click},
    };
    for (const auto& [name, handler] : sorts) {
        QElapsedTimer sortClock;
        sortClock.start();
        (form.get()->*handler)();
        const QByteArray metric = QByteArray("first sort by ") + name + " (builds the order)";
        result(metric.constData(), static_cast<double>(sortClock.nsecsElapsed()) / 1e6);
    }
    stage("after every order");
    form->Name1Click();

    auto query = [](const char* where, const QByteArray& order) {
        return QByteArray("SELECT No FROM newspapers") + (where ? QByteArray(" WHERE ") + where : QByteArray()) +
               " ORDER BY " + order;
    };

    // Search: each run uses other words, so no run reuses the verdicts of the last.
    const QStringList oneWord = {"times", "post", "daily", "herald", "zeitung", "gazette", "courier", "journal"};
    result("Search, one criterion", time(
                                        repeat, [&](int i) { form->Edit1->setText(oneWord[i % oneWord.size()]); },
                                        [&](int) { form->BitBtn5Click(); }));
    peer("Search, one criterion", table, repeat, query("Name LIKE ?1", "Name COLLATE NOCASE, No"), {"%times%"});
    const QList<QStringList> three = {{"the", "united", "business"}, {"new", "a", "sports"}, {"daily", "an", "po"}};
    result("Search, three criteria", time(
                                         repeat,
                                         [&](int i) {
                                             const QStringList& c = three[i % three.size()];
                                             form->Edit1->setText(c[0]);
                                             form->ComboBox1->setEditText(c[1]);
                                             form->ComboBox2->setEditText(c[2]);
                                         },
                                         [&](int) { form->BitBtn5Click(); }));
    peer("Search, three criteria", table, repeat,
         query("Name LIKE ?1 AND Country LIKE ?2 AND Category LIKE ?3", "Name COLLATE NOCASE, No"),
         {"%the%", "%united%", "%business%"});
    form->ComboBox1->setEditText(QStringLiteral("All"));
    form->ComboBox2->setEditText(QStringLiteral("All"));
    result("Search, nothing matches", time(
                                          repeat, [&](int i) { form->Edit1->setText(QStringLiteral("zzq%1").arg(i)); },
                                          [&](int) { form->BitBtn5Click(); }));
    peer("Search, nothing matches", table, repeat, query("Name LIKE ?1", "Name COLLATE NOCASE, No"), {"%zzq0%"});
    result("Show All", time(
                           repeat,
                           [&](int i) {
                               form->Edit1->setText(oneWord[i % oneWord.size()]);
                               form->BitBtn5Click();
                           },
                           [&](int) { form->BitBtn4Click(); }));
    peer("Show All", table, repeat, query(nullptr, "Name COLLATE NOCASE, No"), {});
    form->Edit1->setText(QStringLiteral("All"));

    // Menu sorts with a record in the middle selected, the orders already built.
    const std::tuple<const char*, void (TForm1::*)(), const char*> menuSorts[] = {
        {"menu sort by Name", &TForm1::Name1Click, "Name"},
        {"menu sort by Country", &TForm1::Country1Click, "Country"},
        {"menu sort by State", &TForm1::State1Click, "State"},
        {"menu sort by City", &TForm1::City1Click, "City"},
        {"menu sort by Category", &TForm1::Category1Click, "Category"},
        {"menu sort by Web Address", &TForm1::WebAddress1Click, "Url"},
    };
    for (const auto& [metric, handler, column] : menuSorts) {
        const QByteArray order = QByteArray(column) + " COLLATE NOCASE, No";
        const double ours = time(
            repeat,
            [&, h = handler](int) {
                (form.get()->*(h == &TForm1::Name1Click ? &TForm1::City1Click : &TForm1::Name1Click))();
                t.moveTo(t.recordCount() / 2);
            },
            [&, h = handler](int) { (form.get()->*h)(); });
        result(metric, ours);
        peer(metric, table, repeat, query(nullptr, order), {});
    }
    const GridColumn countryColumn{QStringLiteral("Country"), QStringLiteral("Country"), 80, {}, {}};
    result("title-click sort (Country)",
           time(
               repeat, [&](int) { form->Name1Click(); }, [&](int) { form->DBGrid1TitleClick(countryColumn); }));
    peer("title-click sort (Country)", table, repeat, query(nullptr, "Country COLLATE NOCASE, No"), {});
    form->Name1Click();

    // Go from the favourites: a name near the end of the order.
    const QString lateName = t.displayText(t.recordCount() - 10, 1);
    result("locate by name near the end",
           time(
               repeat, [&](int) { t.first(); }, [&](int) { t.locate(QStringLiteral("Name"), lateName); }));
    static_cast<NameListModel*>(form->ComboBox3->model())->setLines({lateName.toUtf8()}, false);
    form->ComboBox3->setCurrentIndex(0);
    result("Go from the favourites (locate and Read Now)",
           time(
               repeat, [&](int) { t.first(); }, [&](int) { form->SpeedButton1Click(); }));

    // Add, Modify and Delete, each with its refresh.
    form->AddMode = true;
    {
        TForm2 dialog(*form);
        dialog.Edit1->setText(QStringLiteral("Benchmark Gazette"));
        dialog.Edit4->setText(QStringLiteral("Testville"));
        result("Add with refresh", time(repeat, {}, [&](int) { dialog.BitBtn1Click(); }));
    }
    form->AddMode = false;
    t.moveTo(t.recordCount() / 2);
    {
        TForm2 dialog(*form);
        dialog.FormShow();
        result("Modify with refresh",
               time(
                   repeat, [&](int i) { dialog.Edit4->setText(QStringLiteral("Changed %1").arg(i)); },
                   [&](int) { dialog.BitBtn1Click(); }));
    }
    result("Delete with refresh",
           time(
               repeat, [&](int) { t.moveTo(t.recordCount() / 3); }, [&](int) { form->BitBtn3Click(); }));

    // Read Now with a long history.
    {
        QFile history(dir.path() + QStringLiteral("/history.txt"));
        history.open(QIODevice::WriteOnly);
        for (int i = 0; i < 100000; ++i)
            history.write("A newspaper read before, number " + QByteArray::number(i) + "\r\n");
    }
    form->LoadHistory();
    result("Read Now with a 100,000-line history", time(repeat, {}, [&](int) { form->BitBtn2Click(); }));

    // Paging the grid: scroll a page and draw it.
    QScrollBar* bar = form->DBGrid1->verticalScrollBar();
    bar->setValue(bar->maximum() / 2);
    form->DBGrid1->viewport()->repaint();
    result("grid: scroll a page and draw it", time(repeat * 3, {}, [&](int) {
               bar->setValue(bar->value() + bar->pageStep());
               form->DBGrid1->viewport()->repaint();
           }));

    stage("at the end");
    result("peak memory (MB)", peakKilobytes() / 1024.0);
    form.reset();
    qint64 textBytes = 0;
    {
        sqlite::Database db(table, sqlite::Database::Mode::ReadWrite);
        sqlite::Statement st(db, "SELECT sum(ifnull(length(CAST(Name AS BLOB)), 0) + ifnull(length(CAST(Url AS BLOB)), "
                                 "0) + ifnull(length(CAST(Country AS BLOB)), 0) + ifnull(length(CAST(State AS BLOB)), "
                                 "0) + ifnull(length(CAST(City AS BLOB)), 0) + ifnull(length(CAST(Category AS "
                                 "BLOB)), 0)) FROM newspapers");
        if (st.step())
            textBytes = st.int64(0);
    }
    result("table text (MB)", static_cast<double>(textBytes) / (1024.0 * 1024.0));
    for (const auto& run : peers)
        run();
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    auto option = [&](const QString& name, const QString& fallback) {
        const qsizetype at = args.indexOf(name);
        return at >= 0 && at + 1 < args.size() ? args[at + 1] : fallback;
    };
    const QString dataDir = option(QStringLiteral("--data"), QDir::currentPath() + QStringLiteral("/bench-data"));
    const int repeat = option(QStringLiteral("--repeat"), QStringLiteral("7")).toInt();
    QDir().mkpath(dataDir);
    if (args.contains(QStringLiteral("--child")))
        return child(option(QStringLiteral("--child"), QStringLiteral("0")).toLongLong(), dataDir, repeat,
                     args.contains(QStringLiteral("--startup")), argc, argv);

    const QStringList sizes =
        option(QStringLiteral("--sizes"), QStringLiteral("10000,100000,1000000")).split(QLatin1Char(','));
    std::map<QString, std::map<QString, std::pair<double, double>>> table; // metric -> size -> (ours, peer)
    QStringList metrics;
    double baseline = 0;
    auto runChild = [&](const QString& size, bool startupOnly) {
        QProcess run;
        run.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QStringList childArgs = {QStringLiteral("--child"),  size,
                                 QStringLiteral("--data"),   dataDir,
                                 QStringLiteral("--repeat"), QString::number(repeat)};
        if (startupOnly)
            childArgs << QStringLiteral("--startup");
        run.start(QString::fromLocal8Bit(argv[0]), childArgs);
        run.waitForFinished(-1);
        return run.readAllStandardOutput();
    };
    for (const QString& size : QStringList{QStringLiteral("0")} + sizes) {
        std::fprintf(stderr, "measuring %s records...\n", qPrintable(size));
        QByteArray output = runChild(size, false);
        if (size != QLatin1String("0")) {
            std::vector<double> startups;
            for (int i = 0; i < std::min(repeat, 5); ++i) {
                const QList<QByteArray> cells = runChild(size, true).trimmed().split('\t');
                if (cells.size() == 3)
                    startups.push_back(cells[2].toDouble());
            }
            if (!startups.empty())
                output.prepend(QByteArray("RESULT\tstart-up\t") + QByteArray::number(median(startups), 'f', 3) + "\n");
        }
        for (const QByteArray& line : output.split('\n')) {
            const QList<QByteArray> cells = line.split('\t');
            if (cells.size() != 3)
                continue;
            const QString metric = QString::fromUtf8(cells[1]);
            if (cells[0] == "PEER") {
                table[metric][size].second = cells[2].toDouble();
                continue;
            }
            if (cells[0] != "RESULT")
                continue;
            if (size == QLatin1String("0")) {
                baseline = cells[2].toDouble();
                continue;
            }
            if (!metrics.contains(metric))
                metrics << metric;
            table[metric][size] = {cells[2].toDouble(), -1};
        }
    }

    std::printf(
        "Medians in milliseconds unless marked; in brackets SQLite's time for the same query and ours/SQLite.\n");
    std::printf("Baseline peak memory with an empty table: %.1f MB.\n\n", baseline);
    std::printf("| measurement |");
    for (const QString& size : sizes)
        std::printf(" %s records |", qPrintable(QLocale(QLocale::English).toString(size.toLongLong())));
    std::printf("\n|---|");
    for (qsizetype i = 0; i < sizes.size(); ++i)
        std::printf("---:|");
    std::printf("\n");
    for (const QString& metric : metrics) {
        std::printf("| %s |", qPrintable(metric));
        for (const QString& size : sizes) {
            const auto [ours, sqlitePeer] = table[metric][size];
            if (sqlitePeer > 0)
                std::printf(" %.2f (SQLite %.1f, %.2f) |", ours, sqlitePeer, ours / sqlitePeer);
            else
                std::printf(" %.2f |", ours);
        }
        std::printf("\n");
    }
    return 0;
}
