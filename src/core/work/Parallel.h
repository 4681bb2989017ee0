#pragma once

#include <cstddef>
#include <functional>

// Work split among the processor's cores.
namespace Parallel {

// The cores work may be split among (at most 8).
unsigned cores();

// How many parts n items are split into: one below `minimum`, else one per core.
unsigned partsFor(std::size_t n, std::size_t minimum);

// Runs work(part) for each of `parts` parts, the calling thread taking part 0. Returns
// once every part is done; the first failure of any part is then thrown on the calling
// thread.
void forEachPart(unsigned parts, const std::function<void(unsigned)>& work);

// Runs work(part, from, to) over [0, n) split into partsFor(n, minimum) ranges, as
// forEachPart does.
void onCores(std::size_t n, std::size_t minimum, const std::function<void(unsigned, std::size_t, std::size_t)>& work);

// Runs first and second at once, second on a thread of its own; rethrows as onCores.
void both(const std::function<void()>& first, const std::function<void()>& second);

} // namespace Parallel
