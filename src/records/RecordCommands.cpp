// Adding, modifying and deleting records.
#include "app/AppError.h"
#include "directory/Table.h"
#include "ui/MainWindow.h"
#include "ui/RecordDialog.h"

#include <QComboBox>
#include <QLineEdit>

namespace {

void showRecordDialog(TForm1& form)
{
    TForm2 Form2(form);
    Form2.exec();
}

} // namespace

void TForm1::BitBtn1Click()
{
    AddMode = true;
    showRecordDialog(*this);
}

void TForm1::BitBtn9Click()
{
    AddMode = false;
    showRecordDialog(*this);
}

void TForm1::BitBtn3Click()
{
    if (confirm(QStringLiteral("Are you sure you want to delete this record?")))
        Table1->deleteRecord();
    Table1->refresh();
}

void TForm2::BitBtn1Click()
{
    Table& table = *Form1.Table1;
    if (Form1.AddMode) {
        if (Edit1->text().isEmpty())
            return;
        table.appendRecord({Edit1->text(), Edit6->text(), ComboBox1->currentText(), Edit3->text(), Edit4->text(),
                            ComboBox2->currentText()},
                           Form1.LastNo);
        table.refresh();
        return;
    }

    // Modify: with no current record the table refuses the edit, so nothing is written.
    table.disableControls();
    try {
        table.edit();
        if (!Edit1->text().isEmpty())
            table.setField(1, Edit1->text());
        table.setField(2, Edit6->text());
        table.setField(3, ComboBox1->currentText());
        table.setField(4, Edit3->text());
        table.setField(5, Edit4->text());
        table.setField(6, ComboBox2->currentText());
    } catch (...) {
        table.enableControls();
        throw;
    }
    table.enableControls();
    table.refresh();
}
