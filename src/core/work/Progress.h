#pragma once

#include <QString>
#include <array>
#include <atomic>
#include <exception>

// How far a piece of work beside the window's thread has come, and whether it was asked
// to stop. The work writes it and the window reads it, through atomics only.
class Progress
{
public:
    // A step names what the work is doing now, as an index into the steps its starter
    // gave it; the count of a step starts again at zero.
    void beginStep(int step, qint64 total)
    {
        m_done = 0;
        m_total = total;
        m_step = step;
    }
    void setTotal(qint64 total) { m_total = total; }
    void setDone(qint64 done) { m_done = done; }
    void advance(qint64 by = 1) { m_done += by; }

    int step() const { return m_step; }
    qint64 total() const { return m_total; }
    qint64 done() const { return m_done; }
    // 0 to 1000, or -1 while the total is not known.
    int permille() const;

    // Counts by kind of the items done, for work that sorts them as it goes (the link
    // check's verdicts): kinds 0 to TallyKinds - 1.
    static constexpr int TallyKinds = 8;
    void addTally(int kind, qint64 by = 1) { m_tallies[static_cast<std::size_t>(kind)] += by; }
    qint64 tally(int kind) const { return m_tallies[static_cast<std::size_t>(kind)]; }

    void cancel() { m_cancelled = true; }
    bool cancelled() const { return m_cancelled; }
    // Throws WorkCancelled once cancel() was called.
    void checkCancelled() const;

private:
    std::atomic<int> m_step{0};
    std::atomic<qint64> m_total{0};
    std::atomic<qint64> m_done{0};
    std::atomic<bool> m_cancelled{false};
    std::array<std::atomic<qint64>, TallyKinds> m_tallies{};
};

// Work that stopped because it was asked to; never reported as a failure.
class WorkCancelled : public std::exception
{
public:
    const char* what() const noexcept override { return "cancelled"; }
};
