// Measures kestrove-db merge: a release of 100,000 records merged into a user's table of
// 1,000,000, three-way against the release before it and two-way from a CSV file; the
// wall time and peak memory of the tool, run as a child process so both are its own.
//
// The inputs are generated: the base is 100,000 generated records; the user's table is
// the same records followed by 900,000 more of the user's own, with 2,500 of the base's
// recategorised and 1,500 deleted (500 of each also changed by the release); the release is the base with 2,500
// recategorised, 2,500 moved to another address, 5,000 removed and 5,000 new ones. Usage: kestrove-mergebench [--runs
// 3] [--data DIR] [--tool PATH] (DIR keeps the inputs between runs; PATH: another build of kestrove-db to measure,
// such as one from before a change)

#include "datatool/Csv.h"
#include "datatool/DbTool.h"
#include "directory/Sqlite.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int BaseRecords = 100000;
constexpr int TableRecords = 1000000;

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

void makeInputs(const QString& dir)
{
    const QString base = dir + QStringLiteral("/base.db");
    const QString table = dir + QStringLiteral("/table.db");
    if (QFile::exists(table) && QFile::exists(dir + QStringLiteral("/newer.csv")))
        return;
    for (const char* name : {"base.db", "table.db", "newer.db", "newer.csv", "added.db"})
        QFile::remove(dir + QLatin1Char('/') + QLatin1String(name));
    std::fprintf(stderr, "generating the inputs in %s ...\n", qPrintable(dir));
    DbTool::generate(base, BaseRecords, 7);
    DbTool::generate(table, TableRecords, 7); // begins with the base's records
    DbTool::generate(dir + QStringLiteral("/added.db"), 5000, 99);
    {
        sqlite::Database db(table, sqlite::Database::Mode::ReadWrite);
        sqlite::Transaction transaction(db, true);
        // Some of these are records the release changes too: conflicts and kept deletions.
        db.exec("UPDATE newspapers SET Category = 'Business' WHERE No <= 100000 AND (No % 50 = 3 OR No % 200 = 41)");
        db.exec("DELETE FROM newspapers WHERE No <= 100000 AND (No % 100 = 7 OR No % 200 = 61)");
        transaction.commit();
    }
    QByteArray csv = Csv::formatRecord({"Name", "Url", "Country", "State", "City", "Category"});
    auto append = [&](const QString& path, bool edit) {
        sqlite::Database db(path, sqlite::Database::Mode::ReadOnly);
        sqlite::Statement st(db, "SELECT No, Name, Url, Country, State, City, Category FROM newspapers ORDER BY No");
        while (st.step()) {
            const qint64 no = st.int64(0);
            QStringList fields;
            for (int i = 1; i <= 6; ++i)
                fields << st.string(i);
            if (edit && no % 20 == 10)
                continue; // removed
            if (edit && no % 40 == 1)
                fields[5] = QStringLiteral("Sports");
            if (edit && no % 40 == 21)
                fields[1] = QStringLiteral("https://moved.example.com/%1").arg(no);
            csv += Csv::formatRecord(fields);
        }
    };
    append(base, true);
    append(dir + QStringLiteral("/added.db"), false);
    QFile file(dir + QStringLiteral("/newer.csv"));
    if (!file.open(QIODevice::WriteOnly) || file.write(csv) != csv.size())
        qFatal("cannot write the release");
    file.close();
    DbTool::create(dir + QStringLiteral("/newer.db"));
    DbTool::importCsv(dir + QStringLiteral("/newer.db"), dir + QStringLiteral("/newer.csv"));
}

struct Run
{
    double seconds = 0;
    double cpuSeconds = 0; // user and system: steadier than the wall time on a busy machine
    double peakMb = 0;
    int status = -1;
};

