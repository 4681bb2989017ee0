#pragma once

#include <QDialog>

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class TForm1;

// The record dialog: one newspaper's six fields, for adding a record or modifying the
// current one. The main window chooses the mode (AddMode) and builds a fresh dialog
// for every command; pressing Add or Modify writes and leaves the dialog open.
class TForm2 : public QDialog
{
    Q_OBJECT

public:
    explicit TForm2(TForm1& owner);

    QGroupBox* GroupBox1 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* Label6 = nullptr;
    QLineEdit* Edit1 = nullptr;     // Name
    QComboBox* ComboBox1 = nullptr; // Country
    QLineEdit* Edit3 = nullptr;     // State
    QLineEdit* Edit4 = nullptr;     // City
    QComboBox* ComboBox2 = nullptr; // Category
    QLineEdit* Edit6 = nullptr;     // Web
    QPushButton* BitBtn1 = nullptr; // Add / Modify
    QPushButton* BitBtn2 = nullptr; // Cancel

    void FormShow();
    void BitBtn1Click();
    void Edit1KeyPress(QObject* Sender, QChar& Key);

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    TForm1& Form1;
};
