// Measures the core's reading and ordering of the directory, without any window:
// TableFile::loadAll into a RecordStore, then OrderSort::sortByText by each of the six
// text fields, on generated tables of the given sizes.
//
// Every measurement runs in a process of its own (this program started again with
// --child), so each first sort pays for what a first sort pays in the program (the
// collator, its tables) and its peak memory is that process's own: the records held
// plus the sort's scratch memory. The machine's load average is printed beside every
// size, since other work on the machine slows every figure.
//
// Usage: kestrove-orderbench [--sizes 1000000,5000000] [--runs 5] [--data DIR]
//        kestrove-orderbench --child TABLE POSITION   (one load and one sort; POSITION 0 sorts nothing)
// DIR keeps the generated tables between runs (orders-N.db, seed 1).

#include "datatool/DbTool.h"
#include "directory/OrderSort.h"
#include "directory/Sqlite.h"
#include "directory/TableFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <sys/resource.h>
#include <vector>

namespace {

const char* const FieldNames[] = {"No", "Name", "Web Address", "Country", "State", "City", "Category"};

// "VmRSS" or "VmHWM" of this process, in kilobytes.
long statusKilobytes(const char* field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(static_cast<qsizetype>(std::strlen(field)) + 1).trimmed().split(' ').first().toLong();
    }
    return -1;
}

// The processor time this process has used on all its threads, in milliseconds: unlike
// the wall time, it hardly grows when other programs take turns on the cores.
double processorMs()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto ms = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_usec) / 1e3;
    };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("?");
    return QString::fromLatin1(file.readAll()).section(QLatin1Char(' '), 0, 2);
}

// The UTF-8 bytes of every record's six texts.
double textMegabytes(const QString& table)
{
    sqlite::Database db(table, sqlite::Database::Mode::ReadOnly);
    sqlite::Statement st(db, "SELECT sum(length(CAST(ifnull(Name, '') AS BLOB)) + length(CAST(ifnull(Url, '') AS "
                             "BLOB)) + length(CAST(ifnull(Country, '') AS BLOB)) + length(CAST(ifnull(State, '') AS "
                             "BLOB)) + length(CAST(ifnull(City, '') AS BLOB)) + length(CAST(ifnull(Category, '') AS "
                             "BLOB))) FROM newspapers");
    return st.step() ? static_cast<double>(st.int64(0)) / 1e6 : 0;
}

// One load and one sort, as the program does them when it starts without its cache.
// Prints: load ms, sort ms, resident kB after loading, peak kB after loading, peak kB,
// and the processor ms of loading and of sorting.
int child(const QString& table, int position)
{
    QElapsedTimer clock;
    clock.start();
    const double startCpu = processorMs();
    RecordStore store;
    {
        sqlite::Database db(table, sqlite::Database::Mode::ReadOnly);
        const TableFile::ReadLock lock(db);
        TableFile::loadAll(db, table, TableFile::readStamp(db, table), store);
    }
    const double loadMs = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    const double loadCpu = processorMs() - startCpu;
    const long loadedKb = statusKilobytes("VmRSS:");
    const long loadPeakKb = statusKilobytes("VmHWM:");
    double sortMs = 0;
    double sortCpu = 0;
    if (position > 0) {
        std::vector<RecordStore::Slot> order = OrderSort::byNumber(store);
        const double before = processorMs();
        clock.restart();
        OrderSort::sortByText(order, store, position);
        sortMs = static_cast<double>(clock.nsecsElapsed()) / 1e6;
        sortCpu = processorMs() - before;
    }
    std::printf("%.3f %.3f %ld %ld %ld %.3f %.3f\n", loadMs, sortMs, loadedKb, loadPeakKb, statusKilobytes("VmHWM:"),
                loadCpu, sortCpu);
    return 0;
}

struct Sample
{
    double loadMs = 0;
    double sortMs = 0;
    double loadedMb = 0;
    double loadPeakMb = 0;
    double peakMb = 0;
    double loadCpuMs = 0;
    double sortCpuMs = 0;
};

bool runChild(const QString& table, int position, Sample& sample)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(QCoreApplication::applicationFilePath(),
                  {QStringLiteral("--child"), table, QString::number(position)});
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        std::fprintf(stderr, "the measuring process failed\n");
        return false;
    }
    const QList<QByteArray> values = process.readAllStandardOutput().simplified().split(' ');
    if (values.size() != 7)
        return false;
    sample.loadMs = values[0].toDouble();
    sample.sortMs = values[1].toDouble();
    sample.loadedMb = values[2].toDouble() / 1024;
    sample.loadPeakMb = values[3].toDouble() / 1024;
    sample.peakMb = values[4].toDouble() / 1024;
    sample.loadCpuMs = values[5].toDouble();
    sample.sortCpuMs = values[6].toDouble();
    return true;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

