#pragma once

#include "lists/NameListFile.h"

#include <QByteArray>
#include <QList>
#include <QString>

class Table;

// Read Now and the two lists in the data folder: the favourites and the visit
// history. Every change reads the file afresh, changes it and writes it back whole;
// the windows only show the lines that come back.
class ReadingLists
{
public:
    // folder ends in a path separator.
    explicit ReadingLists(QString folder);

    NameListFile favorites() const;
    NameListFile history() const;

    // The address Read Now hands to the browser for the current record: its Url
    // through the address rule (WebAddress). Throws ConversionError for a blank
    // address or no current record, and AppError naming an address that is refused.
    static QString addressToOpen(Table& table);
    // The report when no program took the address; a very long address is cut short.
    static QString notOpened(const QString& address);

    // Each appends the current record's name as a list entry (NameListFile::entryFor;
    // ConversionError when it is blank, and then nothing is written) and returns the
    // list as written. `shown`: the list as its box shows it, whose lines the result
    // shares where they are the same (see NameListFile::parse).
    QList<QByteArray> recordVisit(Table& table, const QList<QByteArray>& shown = {}) const;
    QList<QByteArray> addFavorite(Table& table, const QList<QByteArray>& shown = {}) const;
    // Removes every line equal to the picked one, byte for byte, and writes the rest,
    // creating the file if it is missing.
    QList<QByteArray> removeFavorite(const QByteArray& picked) const;
    // Empties the history file if it exists; creates none.
    void clearHistory() const;

private:
    QString m_folder;
};
