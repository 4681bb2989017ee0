#include "search/SearchFilter.h"

#include "directory/CaseFold.h"
#include "directory/Record.h"

#include <cstring>

namespace {

bool contains(std::string_view haystack, const std::string& needle)
{
    if (needle.size() > haystack.size())
        return false;
    return ::memmem(haystack.data(), haystack.size(), needle.data(), needle.size()) != nullptr;
}

} // namespace

SearchFilter::SearchFilter(const SearchCriteria& criteria)
{
    // The order the criteria are examined in: Name, Country, State, City, Category, Web.
    const std::pair<const QString*, const char*> tested[] = {
        {&criteria.name, "Name"}, {&criteria.country, "Country"},   {&criteria.state, "State"},
        {&criteria.city, "City"}, {&criteria.category, "Category"}, {&criteria.web, "URL"},
    };
    for (const auto& [text, field] : tested) {
        if (isActive(*text))
            m_tests.push_back({Field::positionOf(QLatin1String(field)), CaseFold::fold(*text)});
    }
}

bool SearchFilter::isActive(const QString& criterion)
{
    return !criterion.isEmpty() && criterion != QLatin1String("All");
}

bool SearchFilter::accept(const RecordStore& store, RecordStore::Slot slot) const
{
    thread_local std::string lowered;
    for (const Test& test : m_tests) {
        const auto text = store.text(slot, test.position);
        if (!text)
            return false;
        lowered.clear();
        CaseFold::append(*text, lowered);
        if (!contains(lowered, test.needle))
            return false;
    }
    return true;
}

bool SearchFilter::sameAs(const RecordFilter& other) const
{
    const auto* search = dynamic_cast<const SearchFilter*>(&other);
    return search && search->m_tests == m_tests;
}

bool SearchFilter::matches(const QString& criterion, const std::optional<QString>& field)
{
    if (!isActive(criterion))
        return true;
    if (!field)
        return false;
    return contains(CaseFold::fold(*field), CaseFold::fold(criterion));
}
