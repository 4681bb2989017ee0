#pragma once

#include <QStringList>

// The fixed choices of the search box and of the record dialog.
namespace ItemLists {

// The countries in alphabetical order (236 names).
const QStringList& countries();

// Search box: "All", a short head of common choices, then every country.
QStringList searchCountries();
QStringList searchCategories();

// Record dialog: no "All"; its head names the United Kingdom where the search box says England.
QStringList dialogCountries();
QStringList dialogCategories();

} // namespace ItemLists
