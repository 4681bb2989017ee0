#include "work/BackgroundWork.h"

#include "errors/AppError.h"

#include <QFutureWatcher>
#include <QStringList>
#include <QtConcurrent/QtConcurrentRun>
#include <new>

struct BackgroundWork::Job
{
    quint64 id = 0;
    QStringList steps;
    std::shared_ptr<Progress> progress;
    Cleanup cleanup;
    std::unique_ptr<QFutureWatcher<Outcome>> watcher;
};

BackgroundWork::BackgroundWork(QObject* parent)
    : QObject(parent)
{
}

BackgroundWork::~BackgroundWork()
{
    if (m_job) {
        m_job->progress->cancel();
        m_job->watcher->disconnect(this);
        m_job->watcher->waitForFinished();
    }
}

void BackgroundWork::setBackground(bool on)
{
    finish();
    m_background = on;
}

BackgroundWork::Outcome BackgroundWork::perform(const Work& work, Progress& progress)
{
    Outcome outcome;
    try {
        outcome.completion = work(progress);
    } catch (const WorkCancelled&) {
        outcome.cancelled = true;
    } catch (...) {
        outcome.failure = std::current_exception();
    }
    return outcome;
}

quint64 BackgroundWork::start(const QStringList& steps, Work work, Cleanup cleanup)
{
    finish();
    const quint64 id = ++m_lastId;
    auto progress = std::make_shared<Progress>();
    if (!m_background) {
        conclude(perform(work, *progress), cleanup, false);
        return id;
    }
    m_job = std::make_unique<Job>();
    m_job->id = id;
    m_job->steps = steps;
    m_job->progress = progress;
    m_job->cleanup = std::move(cleanup);
    m_job->watcher = std::make_unique<QFutureWatcher<Outcome>>();
    connect(m_job->watcher.get(), &QFutureWatcher<Outcome>::finished, this, [this, id] { handOff(id); });
    m_job->watcher->setFuture(
        QtConcurrent::run([work = std::move(work), progress] { return perform(work, *progress); }));
    if (!m_reportedBusy) {
        m_reportedBusy = true;
        emit busyChanged(true);
    }
    return id;
}

bool BackgroundWork::busy() const
{
    return m_job != nullptr;
}

void BackgroundWork::handOff(quint64 id)
{
    if (!m_job || m_job->id != id)
        return; // finished already, or another job's late signal
    const std::unique_ptr<Job> job = std::move(m_job);
    job->watcher->disconnect(this);
    job->watcher->waitForFinished();
    Outcome outcome = job->watcher->result();
    conclude(std::move(outcome), job->cleanup, true);
    if (!m_job && m_reportedBusy) {
        m_reportedBusy = false;
        emit busyChanged(false);
    }
}

void BackgroundWork::conclude(Outcome outcome, const Cleanup& cleanup, bool background)
{
    if (outcome.cancelled)
        return;
    std::exception_ptr failure = outcome.failure;
    if (!failure) {
        try {
            outcome.completion();
        } catch (...) {
            failure = std::current_exception();
        }
    }
    if (!failure)
        return;
    if (cleanup)
        cleanup();
    if (!background)
        std::rethrow_exception(failure);
    emit failed(messageOf(failure));
}

void BackgroundWork::finish()
{
    while (m_job) {
        m_job->watcher->waitForFinished();
        handOff(m_job->id);
    }
}

void BackgroundWork::cancel()
{
    if (m_job)
        m_job->progress->cancel();
}

std::shared_ptr<const Progress> BackgroundWork::progress() const
{
    return m_job ? m_job->progress : nullptr;
}

QString BackgroundWork::doing() const
{
    if (!m_job || m_job->steps.isEmpty())
        return {};
    const int step = m_job->progress->step();
    return m_job->steps.value(step, m_job->steps.constLast());
}

QString BackgroundWork::messageOf(const std::exception_ptr& failure)
{
    try {
        std::rethrow_exception(failure);
    } catch (const AppError& error) {
        return error.message();
    } catch (const std::bad_alloc&) {
        return QStringLiteral("Out of memory");
    } catch (const std::exception& error) {
        return QString::fromLocal8Bit(error.what());
    } catch (...) {
        return QStringLiteral("An unknown error occurred");
    }
}
