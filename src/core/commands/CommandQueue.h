#pragma once

#include <QObject>
#include <QString>
#include <deque>
#include <functional>
#include <vector>

// The user's commands, carried out one after another in the order given.
//
// A command given while work runs beside the window's thread waits for that work to end
// and then runs as it would have on one thread; so do the commands given after it. A
// command that opens a modal window (the record dialog, a question) is still running
// while that window is open: commands given from inside it (the dialog's buttons) run
// at once unless work is running, and the commands waiting outside it wait until it has
// ended.
class CommandQueue : public QObject
{
    Q_OBJECT

public:
    using Command = std::function<void()>;
    // Runs one command; the window wraps it in its general error report.
    using Runner = std::function<void(const Command&)>;

    // `busy` tells whether work runs beside the window's thread.
    CommandQueue(std::function<bool()> busy, Runner runner, QObject* parent = nullptr);

    // Runs the command now, or keeps it until the work before it has ended.
    void give(const QString& name, Command command);
    // Commands given and not yet run.
    int waiting() const;
    // Called when the work it waited for has ended: runs what waits, in order, until work
    // starts again.
    void workEnded();

signals:
    // As a command starts to run.
    void started(const QString& name);
    // As a command is kept to run later.
    void kept(const QString& name);
    // Once a command has run (or failed).
    void finished(const QString& name);

private:
    struct Given
    {
        QString name;
        Command command;
    };
    struct Level
    {
        std::deque<Given> waiting;
        bool draining = false;
    };
    void run(Given given);
    void drain();

    std::function<bool()> m_busy;
    Runner m_runner;
    // One level for each command running (nested in the modal window of the one before),
    // plus the outermost one.
    std::vector<Level> m_levels{1};
};
