#include "lists/ReadingLists.h"

#include "directory/Table.h"
#include "errors/AppError.h"
#include "lists/WebAddress.h"

ReadingLists::ReadingLists(QString folder)
    : m_folder(std::move(folder))
{
}

NameListFile ReadingLists::favorites() const
{
    return NameListFile(m_folder + QStringLiteral("favorites.txt"));
}

NameListFile ReadingLists::history() const
{
    return NameListFile(m_folder + QStringLiteral("history.txt"));
}

QString ReadingLists::addressToOpen(Table& table)
{
    const QString url = table.field(Field::Url).asString();
    const std::optional<QString> address = WebAddress::forBrowser(url);
    if (!address) {
        throw AppError(QStringLiteral("\"%1\" is not a web address, so it was not opened. Only addresses starting with "
                                      "http:// or https://, or with a host name such as www.example.com, are opened")
                           .arg(url));
    }
    return *address;
}

QString ReadingLists::notOpened(const QString& address)
{
    // Long enough to recognise the address, short enough for a message box.
    constexpr qsizetype Longest = 200;
    const QString shown = address.size() <= Longest ? address : address.left(Longest) + QChar(0x2026);
    return QStringLiteral("\"%1\" could not be opened: no web browser took it. Nothing was recorded in the visit "
                          "history")
        .arg(shown);
}

namespace {

QList<QByteArray> appendCurrentName(const NameListFile& file, Table& table, const QList<QByteArray>& shown)
{
    const QByteArray name = NameListFile::entryFor(table.field(Field::Name).asString());
    return file.change([&](QList<QByteArray>& lines) { lines.append(name); }, shown);
}

} // namespace

QList<QByteArray> ReadingLists::recordVisit(Table& table, const QList<QByteArray>& shown) const
{
    return appendCurrentName(history(), table, shown);
}

QList<QByteArray> ReadingLists::addFavorite(Table& table, const QList<QByteArray>& shown) const
{
    return appendCurrentName(favorites(), table, shown);
}

QList<QByteArray> ReadingLists::removeFavorite(const QByteArray& picked) const
{
    return favorites().change([&](QList<QByteArray>& lines) { lines.removeAll(picked); });
}

void ReadingLists::clearHistory() const
{
    const NameListFile file = history();
    if (file.exists())
        file.write({});
}
