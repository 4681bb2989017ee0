#include "dialogs/RecordDialog.h"

#include "art/Artwork.h"
#include "desktop/ErrorReport.h"
#include "directory/ItemLists.h"
#include "directory/Table.h"
#include "directory/TextRules.h"
#include "errors/AppError.h"
#include "mainwindow/MainWindow.h"
#include "records/RecordCommands.h"
#include "widgets/Controls.h"

#include <QComboBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QValidator>
#include <functional>

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

QLineEdit* edit(QWidget* parent, const char* name, int x, int y, int w)
{
    auto* result = new QLineEdit(parent);
    result->setObjectName(QLatin1String(name));
    result->setGeometry(x, y, w, 21);
    result->setValidator(new NoLineBreaks(result));
    return result;
}

QComboBox* comboBox(QWidget* parent, const char* name, int x, int y, int w, const QStringList& items)
{
    QComboBox* result = Controls::comboBox(parent, name, QRect(x, y, w, 21), true);
    result->addItems(items);
    result->lineEdit()->setValidator(new NoLineBreaks(result));
    return result;
}

} // namespace

TForm2::TForm2(TForm1& owner)
    : QDialog(&owner)
    , Form1(owner)
{
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("Add a New Record"));
    setWindowIcon(Artwork::programIcon());
    setFont(TForm1::windowFont());
    setWindowFlags(Qt::Dialog | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
    resize(ClientWidth, ClientHeight);

    GroupBox1 = new QGroupBox(QStringLiteral("Add Newspaper"), this);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    GroupBox1->setGeometry(8, 8, 353, 169);
    Label1 = Controls::label(GroupBox1, "Label1", QStringLiteral("Name"), QPoint(8, 32));
    Edit1 = edit(GroupBox1, "Edit1", 56, 28, 281);
    Label2 = Controls::label(GroupBox1, "Label2", QStringLiteral("Country"), QPoint(8, 64));
    ComboBox1 = comboBox(GroupBox1, "ComboBox1", 56, 60, 121, ItemLists::dialogCountries());
    ComboBox1->setEditText(QStringLiteral("United States"));
    Label3 = Controls::label(GroupBox1, "Label3", QStringLiteral("State"), QPoint(200, 64));
    Edit3 = edit(GroupBox1, "Edit3", 240, 60, 97);
    Label4 = Controls::label(GroupBox1, "Label4", QStringLiteral("City"), QPoint(8, 96));
    Edit4 = edit(GroupBox1, "Edit4", 56, 92, 121);
    Label5 = Controls::label(GroupBox1, "Label5", QStringLiteral("Category"), QPoint(184, 96));
    ComboBox2 = comboBox(GroupBox1, "ComboBox2", 240, 92, 97, ItemLists::dialogCategories());
    ComboBox2->setCurrentIndex(-1);
    ComboBox2->setEditText(QString());
    Label6 = Controls::label(GroupBox1, "Label6", QStringLiteral("Web"), QPoint(8, 128));
    Edit6 = edit(GroupBox1, "Edit6", 56, 124, 281);

    BitBtn1 = new QPushButton(Artwork::icon(QStringLiteral("menu-00"), QSize(16, 16)), QStringLiteral("Add"), this);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn1->setGeometry(80, 192, 75, 25);
    BitBtn1->setDefault(true);
    BitBtn2 = new QPushButton(style()->standardIcon(QStyle::SP_DialogCancelButton), QStringLiteral("Cancel"), this);
    BitBtn2->setObjectName(QStringLiteral("BitBtn2"));
    BitBtn2->setGeometry(224, 192, 75, 25);
    // Enter on a focused button presses that button; elsewhere it presses Add/Modify.
    BitBtn2->setAutoDefault(true);

    // Screen readers name each box by its label.
    Controls::labelFor(Label1, Edit1);
    Controls::labelFor(Label2, ComboBox1);
    Controls::labelFor(Label3, Edit3);
    Controls::labelFor(Label4, Edit4);
    Controls::labelFor(Label5, ComboBox2);
    Controls::labelFor(Label6, Edit6);

    const QList<QWidget*> chain = {Edit1, ComboBox1, Edit3, Edit4, ComboBox2, Edit6, BitBtn1, BitBtn2};
    for (int i = 0; i + 1 < chain.size(); ++i)
        setTabOrder(chain[i], chain[i + 1]);
    for (QWidget* field : {static_cast<QWidget*>(Edit1), static_cast<QWidget*>(Edit3), static_cast<QWidget*>(Edit4),
                           static_cast<QWidget*>(Edit6), static_cast<QWidget*>(ComboBox1->lineEdit()),
                           static_cast<QWidget*>(ComboBox2->lineEdit())})
        field->installEventFilter(this);

    connect(BitBtn1, &QPushButton::clicked, this, [this] {
        if (!Form1.Table1->busy())
            ErrorReport::guard(Form1.platform(), this, [this] { BitBtn1Click(); });
    });
    connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);
}

void TForm2::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (event->spontaneous())
        return;
    Controls::centreOnScreen(this);
    FormShow();
    Edit1->setFocus();
}

void TForm2::FormShow()
{
    if (Form1.AddMode)
        return;
    setWindowTitle(QStringLiteral("Modify a record"));
    GroupBox1->setTitle(QStringLiteral("Modify Newspaper"));
    BitBtn1->setText(QStringLiteral("Modify"));

    // Each copy stands alone: a blank field, or no current record, leaves that box as designed.
    Table& table = *Form1.Table1;
    const std::pair<int, std::function<void(const QString&)>> copies[] = {
        {1, [this](const QString& t) { Edit1->setText(t); }},
        {2, [this](const QString& t) { Edit6->setText(t); }},
        {3, [this](const QString& t) { ComboBox1->setEditText(t); }},
        {4, [this](const QString& t) { Edit3->setText(t); }},
        {5, [this](const QString& t) { Edit4->setText(t); }},
        {6, [this](const QString& t) { ComboBox2->setEditText(t); }},
    };
    for (const auto& [position, copy] : copies) {
        try {
            copy(table.field(position).asString());
        } catch (const AppError&) {
        }
    }
}

void TForm2::BitBtn1Click()
{
    const RecordTexts texts = {Edit1->text(), Edit6->text(), ComboBox1->currentText(),
                               Edit3->text(), Edit4->text(), ComboBox2->currentText()};
    if (Form1.AddMode)
        RecordCommands::add(*Form1.Table1, texts, Form1.LastNo);
    else
        RecordCommands::modify(*Form1.Table1, texts);
}

void TForm2::Edit1KeyPress(QObject* /*Sender*/, QChar& Key)
{
    if (Key.unicode() == 13) {
        focusNextPrevChild(true);
        Key = QChar();
    }
}

bool TForm2::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        // The Enter key belongs to the default button; only a carriage return typed
        // as a character (Ctrl+M) reaches the fields' key handler.
        if (Controls::isTypedCarriageReturn(*static_cast<QKeyEvent*>(event))) {
            QChar typed(13);
            Edit1KeyPress(watched, typed);
            if (typed.isNull())
                return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}
