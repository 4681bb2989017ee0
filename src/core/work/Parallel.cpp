#include "work/Parallel.h"

#include <algorithm>
#include <exception>
#include <thread>
#include <vector>

namespace Parallel {

unsigned cores()
{
    return std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
}

unsigned partsFor(std::size_t n, std::size_t minimum)
{
    return n < minimum || n < 2 ? 1u : cores();
}

void onCores(std::size_t n, std::size_t minimum, const std::function<void(unsigned, std::size_t, std::size_t)>& work)
{
    const unsigned parts = partsFor(n, minimum);
    const std::size_t share = n / parts;
    forEachPart(parts, [&](unsigned part) { work(part, share * part, part + 1 == parts ? n : share * (part + 1)); });
}

void forEachPart(unsigned parts, const std::function<void(unsigned)>& work)
{
    std::vector<std::exception_ptr> failures(parts);
    auto run = [&](unsigned part) {
        try {
            work(part);
        } catch (...) {
            failures[part] = std::current_exception();
        }
    };
    std::vector<std::thread> helpers;
    try {
        for (unsigned part = 1; part < parts; ++part)
            helpers.emplace_back(run, part);
    } catch (...) {
        // No thread to be had: the parts that did not start run here.
        for (unsigned part = static_cast<unsigned>(helpers.size()) + 1; part < parts; ++part)
            run(part);
    }
    run(0);
    for (std::thread& helper : helpers)
        helper.join();
    for (const std::exception_ptr& failure : failures) {
        if (failure)
            std::rethrow_exception(failure);
    }
}

void both(const std::function<void()>& first, const std::function<void()>& second)
{
    std::exception_ptr failures[2];
    auto guarded = [](const std::function<void()>& work, std::exception_ptr& failure) {
        try {
            work();
        } catch (...) {
            failure = std::current_exception();
        }
    };
    std::thread helper;
    try {
        helper = std::thread(guarded, std::cref(second), std::ref(failures[1]));
    } catch (...) {
        guarded(second, failures[1]); // no thread to be had: one after the other
    }
    guarded(first, failures[0]);
    if (helper.joinable())
        helper.join();
    for (const std::exception_ptr& failure : failures) {
        if (failure)
            std::rethrow_exception(failure);
    }
}

} // namespace Parallel
