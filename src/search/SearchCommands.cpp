// The search box and the sort commands of the main window.
#include "directory/Record.h"
#include "directory/Table.h"
#include "directory/TableSchema.h"
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
    // The column's field picks the index that orders by it, compared exactly, letter
    // case included; any other field leaves the order as it was.
    for (const TableSchema::IndexDef& index : TableSchema::indexes()) {
        if (Column.fieldName == QLatin1String(Field::columnNames()[index.position]))
            Table1->setIndexName(QLatin1String(index.name));
    }
    Table1->open();
}
