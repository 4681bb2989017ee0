#include "commands/CommandQueue.h"

CommandQueue::CommandQueue(std::function<bool()> busy, Runner runner, QObject* parent)
    : QObject(parent)
    , m_busy(std::move(busy))
    , m_runner(std::move(runner))
{
}

void CommandQueue::give(const QString& name, Command command)
{
    if (m_busy() || !m_levels.back().waiting.empty()) {
        m_levels.back().waiting.push_back({name, std::move(command)});
        emit kept(name);
        drain();
        return;
    }
    run({name, std::move(command)});
    drain();
}

int CommandQueue::waiting() const
{
    int count = 0;
    for (const Level& level : m_levels)
        count += static_cast<int>(level.waiting.size());
    return count;
}

void CommandQueue::workEnded()
{
    drain();
}

void CommandQueue::run(Given given)
{
    // Commands given while this one runs (from its modal window) wait on a level of their own.
    m_levels.emplace_back();
    struct Leave
    {
        CommandQueue& queue;
        ~Leave()
        {
            // A modal window closed with commands still waiting inside it: they were
            // given before what waits outside, so they go first.
            std::deque<Given> inner = std::move(queue.m_levels.back().waiting);
            queue.m_levels.pop_back();
            std::deque<Given>& outer = queue.m_levels.back().waiting;
            outer.insert(outer.begin(), std::make_move_iterator(inner.begin()), std::make_move_iterator(inner.end()));
        }
    } leave{*this};
    emit started(given.name);
    m_runner(given.command);
    emit finished(given.name);
}

void CommandQueue::drain()
{
    // Only the innermost level runs: what waits outside a running command waits for it.
    const std::size_t depth = m_levels.size() - 1;
    if (m_levels[depth].draining)
        return;
    m_levels[depth].draining = true;
    while (m_levels.size() == depth + 1 && !m_levels[depth].waiting.empty() && !m_busy()) {
        Given next = std::move(m_levels[depth].waiting.front());
        m_levels[depth].waiting.pop_front();
        run(std::move(next));
    }
    m_levels[depth].draining = false;
}
