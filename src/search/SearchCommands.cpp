// The search box and the sort commands of the main window.
#include "directory/Table.h"
#include "search/SearchFilter.h"
#include "ui/MainWindow.h"

#include <QComboBox>
#include <QLineEdit>

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

void TForm1::sortBy(const QString& indexName)
{
    Table1->setIndexName(indexName);
}

void TForm1::Name1Click()
{
    sortBy(QStringLiteral("Name1"));
}
void TForm1::Country1Click()
{
    sortBy(QStringLiteral("Country1"));
}
void TForm1::State1Click()
{
    sortBy(QStringLiteral("State1"));
}
void TForm1::City1Click()
{
    sortBy(QStringLiteral("City1"));
}
void TForm1::Category1Click()
{
    sortBy(QStringLiteral("Category1"));
}
void TForm1::WebAddress1Click()
{
    sortBy(QStringLiteral("URL1"));
}

void TForm1::DBGrid1TitleClick(const GridColumn& Column)
{
    Table1->close();
    const QString& field = Column.fieldName; // compared exactly, letter case included
    if (field == QLatin1String("Name"))
        Table1->setIndexName(QStringLiteral("Name1"));
    else if (field == QLatin1String("Country"))
        Table1->setIndexName(QStringLiteral("Country1"));
    else if (field == QLatin1String("Category"))
        Table1->setIndexName(QStringLiteral("Category1"));
    else if (field == QLatin1String("State"))
        Table1->setIndexName(QStringLiteral("State1"));
    else if (field == QLatin1String("City"))
        Table1->setIndexName(QStringLiteral("City1"));
    else if (field == QLatin1String("Url"))
        Table1->setIndexName(QStringLiteral("URL1"));
    Table1->open();
}
