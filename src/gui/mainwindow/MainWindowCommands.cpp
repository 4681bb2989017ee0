// The main window's commands: search and sort, Read Now with the favourites and the
// history, the record commands and the Help menu. Each reads its controls, calls the
// core and shows what comes back.
#include "dialogs/RecordDialog.h"
#include "directory/Table.h"
#include "directory/TableSchema.h"
#include "errors/AppError.h"
#include "grid/DBGrid.h"
#include "grid/NameListModel.h"
#include "lists/ReadingLists.h"
#include "mainwindow/MainWindow.h"
#include "records/RecordCommands.h"
#include "search/SearchFilter.h"
#include "startup/ProgramTitle.h"

#include <QComboBox>
#include <QLineEdit>
#include <QSignalBlocker>

namespace {

// Addresses under a domain reserved for examples, so no stranger receives mail.
const QString SupportAddress = QStringLiteral("feedback@kestrove.example.com");
const QString HomePage = QStringLiteral("https://kestrove.example.com/");
const QString AboutCaption = QStringLiteral("About Kestrove Online Newspaper");
const QString Notice = QStringLiteral("Copyright (C) 2026 the Kestrove Online Newspaper developers.\n"
                                      "A directory of online newspapers from around the world.");

// The bytes of the line a list box shows: the picked entry's own bytes, or the typed text.
QByteArray boxLine(const QComboBox* box)
{
    const QString text = box->currentText();
    const int index = box->currentIndex();
    if (index >= 0 && box->itemText(index) == text)
        return box->itemData(index).toByteArray();
    return text.toUtf8();
}

NameListModel* listOf(const QComboBox* box)
{
    return static_cast<NameListModel*>(box->model());
}

} // namespace

// Search and sort.

std::shared_ptr<const RecordFilter> TForm1::Table1FilterRecord() const
{
    // The table asks once per pass, so every pass judges by the criteria as they read now.
    return std::make_shared<SearchFilter>(SearchCriteria{Edit1->text(), ComboBox1->currentText(), Edit3->text(),
                                                         Edit4->text(), ComboBox2->currentText(), Edit6->text()});
}

void TForm1::BitBtn5Click()
{
    Table1->setFiltered(true);
}

void TForm1::BitBtn4Click()
{
    Table1->setFiltered(false);
}

void TForm1::Edit1KeyPress(QObject* /*Sender*/, QChar& Key)
{
    if (Key.unicode() == 13) {
        focusNextPrevChild(true);
        Key = QChar();
    }
}

void TForm1::Name1Click()
{
    Table1->setIndexName(QStringLiteral("Name1"));
}

void TForm1::Country1Click()
{
    Table1->setIndexName(QStringLiteral("Country1"));
}

void TForm1::State1Click()
{
    Table1->setIndexName(QStringLiteral("State1"));
}

void TForm1::City1Click()
{
    Table1->setIndexName(QStringLiteral("City1"));
}

void TForm1::Category1Click()
{
    Table1->setIndexName(QStringLiteral("Category1"));
}

void TForm1::WebAddress1Click()
{
    Table1->setIndexName(QStringLiteral("URL1"));
}

void TForm1::DBGrid1TitleClick(const GridColumn& Column)
{
    Table1->close();
    // Any other field leaves the order as it was.
    if (const QString index = TableSchema::indexForColumn(Column.fieldName); !index.isEmpty())
        Table1->setIndexName(index);
    Table1->open();
}

// Read Now, the visit history and the favourites.

void TForm1::BitBtn2Click()
{
    const QString address = ReadingLists::addressToOpen(*Table1);
    if (!m_platform.shell.open(address))
        throw AppError(ReadingLists::notOpened(address));
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
    fillHistory(ReadingLists(DataPath).history().read());
}

void TForm1::LoadFavorites()
{
    fillFavorites(ReadingLists(DataPath).favorites().read());
}

void TForm1::RecordVisit()
{
    fillHistory(ReadingLists(DataPath).recordVisit(*Table1));
}

void TForm1::openNamed(const QComboBox* box)
{
    if (box->currentText().isEmpty())
        return;
    if (!Table1->locate(QStringLiteral("Name"), boxLine(box)))
        return;
    BitBtn2Click();
}

void TForm1::SpeedButton3Click()
{
    openNamed(ComboBox4);
}

void TForm1::SpeedButton4Click()
{
    if (!confirm(QStringLiteral("Are you sure you want to delete all history records?")))
        return;
    ReadingLists(DataPath).clearHistory();
    fillHistory({});
}

void TForm1::BitBtn7Click()
{
    fillFavorites(ReadingLists(DataPath).addFavorite(*Table1));
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
    fillFavorites(ReadingLists(DataPath).removeFavorite(picked));
}

// Records: the dialog is built afresh for every command and destroyed when it closes.

void TForm1::BitBtn1Click()
{
    AddMode = true;
    TForm2 Form2(*this);
    Form2.exec();
}

void TForm1::BitBtn9Click()
{
    AddMode = false;
    TForm2 Form2(*this);
    Form2.exec();
}

void TForm1::BitBtn3Click()
{
    RecordCommands::remove(*Table1, confirm(QStringLiteral("Are you sure you want to delete this record?")));
}

// Help.

void TForm1::SendFeedback1Click()
{
    m_platform.shell.open(QStringLiteral("mailto:") + SupportAddress +
                          QStringLiteral("?subject=Kestrove_Online_Newspaper_Feedback"));
}

void TForm1::VisitHomepage1Click()
{
    m_platform.shell.open(HomePage);
}

void TForm1::About1Click()
{
    m_platform.boxes.show(this, ProgramTitle + QStringLiteral("\n\n") + Notice, AboutCaption,
                          MessageBoxes::Style::Plain);
}
