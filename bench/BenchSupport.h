#pragma once
// What the benchmark's children share: the desktop seams that do nothing, timing an
// action with the longest hold of the window's thread, and printing results.

#include "desktop/Platform.h"
#include "directory/Table.h"
#include "mainwindow/MainWindow.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QString>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

namespace bench {

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

double median(std::vector<double> values);

double ms(const QElapsedTimer& clock);

// How long an action took until the table was done with it, and the longest stretch the
// window's thread was held meanwhile (the call itself, and each turn of the event loop
// between waking and waiting again, where background work completes).
struct Timing
{
    double total = 0;
    double held = 0;
};

Timing measure(Table& table, const std::function<void()>& action);

// Medians over `repeat` runs, each after an untimed `setup`.
Timing repeated(Table& table, int repeat, const std::function<void(int)>& setup, const std::function<void(int)>& body);

void result(const QByteArray& metric, Timing t);

void value(const QByteArray& metric, double v);

// SQLite's queries run after the program's own measurements, so the program's peak
// memory is its own.
extern std::vector<std::function<void()>> peers;

// SQLite's own time for a query, fetching the ordered record numbers a grid would page through.
void peer(const QByteArray& metric, const QString& table, int repeat, QByteArray sql, QList<QByteArray> binds);

// With KESTROVE_BENCH_STAGES set, the resident and peak memory at each stage, on stderr.
void stage(const char* name);

long peakKilobytes();

QByteArray query(const char* where, const QByteArray& order);

struct Window
{
    NoShell shell;
    AlwaysOk boxes;
    Folder folder;
    Platform platform{shell, boxes, folder};
    std::unique_ptr<MainWindow> form;

    explicit Window(const QString& dir)
        : folder(dir)
    {
    }
    // Opens the window and waits until it is on screen with its first page drawn.
    void open();
};

} // namespace bench
