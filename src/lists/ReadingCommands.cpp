// Read Now, the visit history and the favourites of the main window.
#include "app/AppError.h"
#include "directory/Table.h"
#include "lists/NameListFile.h"
#include "lists/NameListModel.h"
#include "lists/WebAddress.h"
#include "ui/MainWindow.h"

#include <QComboBox>
#include <QSignalBlocker>

namespace {

const QString HistoryFile = QStringLiteral("history.txt");
const QString FavoritesFile = QStringLiteral("favorites.txt");

// The bytes of the line a list box shows: the picked entry's own bytes, or the typed text.
QByteArray boxLine(const QComboBox* box)
{
    const QString text = box->currentText();
    const int index = box->currentIndex();
    if (index >= 0 && box->itemText(index) == text)
        return box->itemData(index).toByteArray();
    return text.toUtf8();
}

// A message names an address; a very long one is cut short so the box stays readable.
QString elided(const QString& address)
{
    constexpr qsizetype Longest = 200;
    return address.size() <= Longest ? address : address.left(Longest) + QChar(0x2026);
}

NameListModel* listOf(const QComboBox* box)
{
    return static_cast<NameListModel*>(box->model());
}

} // namespace

void TForm1::BitBtn2Click()
{
    const QString url = Table1->fieldByName(QStringLiteral("URL")).asString();
    const std::optional<QString> address = WebAddress::forBrowser(url);
    if (!address) {
        throw AppError(QStringLiteral("\"%1\" is not a web address, so it was not opened. Only addresses starting with "
                                      "http:// or https://, or with a host name such as www.example.com, are opened")
                           .arg(url));
    }
    if (!m_platform.shell.open(*address)) {
        throw AppError(QStringLiteral("\"%1\" could not be opened: no web browser took it. Nothing was recorded in the "
                                      "visit history")
                           .arg(elided(*address)));
    }
    RecordVisit();
}

void TForm1::DBGrid1DblClick()
{
    BitBtn2Click();
}

void TForm1::fillHistory(const QList<QByteArray>& lines)
{
    // Newest first; whatever the edit field shows stays.
    const QSignalBlocker blocker(ComboBox4);
    const QString typed = ComboBox4->currentText();
    listOf(ComboBox4)->setLines(lines, true);
    ComboBox4->setCurrentIndex(-1);
    ComboBox4->setEditText(typed);
}

void TForm1::fillFavorites(const QList<QByteArray>& lines)
{
    const QSignalBlocker blocker(ComboBox3);
    listOf(ComboBox3)->setLines(lines, false);
    ComboBox3->setCurrentIndex(-1);
}

void TForm1::LoadHistory()
{
    fillHistory(NameListFile(ExePath + HistoryFile).read());
}

QList<QByteArray> TForm1::appendCurrentName(const QString& fileName)
{
    const QByteArray name = Table1->field(1).asString().toUtf8();
    // Read afresh under a lock, so lines another copy of the program adds stay.
    return NameListFile(ExePath + fileName).change([&](QList<QByteArray>& lines) { lines.append(name); });
}

void TForm1::openNamed(const QComboBox* box)
{
    if (box->currentText().isEmpty())
        return;
    if (!Table1->locate(QStringLiteral("Name"), boxLine(box)))
        return;
    BitBtn2Click();
}

void TForm1::RecordVisit()
{
    fillHistory(appendCurrentName(HistoryFile));
}

void TForm1::SpeedButton3Click()
{
    openNamed(ComboBox4);
}

void TForm1::SpeedButton4Click()
{
    if (!confirm(QStringLiteral("Are you sure you want to delete all history records?")))
        return;
    const NameListFile file(ExePath + HistoryFile);
    if (file.exists())
        file.write({});
    fillHistory({});
}

void TForm1::LoadFavorites()
{
    fillFavorites(NameListFile(ExePath + FavoritesFile).read());
}

void TForm1::BitBtn7Click()
{
    appendCurrentName(FavoritesFile);
    LoadFavorites();
}

void TForm1::SpeedButton1Click()
{
    openNamed(ComboBox3);
}

void TForm1::SpeedButton2Click()
{
    if (ComboBox3->currentText().isEmpty())
        return;
    const QByteArray picked = boxLine(ComboBox3);
    if (!confirm(QStringLiteral("Are you sure you want to delete this record?")))
        return;
    fillFavorites(
        NameListFile(ExePath + FavoritesFile).change([&](QList<QByteArray>& lines) { lines.removeAll(picked); }));
}
