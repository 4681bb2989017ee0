#include "records/RecordCommands.h"

#include "directory/Table.h"

namespace RecordCommands {

bool add(Table& table, const RecordTexts& texts, qint32& lastNo)
{
    if (texts[Field::Name - 1].isEmpty())
        return false;
    table.appendRecord(texts, lastNo);
    table.refresh();
    return true;
}

void modify(Table& table, const RecordTexts& shown, const RecordTexts& texts)
{
    // With no current record the table refuses the edit, so nothing is written.
    table.disableControls();
    try {
        table.edit();
        for (int position = Field::Name; position <= Field::Category; ++position) {
            const auto i = static_cast<std::size_t>(position - 1);
            if (texts[i] == shown[i] || (position == Field::Name && texts[i].isEmpty()))
                continue;
            table.setField(static_cast<Field::Position>(position), texts[i]);
        }
    } catch (...) {
        table.enableControls();
        throw;
    }
    table.enableControls();
    table.refresh();
}

void remove(Table& table, bool confirmed)
{
    if (confirmed)
        table.deleteRecord();
    table.refresh();
}

} // namespace RecordCommands