// Runs the tool on a fresh copy of the user's table.
Run merge(const QString& tool, const QString& dir, const QStringList& arguments)
{
    const QString work = dir + QStringLiteral("/work.db");
    QFile::remove(work);
    if (!QFile::copy(dir + QStringLiteral("/table.db"), work))
        qFatal("cannot copy the table");
    std::vector<QByteArray> args{QFile::encodeName(tool), "merge", QFile::encodeName(work)};
    for (const QString& arg : arguments)
        args.push_back(QFile::encodeName(QString(arg).replace(QStringLiteral("@"), dir)));
    std::vector<char*> argv;
    for (QByteArray& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    const QByteArray out = QFile::encodeName(dir + QStringLiteral("/merge.out"));

    QElapsedTimer clock;
    clock.start();
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int fd = ::open(out.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd >= 0)
            ::dup2(fd, STDOUT_FILENO);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    Run run;
    if (pid < 0 || ::wait4(pid, &status, 0, &usage) != pid)
        return run;
    run.seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    run.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    run.peakMb = static_cast<double>(usage.ru_maxrss) / 1024.0;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

QString counts(const QString& dir)
{
    QFile file(dir + QStringLiteral("/merge.out"));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    lines.removeLast(); // the closing sentence
    for (QString& line : lines)
        line = line.simplified();
    return lines.join(QStringLiteral(", "));
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const qsizetype runsAt = args.indexOf(QStringLiteral("--runs"));
    const int runs = runsAt >= 0 && runsAt + 1 < args.size() ? std::max(1, args[runsAt + 1].toInt()) : 3;
    const qsizetype dataAt = args.indexOf(QStringLiteral("--data"));
    const qsizetype toolAt = args.indexOf(QStringLiteral("--tool"));
    const QString tool = toolAt >= 0 && toolAt + 1 < args.size() ? args[toolAt + 1] : QStringLiteral(KESTROVE_DB);
    QTemporaryDir temporary;
    const QString dir = dataAt >= 0 && dataAt + 1 < args.size() ? args[dataAt + 1] : temporary.path();
    QDir().mkpath(dir);
    makeInputs(dir);

    const double tableText = textMegabytes(dir + QStringLiteral("/table.db"));
    const double newerText = textMegabytes(dir + QStringLiteral("/newer.db"));
    std::printf("user's table: %d records, %.2f MB of text; release: %.2f MB of text\n", TableRecords, tableText,
                newerText);
    std::printf("memory target: 2 x %.2f MB = %.1f MB; time target: 5 s\n\n", tableText + newerText,
                2 * (tableText + newerText));

    const struct
    {
        const char* label;
        QStringList arguments;
    } cases[] = {
        {"three-way, release as a table", {"@/newer.db", "--base", "@/base.db", "--report", "@/report.csv"}},
        {"two-way, release as a CSV file", {"@/newer.csv", "--report", "@/report.csv"}},
        {"three-way, dry run", {"@/newer.db", "--base", "@/base.db", "--dry-run"}},
    };
    bool ok = true;
    for (const auto& each : cases) {
        std::vector<double> seconds;
        std::vector<double> cpu;
        double peak = 0;
        int status = -1;
        for (int i = 0; i < runs; ++i) {
            const Run run = merge(tool, dir, each.arguments);
            seconds.push_back(run.seconds);
            cpu.push_back(run.cpuSeconds);
            peak = std::max(peak, run.peakMb);
            status = run.status;
        }
        std::sort(seconds.begin(), seconds.end());
        std::sort(cpu.begin(), cpu.end());
        std::printf("%s\n  wall time %.2f s (median of %d; %.2f to %.2f), processor time %.2f s (median), peak "
                    "memory %.1f MB, exit %d\n  %s\n",
                    each.label, seconds[seconds.size() / 2], runs, seconds.front(), seconds.back(), cpu[cpu.size() / 2],
                    peak, status, qUtf8Printable(counts(dir)));
        ok = ok && (status == 0 || status == 1);
    }
    QFile::remove(dir + QStringLiteral("/work.db"));
    return ok ? 0 : 1;
}
