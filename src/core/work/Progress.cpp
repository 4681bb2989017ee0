#include "work/Progress.h"

#include <algorithm>

int Progress::permille() const
{
    const qint64 total = m_total;
    if (total <= 0)
        return -1;
    return static_cast<int>(std::clamp<qint64>(m_done * 1000 / total, 0, 1000));
}

void Progress::checkCancelled() const
{
    if (m_cancelled)
        throw WorkCancelled();
}
