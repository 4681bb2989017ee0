#include "dialogs/RecordDialog.h"

#include "art/Artwork.h"
#include "directory/ItemLists.h"
#include "directory/Table.h"
#include "directory/TextRules.h"
#include "mainwindow/MainWindow.h"
#include "widgets/Controls.h"

#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QStyle>
#include <QValidator>

namespace {

// Client size of a 379 x 251 window with the usual border and title bar.
constexpr int ClientWidth = 371;
constexpr int ClientHeight = 224;

// Typed or pasted line breaks and control characters become blanks (see TextRules).
class NoLineBreaks : public QValidator
{
public:
    using QValidator::QValidator;
    State validate(QString& input, int& /*pos*/) const override
    {
        for (QChar& c : input) {
            if (TextRules::isRefused(c.unicode()))
                c = QLatin1Char(' ');
        }
        return Acceptable;
    }
};

QLineEdit* fieldEdit(QWidget* parent, const char* name, int x, int y, int w)
{
    auto* result = new QLineEdit(parent);
    result->setObjectName(QLatin1String(name));
    result->setGeometry(x, y, w, 21);
    result->setValidator(new NoLineBreaks(result));
    return result;
}

QComboBox* fieldBox(QWidget* parent, const char* name, int x, int y, int w, const QStringList& items)
{
    QComboBox* result = Controls::comboBox(parent, name, QRect(x, y, w, 21), true);
    result->addItems(items);
    result->lineEdit()->setValidator(new NoLineBreaks(result));
    return result;
}

} // namespace

RecordDialog::RecordDialog(MainWindow& owner, Mode mode)
    : QDialog(&owner)
    , m_owner(owner)
    , m_mode(mode)
{
    setObjectName(QStringLiteral("recordDialog"));
    setWindowTitle(QStringLiteral("Add a New Record"));
    setWindowIcon(Artwork::programIcon());
    setFont(MainWindow::windowFont());
    setWindowFlags(Qt::Dialog | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
    resize(ClientWidth, ClientHeight);

    m_group = new QGroupBox(QStringLiteral("Add Newspaper"), this);
    m_group->setObjectName(QStringLiteral("recordGroup"));
    m_group->setGeometry(8, 8, 353, 169);
    QLabel* nameLabel = Controls::label(m_group, "nameLabel", QStringLiteral("Name"), QPoint(8, 32));
    m_nameEdit = fieldEdit(m_group, "nameEdit", 56, 28, 281);
    QLabel* countryLabel = Controls::label(m_group, "countryLabel", QStringLiteral("Country"), QPoint(8, 64));
    m_countryBox = fieldBox(m_group, "countryBox", 56, 60, 121, ItemLists::dialogCountries());
    m_countryBox->setEditText(QStringLiteral("United States"));
    QLabel* stateLabel = Controls::label(m_group, "stateLabel", QStringLiteral("State"), QPoint(200, 64));
    m_stateEdit = fieldEdit(m_group, "stateEdit", 240, 60, 97);
    QLabel* cityLabel = Controls::label(m_group, "cityLabel", QStringLiteral("City"), QPoint(8, 96));
    m_cityEdit = fieldEdit(m_group, "cityEdit", 56, 92, 121);
    QLabel* categoryLabel = Controls::label(m_group, "categoryLabel", QStringLiteral("Category"), QPoint(184, 96));
    m_categoryBox = fieldBox(m_group, "categoryBox", 240, 92, 97, ItemLists::dialogCategories());
    m_categoryBox->setCurrentIndex(-1);
    m_categoryBox->setEditText(QString());
    QLabel* webLabel = Controls::label(m_group, "webLabel", QStringLiteral("Web"), QPoint(8, 128));
    m_webEdit = fieldEdit(m_group, "webEdit", 56, 124, 281);

    m_saveButton =
        new QPushButton(Artwork::icon(QStringLiteral("menu-00"), QSize(16, 16)), QStringLiteral("Add"), this);
    m_saveButton->setObjectName(QStringLiteral("saveButton"));
    m_saveButton->setGeometry(80, 192, 75, 25);
    m_saveButton->setDefault(true);
    m_saveButton->setAccessibleDescription(
        QStringLiteral("Stores the newspaper in the directory; the dialog stays open for the next one"));
    m_cancelButton =
        new QPushButton(style()->standardIcon(QStyle::SP_DialogCancelButton), QStringLiteral("Cancel"), this);
    m_cancelButton->setObjectName(QStringLiteral("cancelButton"));
    m_cancelButton->setGeometry(224, 192, 75, 25);
    m_cancelButton->setAccessibleDescription(QStringLiteral("Closes the dialog; what was stored stays"));
    // Enter on a focused button presses that button; elsewhere it presses Add/Modify.
    m_cancelButton->setAutoDefault(true);

    // Screen readers name each box by its label.
    Controls::labelFor(nameLabel, m_nameEdit);
    Controls::labelFor(countryLabel, m_countryBox);
    Controls::labelFor(stateLabel, m_stateEdit);
    Controls::labelFor(cityLabel, m_cityEdit);
    Controls::labelFor(categoryLabel, m_categoryBox);
    Controls::labelFor(webLabel, m_webEdit);

    const QList<QWidget*> chain = {m_nameEdit,    m_countryBox, m_stateEdit,  m_cityEdit,
                                   m_categoryBox, m_webEdit,    m_saveButton, m_cancelButton};
    for (int i = 0; i + 1 < chain.size(); ++i)
        setTabOrder(chain[i], chain[i + 1]);
    for (QWidget* field :
         {static_cast<QWidget*>(m_nameEdit), static_cast<QWidget*>(m_stateEdit), static_cast<QWidget*>(m_cityEdit),
          static_cast<QWidget*>(m_webEdit), static_cast<QWidget*>(m_countryBox->lineEdit()),
          static_cast<QWidget*>(m_categoryBox->lineEdit())})
        field->installEventFilter(this);

    connect(m_saveButton, &QPushButton::clicked, this, &RecordDialog::save);
    connect(m_cancelButton, &QPushButton::clicked, this, &RecordDialog::reject);
}

RecordTexts RecordDialog::texts() const
{
    return {m_nameEdit->text(),  m_webEdit->text(),  m_countryBox->currentText(),
            m_stateEdit->text(), m_cityEdit->text(), m_categoryBox->currentText()};
}

void RecordDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (event->spontaneous())
        return;
    Controls::centreOnScreen(this);
    showRecord();
    m_shown = texts();
    m_nameEdit->setFocus();
}

