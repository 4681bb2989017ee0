#pragma once

#include "directory/RecordFilter.h"

#include <QString>
#include <string>
#include <vector>

// The six search criteria as the search box holds them.
struct SearchCriteria
{
    QString name;
    QString country;
    QString state;
    QString city;
    QString category;
    QString web;
};

// The search rule: a record passes when every active criterion occurs in its field,
// ignoring letter case. A criterion is active unless it is empty or exactly "All";
// nothing is trimmed and there are no wildcards. A blank field contains no text, so
// an active criterion rejects it.
class SearchFilter : public RecordFilter
{
public:
    explicit SearchFilter(const SearchCriteria& criteria);

    static bool isActive(const QString& criterion);

    bool accept(const RecordStore& store, RecordStore::Slot slot) const override;
    void judge(const RecordStore& store, RecordStore::Slot from, RecordStore::Slot to,
               unsigned char* verdicts) const override;
    bool sameAs(const RecordFilter& other) const override;

private:
    // The scratch space of one thread's judging: lower-cased texts.
    struct Scratch
    {
        std::string lowered;
        std::vector<char> folded;
    };
    bool accept(const RecordStore& store, RecordStore::Slot slot, Scratch& scratch) const;

    struct Test
    {
        int position;
        std::string needle; // lower-cased UTF-8
        bool asciiNeedle;
        bool operator==(const Test& other) const { return position == other.position && needle == other.needle; }
    };
    std::vector<Test> m_tests;
};
