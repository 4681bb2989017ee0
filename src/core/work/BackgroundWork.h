#pragma once

#include "work/Progress.h"

#include <QObject>
#include <QString>
#include <functional>
#include <memory>

template <class T>
class QFutureWatcher;

// Work beside the window's thread, one job at a time, run on Qt Concurrent's pool.
//
// A job owns what it works on (or reads a snapshot nobody changes while it runs) and
// hands back a completion, which runs on the thread that started the job through one
// queued hand-off carrying the job's number: a hand-off that arrives after the job was
// finished by other means, or for another job, is ignored. Failures come back the same
// way, as exceptions caught on the worker and carried over.
class BackgroundWork : public QObject
{
    Q_OBJECT

public:
    // What a job hands back, run on the starting thread once the job is done.
    using Completion = std::function<void()>;
    using Work = std::function<Completion(Progress& progress)>;
    // Puts things right after a job failed (not after a cancelled one).
    using Cleanup = std::function<void()>;

    explicit BackgroundWork(QObject* parent = nullptr);
    ~BackgroundWork() override;

    // Off, a job runs at once on the calling thread and its failure is thrown to the
    // caller after the cleanup. On by default.
    void setBackground(bool on);
    bool background() const { return m_background; }

    // Starts a job after finishing any that runs. `steps` say what it does, one per
    // Progress step. Returns the job's number.
    quint64 start(const QStringList& steps, Work work, Cleanup cleanup = {});

    bool busy() const;
    // Waits for the running job, if any, and completes it now.
    void finish();
    // Asks the running job to stop; a job that stops so completes nothing.
    void cancel();

    // The running job's progress and what its current step does; empty when idle.
    std::shared_ptr<const Progress> progress() const;
    QString doing() const;

    // How a failure reads for the general error report.
    static QString messageOf(const std::exception_ptr& failure);

signals:
    // True when a job starts while none ran, false once the last completion has run.
    void busyChanged(bool busy);
    // A job run in the background failed; the message is for the general error report.
    void failed(const QString& message);

private:
    struct Outcome
    {
        Completion completion;
        std::exception_ptr failure;
        bool cancelled = false;
    };
    struct Job;

    static Outcome perform(const Work& work, Progress& progress);
    void handOff(quint64 id);
    void conclude(Outcome outcome, const Cleanup& cleanup, bool background);

    bool m_background = true;
    bool m_reportedBusy = false;
    quint64 m_lastId = 0;
    std::unique_ptr<Job> m_job;
};