void RecordDialog::showRecord()
{
    if (m_mode == Mode::Add)
        return;
    setWindowTitle(QStringLiteral("Modify a record"));
    m_group->setTitle(QStringLiteral("Modify Newspaper"));
    m_saveButton->setText(QStringLiteral("Modify"));
    m_saveButton->setAccessibleDescription(
        QStringLiteral("Stores the changes in the current newspaper; the dialog stays open"));

    // A blank field, or no current record, leaves its box as designed.
    const auto stored = m_owner.table().storedTexts();
    if (!stored)
        return;
    auto copy = [&](Field::Position position, const std::function<void(const QString&)>& into) {
        if (const auto& text = (*stored)[static_cast<std::size_t>(position - 1)])
            into(QString::fromUtf8(*text));
    };
    copy(Field::Name, [this](const QString& t) { m_nameEdit->setText(t); });
    copy(Field::Url, [this](const QString& t) { m_webEdit->setText(t); });
    copy(Field::Country, [this](const QString& t) { m_countryBox->setEditText(t); });
    copy(Field::State, [this](const QString& t) { m_stateEdit->setText(t); });
    copy(Field::City, [this](const QString& t) { m_cityEdit->setText(t); });
    copy(Field::Category, [this](const QString& t) { m_categoryBox->setEditText(t); });
}

void RecordDialog::save()
{
    m_owner.saveRecord(m_mode == Mode::Add, m_shown, texts());
}

void RecordDialog::reject()
{
    // In turn with the commands given before it, so a waiting Add is not lost.
    m_owner.give(QStringLiteral("closeRecordDialog"), [dialog = QPointer<RecordDialog>(this)] {
        if (dialog)
            dialog->QDialog::reject();
    });
}

bool RecordDialog::eventFilter(QObject* watched, QEvent* event)
{
    // The Enter key belongs to the default button; only a carriage return typed as a
    // character (Ctrl+M) reaches a field, and moves to the next one.
    if (event->type() == QEvent::KeyPress && Controls::isTypedCarriageReturn(*static_cast<QKeyEvent*>(event))) {
        focusNextPrevChild(true);
        return true;
    }
    return QDialog::eventFilter(watched, event);
}
