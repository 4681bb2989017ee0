#pragma once

#include "directory/Record.h"

#include <QDialog>

class MainWindow;
class QComboBox;
class QGroupBox;
class QLineEdit;
class QPushButton;

// The record dialog: one newspaper's six fields, for adding a record or modifying the
// current one. The main window builds a fresh dialog for every command; pressing Add
// or Modify writes and leaves the dialog open. Its button and its closing are given to
// the main window's commands in turn, so they keep their order with the rest.
class RecordDialog : public QDialog
{
    Q_OBJECT

public:
    enum class Mode
    {
        Add,
        Modify
    };

    RecordDialog(MainWindow& owner, Mode mode);

    // The six texts in field order (Name, Url, Country, State, City, Category).
    RecordTexts texts() const;

public slots:
    // Add or Modify, as its button does.
    void save();
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Modify mode: the titles, and the current record's fields in the boxes.
    void showRecord();

    MainWindow& m_owner;
    const Mode m_mode;
    // What the boxes showed when the dialog opened: Modify writes only what differs.
    RecordTexts m_shown;

    QGroupBox* m_group = nullptr;
    QLineEdit* m_nameEdit = nullptr;
    QComboBox* m_countryBox = nullptr;
    QLineEdit* m_stateEdit = nullptr;
    QLineEdit* m_cityEdit = nullptr;
    QComboBox* m_categoryBox = nullptr;
    QLineEdit* m_webEdit = nullptr;
    QPushButton* m_saveButton = nullptr;
    QPushButton* m_cancelButton = nullptr;
};
