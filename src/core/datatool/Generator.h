#pragma once

#include "directory/Record.h"

#include <QString>
#include <array>
#include <cstdint>

// Synthetic but plausible newspapers for measurements: names of two to five words
// (accented and non-Latin words among them), real countries, states, cities, the
// category list and web addresses, with a few percent of blank fields. The same seed
// gives the same records on every machine.
class Generator
{
public:
    explicit Generator(std::uint64_t seed);

    // Name, Url, Country, State, City, Category; an empty text is a blank field.
    std::array<QString, Field::TextCount> next();

private:
    std::uint64_t random();
    std::size_t below(std::size_t n) { return static_cast<std::size_t>(random() % n); }
    bool chance(int percent) { return below(100) < static_cast<std::size_t>(percent); }

    std::uint64_t m_state;
    std::uint64_t m_serial = 0;
};
