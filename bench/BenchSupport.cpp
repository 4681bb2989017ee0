#include "BenchSupport.h"

#include "directory/Sqlite.h"
#include "grid/DirectoryGrid.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QEventLoop>
#include <QFile>
#include <QWindow>
#include <algorithm>
#include <cstdio>
#include <malloc.h>
#include <sys/resource.h>

namespace bench {

double median(std::vector<double> values)
{
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double ms(const QElapsedTimer& clock)
{
    return static_cast<double>(clock.nsecsElapsed()) / 1e6;
}

Timing measure(Table& table, const std::function<void()>& action)
{
    Timing timing;
    QElapsedTimer clock;
    clock.start();
    action();
    timing.held = ms(clock);
    if (table.busy()) {
        QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
        QElapsedTimer turn;
        bool awake = false;
        const auto woke = QObject::connect(dispatcher, &QAbstractEventDispatcher::awake, [&] {
            turn.start();
            awake = true;
        });
        const auto slept = QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, [&] {
            if (awake)
                timing.held = std::max(timing.held, ms(turn));
            awake = false;
        });
        QEventLoop loop;
        QObject::connect(&table, &Table::busyChanged, &loop, [&](bool busy) {
            if (!busy)
                loop.quit();
        });
        loop.exec();
        if (awake)
            timing.held = std::max(timing.held, ms(turn));
        QObject::disconnect(woke);
        QObject::disconnect(slept);
    }
    timing.total = ms(clock);
    return timing;
}

Timing repeated(Table& table, int repeat, const std::function<void(int)>& setup, const std::function<void(int)>& body)
{
    std::vector<double> totals, helds;
    for (int i = 0; i < repeat; ++i) {
        if (setup)
            setup(i);
        const Timing t = measure(table, [&] { body(i); });
        totals.push_back(t.total);
        helds.push_back(t.held);
    }
    return {median(totals), median(helds)};
}

void result(const QByteArray& metric, Timing t)
{
    std::printf("RESULT\t%s\t%.3f\t%.3f\n", metric.constData(), t.total, t.held);
    std::fflush(stdout);
}

void value(const QByteArray& metric, double v)
{
    result(metric, {v, -1});
}

std::vector<std::function<void()>> peers;

void peer(const QByteArray& metric, const QString& table, int repeat, QByteArray sql, QList<QByteArray> binds)
{
    peers.push_back([=] {
        sqlite::Database db(table, sqlite::Database::Mode::ReadOnly);
        std::vector<double> runs;
        for (int r = 0; r < repeat; ++r) {
            QElapsedTimer clock;
            clock.start();
            sqlite::Statement st(db, std::string_view(sql.constData(), static_cast<size_t>(sql.size())));
            for (int i = 0; i < binds.size(); ++i)
                st.bind(i + 1, binds[i]);
            qint64 rows = 0;
            while (st.step())
                rows += st.int64(0) > 0;
            if (rows < 0)
                std::puts("");
            runs.push_back(ms(clock));
        }
        std::printf("PEER\t%s\t%.3f\n", metric.constData(), median(runs));
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
    const struct mallinfo2 heap = mallinfo2();
    std::fprintf(stderr, "%-40s %s %s heap in use %zu MB, mapped %zu MB, free in pools %zu MB\n", name, rss.constData(),
                 hwm.constData(), heap.uordblks >> 20, heap.hblkhd >> 20, heap.fordblks >> 20);
}

long peakKilobytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

QByteArray query(const char* where, const QByteArray& order)
{
    return QByteArray("SELECT No FROM newspapers") + (where ? QByteArray(" WHERE ") + where : QByteArray()) +
           " ORDER BY " + order;
}

void Window::open()
{
    form = std::make_unique<MainWindow>(platform);
    form->show();
    // The window counts as shown once it is on screen with its first page drawn.
    while (!form->windowHandle() || !form->windowHandle()->isExposed())
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    form->findChild<DirectoryGrid*>(QStringLiteral("grid"))->viewport()->repaint();
}

} // namespace bench
