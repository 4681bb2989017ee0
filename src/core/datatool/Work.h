#pragma once

#include "errors/AppError.h"

#include <QtGlobal>
#include <algorithm>
#include <atomic>
#include <functional>

// What the data tool's long operations share: a way to be told to stop, the error that
// says they stopped, and progress told in steps a progress bar can show.
namespace DbTool {

// Set from any thread (a window's Cancel button, Ctrl+C); the operation running on
// another thread sees it at its next check and stops, leaving every file as it was.
class CancelToken
{
public:
    void cancel() { m_cancelled.store(true, std::memory_order_relaxed); }
    bool cancelled() const { return m_cancelled.load(std::memory_order_relaxed); }

private:
    std::atomic<bool> m_cancelled{false};
};

// Thrown by an operation that saw its token set; nothing was written.
class Cancelled : public AppError
{
public:
    using AppError::AppError;
};

// Throws Cancelled with `message` when the token (may be null) is set.
inline void stopIfCancelled(const CancelToken* cancel, const QString& message)
{
    if (cancel && cancel->cancelled())
        throw Cancelled(message);
}

// Progress of a long operation: records (or steps) done and in all. Called on the thread
// the operation runs on.
using Progress = std::function<void(qint64 done, qint64 total)>;

// Passes progress on at the start, each time another hundredth is done, and at the end:
// about a hundred calls however large the work, so a window can show every one.
class ProgressSteps
{
public:
    ProgressSteps(const Progress& progress, qint64 total)
        : m_progress(progress)
        , m_total(total)
        , m_step(std::max<qint64>(1, total / 100))
    {
        if (m_progress)
            m_progress(0, m_total);
    }
    // Cheap enough to call for every record.
    void operator()(qint64 done)
    {
        if (done < m_next)
            return;
        m_next = (done / m_step + 1) * m_step;
        tell(std::min(done, m_total));
    }
    // All done: the last call, unless it was made already.
    void finish() { tell(m_total); }

private:
    void tell(qint64 done)
    {
        if (m_progress && done > m_told) {
            m_told = done;
            m_progress(done, m_total);
        }
    }

    const Progress& m_progress;
    qint64 m_total;
    qint64 m_step;
    qint64 m_next = 0;
    qint64 m_told = 0;
};

} // namespace DbTool
