#pragma once

#include "directory/Record.h"

class Table;

// What the record dialog's Add and Modify button and the Delete command do to the
// directory table; the windows only gather the texts and the answers.
namespace RecordCommands {

// Appends a record with these texts and refreshes the table, unless the name is
// empty: then nothing happens and the result is false. A name of blanks is a name.
bool add(Table& table, const RecordTexts& texts, qint32& lastNo);

// Writes over the current record the texts the user changed from those the dialog
// showed (`shown`), and refreshes the table: an emptied name leaves the stored name,
// an emptied other field stores a blank; a field left as shown keeps its stored bytes,
// whatever they are. The grid stops following the table meanwhile and follows again
// even on failure.
void modify(Table& table, const RecordTexts& shown, const RecordTexts& texts);

// Deletes the current record when the user confirmed; refreshes the table either way.
void remove(Table& table, bool confirmed);

} // namespace RecordCommands
