// The main window's commands: search and sort, Read Now with the favourites and the
// history, the record commands and the Help menu (the commands on the whole directory
// are in MainWindowTools.cpp). Each is given to the command queue
// with what it read from the controls when the user gave it; when it runs, it calls
// the core and shows what comes back.
#include "commands/CommandQueue.h"
#include "datatool/AddressKey.h"
#include "dialogs/RecordDialog.h"
#include "directory/Table.h"
#include "errors/AppError.h"
#include "grid/NameListModel.h"
#include "help/HelpWindow.h"
#include "lists/NameListFile.h"
#include "lists/ReadingLists.h"
#include "mainwindow/MainWindow.h"
#include "records/RecordCommands.h"
#include "startup/ProgramTitle.h"

#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QSignalBlocker>

namespace {

// Addresses under a domain reserved for examples, so no stranger receives mail.
const QString SupportAddress = QStringLiteral("feedback@kestrove.example.com");
const QString HomePage = QStringLiteral("https://kestrove.example.com/");
const QString AboutCaption = QStringLiteral("About Kestrove Online Newspaper");
const QString Notice = QStringLiteral("Copyright (C) 2026 the Kestrove Online Newspaper developers.\n"
                                      "A directory of online newspapers from around the world.");

// For a help command whose address no program took.
QString noProgramFor(const QString& address)
{
    return QStringLiteral("\"%1\" could not be opened: no program on this desktop took it").arg(address);
}

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

SearchCriteria MainWindow::criteria() const
{
    return SearchCriteria{m_nameEdit->text(), m_countryBox->currentText(),  m_stateEdit->text(),
                          m_cityEdit->text(), m_categoryBox->currentText(), m_webEdit->text()};
}

std::shared_ptr<const RecordFilter> MainWindow::searchRule() const
{
    // The table asks once per pass, so every pass judges by the criteria as they read now.
    return std::make_shared<SearchFilter>(criteria());
}

void MainWindow::search()
{
    // The criteria as they read when the user asked, even if the search waits.
    auto rule = std::make_shared<SearchFilter>(criteria());
    give(QStringLiteral("search"), [this, rule] { m_table->setFiltered(true, rule); });
}

void MainWindow::showAll()
{
    give(QStringLiteral("showAll"), [this] { m_table->setFiltered(false); });
}

void MainWindow::sortBy(Field::Position field)
{
    give(QStringLiteral("sortBy"), [this, field] { m_table->setOrder(field); });
}

void MainWindow::sortByColumnTitle(Field::Position field)
{
    give(QStringLiteral("sortByColumnTitle"), [this, field] {
        // Closed and opened again, so the grid goes back to its first record.
        m_table->close();
        m_table->setOrder(field);
        m_table->open();
    });
}

// Read Now, the visit history and the favourites.

void MainWindow::readNow()
{
    give(QStringLiteral("readNow"), [this] { openRecord(); });
}

void MainWindow::openRecord()
{
    const QString address = ReadingLists::addressToOpen(*m_table);
    if (!m_platform.shell.open(address))
        throw AppError(ReadingLists::notOpened(address));
    recordVisit();
}

void MainWindow::fillHistory(const QList<QByteArray>& lines)
{
    // Newest first; whatever the edit field shows stays.
    const QSignalBlocker blocker(m_historyBox);
    const QString typed = m_historyBox->currentText();
    listOf(m_historyBox)->setLines(lines, true);
    m_historyBox->setCurrentIndex(-1);
    m_historyBox->setEditText(typed);
}

void MainWindow::fillFavourites(const QList<QByteArray>& lines)
{
    const QSignalBlocker blocker(m_favouritesBox);
    listOf(m_favouritesBox)->setLines(lines, false);
    m_favouritesBox->setCurrentIndex(-1);
}

void MainWindow::loadHistory()
{
    fillHistory(ReadingLists(m_dataFolder).history().read());
}

void MainWindow::loadFavourites()
{
    fillFavourites(ReadingLists(m_dataFolder).favorites().read());
}

void MainWindow::recordVisit()
{
    fillHistory(ReadingLists(m_dataFolder).recordVisit(*m_table, listOf(m_historyBox)->lines()));
}

void MainWindow::openNamed(const QByteArray& line)
{
    if (m_table->locate(Field::Name, line))
        openRecord();
}

void MainWindow::goToVisited()
{
    if (m_historyBox->currentText().isEmpty()) {
        give(QStringLiteral("goToVisited"), [] {}); // an empty box names nothing to open
        return;
    }
    give(QStringLiteral("goToVisited"), [this, line = boxLine(m_historyBox)] { openNamed(line); });
}

void MainWindow::clearHistory()
{
    give(QStringLiteral("clearHistory"), [this] {
        if (!confirm(QStringLiteral("Are you sure you want to delete all history records?")))
            return;
        ReadingLists(m_dataFolder).clearHistory();
        fillHistory({});
    });
}

void MainWindow::addToFavourites()
{
    give(QStringLiteral("addToFavourites"), [this] {
        fillFavourites(ReadingLists(m_dataFolder).addFavorite(*m_table, listOf(m_favouritesBox)->lines()));
    });
}

void MainWindow::goToFavourite()
{
    if (m_favouritesBox->currentText().isEmpty()) {
        give(QStringLiteral("goToFavourite"), [] {}); // nothing picked: nothing to open
        return;
    }
    give(QStringLiteral("goToFavourite"), [this, line = boxLine(m_favouritesBox)] { openNamed(line); });
}

void MainWindow::deleteFavourite()
{
    if (m_favouritesBox->currentText().isEmpty()) {
        give(QStringLiteral("deleteFavourite"), [] {}); // nothing picked: no question either
        return;
    }
    give(QStringLiteral("deleteFavourite"), [this, picked = boxLine(m_favouritesBox)] {
        if (!confirm(QStringLiteral("Are you sure you want to delete this record?"),
                     QStringLiteral("The favorite to delete: %1").arg(NameListFile::display(picked))))
            return;
        fillFavourites(ReadingLists(m_dataFolder).removeFavorite(picked));
    });
}

// Records: the dialog is built afresh for every command and destroyed when it closes.

void MainWindow::addRecord()
{
    give(QStringLiteral("addRecord"), [this] { openRecordDialog(true); });
}

void MainWindow::modifyRecord()
{
    give(QStringLiteral("modifyRecord"), [this] { openRecordDialog(false); });
}

void MainWindow::openRecordDialog(bool adding)
{
    RecordDialog dialog(*this, adding ? RecordDialog::Mode::Add : RecordDialog::Mode::Modify);
    dialog.exec();
}

void MainWindow::saveRecord(bool adding, const RecordTexts& shown, const RecordTexts& texts)
{
    give(QStringLiteral("saveRecord"), [this, adding, shown, texts] {
        // The grid behind the dialog then shows the record added or modified, unless the
        // search in force hides it.
        if (adding) {
            // An empty name adds nothing, so there is nothing to ask about.
            if (texts[Field::Name - 1].isEmpty() || !addAnyway(texts[Field::Url - 1]))
                return;
            if (RecordCommands::add(*m_table, texts, m_lastNumber))
                m_table->locateNumber(m_lastNumber);
            return;
        }
        const qint64 number = m_table->hasCurrentRecord() ? m_table->field(Field::No).asInteger() : 0;
        RecordCommands::modify(*m_table, shown, texts);
        if (number > 0)
            m_table->locateNumber(number);
    });
}

bool MainWindow::addAnyway(const QString& address)
{
    // Among the records held, as the window shows the directory: looked through on
    // every core, so a million records hold the window a few milliseconds.
    const AddressKey::Wanted wanted = AddressKey::wanted(address);
    if (wanted.key.empty())
        return true;
    const std::optional<Table::Found> holder = m_table->firstWhere(
        Field::Url, [&](std::optional<std::string_view> url) { return url && AddressKey::sameAddress(*url, wanted); });
    if (!holder)
        return true;
    const QString paper = holder->name ? QString::fromUtf8(*holder->name) : QStringLiteral("No %1").arg(holder->no);
    return confirm(QStringLiteral("The web address %1 is already in the directory, for the newspaper \"%2\". Add "
                                  "this newspaper anyway?")
                       .arg(address.trimmed(), paper),
                   QStringLiteral("The newspaper that has the address: %1").arg(paper));
}

void MainWindow::deleteRecord()
{
    give(QStringLiteral("deleteRecord"), [this] {
        const QString paper =
            m_table->hasCurrentRecord() ? m_table->displayText(m_table->currentRow(), Field::Name) : QString();
        RecordCommands::remove(
            *m_table, confirm(QStringLiteral("Are you sure you want to delete this record?"),
                              paper.isEmpty() ? QString() : QStringLiteral("The newspaper to delete: %1").arg(paper)));
    });
}

void MainWindow::copyWebAddress()
{
    // The address as stored; a blank one, or an empty grid, fails as Read Now does.
    give(QStringLiteral("copyWebAddress"),
         [this] { QGuiApplication::clipboard()->setText(m_table->field(Field::Url).asString()); });
}

// Help and Exit.

void MainWindow::helpTopics()
{
    give(QStringLiteral("helpTopics"), [this] { HelpWindow::showGuide(this); });
}

void MainWindow::sendFeedback()
{
    give(QStringLiteral("sendFeedback"), [this] {
        const QString address =
            QStringLiteral("mailto:") + SupportAddress + QStringLiteral("?subject=Kestrove_Online_Newspaper_Feedback");
        if (!m_platform.shell.open(address))
            throw AppError(noProgramFor(address));
    });
}

void MainWindow::visitHomepage()
{
    give(QStringLiteral("visitHomepage"), [this] {
        if (!m_platform.shell.open(HomePage))
            throw AppError(noProgramFor(HomePage));
    });
}

void MainWindow::about()
{
    give(QStringLiteral("about"), [this] {
        m_platform.boxes.show(this, ProgramTitle + QStringLiteral("\n\n") + Notice, AboutCaption,
                              MessageBoxes::Style::Plain);
    });
}

void MainWindow::exitProgram()
{
    give(QStringLiteral("exit"), [this] { close(); });
}