QString table(const QString& dir, qint64 records)
{
    const QString path = dir + QStringLiteral("/orders-%1.db").arg(records);
    if (!QFile::exists(path)) {
        std::fprintf(stderr, "generating %lld records in %s ...\n", static_cast<long long>(records), qPrintable(path));
        const QString partial = path + QStringLiteral(".partial");
        QFile::remove(partial);
        DbTool::generate(partial, records, 1);
        if (!QFile::rename(partial, path))
            qFatal("cannot name the generated table %s", qPrintable(path));
    }
    return path;
}

bool measure(const QString& path, qint64 records, int runs)
{
    const double text = textMegabytes(path);
    std::printf("\n%lld records, %.1f MB of text (2.5x: %.1f MB); load average before: %s\n",
                static_cast<long long>(records), text, 2.5 * text, qPrintable(loadAverage()));
    std::printf("%-24s %10s %18s %10s %10s %8s\n", "measurement", "median ms", "range ms", "cpu ms", "peak MB",
                "x text");
    std::map<int, std::vector<Sample>> samples;
    // Fields alternate within a run, so a burst of load elsewhere spreads over all.
    for (int run = 0; run < runs; ++run) {
        for (int position = 0; position <= 6; ++position) {
            Sample sample;
            if (!runChild(path, position, sample))
                return false;
            samples[position].push_back(sample);
        }
    }
    // Wall time (median and range), processor time of all threads (median), peak memory.
    auto line = [&](const char* label, const std::vector<double>& ms, const std::vector<double>& cpu, double peakMb) {
        std::printf("%-24s %10.1f %8.1f to %7.1f %10.1f", label, median(ms), *std::min_element(ms.begin(), ms.end()),
                    *std::max_element(ms.begin(), ms.end()), median(cpu));
        if (peakMb > 0)
            std::printf(" %10.1f %8.2f", peakMb, peakMb / text);
        std::printf("\n");
    };
    std::vector<double> loads;
    std::vector<double> loadCpu;
    double loadPeak = 0;
    double loaded = 0;
    for (const auto& [position, list] : samples) {
        for (const Sample& s : list) {
            loads.push_back(s.loadMs);
            loadCpu.push_back(s.loadCpuMs);
            loadPeak = std::max(loadPeak, s.loadPeakMb);
            loaded = std::max(loaded, s.loadedMb);
        }
    }
    line("loadAll", loads, loadCpu, loadPeak);
    for (int position = 1; position <= 6; ++position) {
        std::vector<double> ms;
        std::vector<double> cpu;
        double peak = 0;
        for (const Sample& s : samples[position]) {
            ms.push_back(s.sortMs);
            cpu.push_back(s.sortCpuMs);
            peak = std::max(peak, s.peakMb);
        }
        line(qPrintable(QStringLiteral("sortByText %1").arg(QLatin1String(FieldNames[position]))), ms, cpu, peak);
    }
    std::vector<double> startup;
    std::vector<double> startupCpu;
    for (const Sample& s : samples[1]) {
        startup.push_back(s.loadMs + s.sortMs);
        startupCpu.push_back(s.loadCpuMs + s.sortCpuMs);
    }
    line("loadAll + Name order", startup, startupCpu, 0);
    std::printf("resident after loading: %.1f MB; load average after: %s\n", loaded, qPrintable(loadAverage()));
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 4 && args[1] == QLatin1String("--child"))
        return child(args[2], args[3].toInt());

    auto option = [&](const char* name, const QString& fallback) {
        const qsizetype at = args.indexOf(QLatin1String(name));
        return at >= 0 && at + 1 < args.size() ? args[at + 1] : fallback;
    };
    const int runs = std::max(1, option("--runs", QStringLiteral("5")).toInt());
    QTemporaryDir temporary;
    const QString dir = option("--data", temporary.path());
    QDir().mkpath(dir);
    std::printf("medians of %d runs, each measurement in a fresh process; %d cores\n", runs,
                QThread::idealThreadCount());
    for (const QString& size : option("--sizes", QStringLiteral("1000000,5000000")).split(QLatin1Char(','))) {
        const qint64 records = size.toLongLong();
        if (records <= 0) {
            std::fprintf(stderr, "not a number of records: %s\n", qPrintable(size));
            return 2;
        }
        if (!measure(table(dir, records), records, runs))
            return 1;
    }
    return 0;
}
