#include "desktop/DesktopPlatform.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>

bool DesktopShell::open(const QString& address)
{
    // True once the desktop's opener has taken the address; what the browser then
    // does with it cannot be known here.
    return QDesktopServices::openUrl(QUrl(address, QUrl::TolerantMode));
}

MessageBoxes::Answer DesktopMessageBoxes::show(QWidget* owner, const QString& text, const QString& caption, Style style)
{
    return showWithDescription(owner, text, caption, style, QString());
}

MessageBoxes::Answer DesktopMessageBoxes::showWithDescription(QWidget* owner, const QString& text,
                                                              const QString& caption, Style style,
                                                              const QString& description)
{
    QMessageBox box(owner);
    box.setWindowTitle(caption);
    box.setText(text);
    box.setTextFormat(Qt::PlainText);
    box.setAccessibleDescription(description);
    switch (style) {
    case Style::Plain:
        box.setIcon(QMessageBox::NoIcon);
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case Style::Error:
        box.setIcon(QMessageBox::Critical);
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case Style::Confirmation:
        box.setIcon(QMessageBox::Question);
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        box.setEscapeButton(QMessageBox::Cancel);
        box.button(QMessageBox::Cancel)->setAccessibleDescription(QStringLiteral("Leaves everything as it is"));
        break;
    }
    box.button(QMessageBox::Ok)
        ->setAccessibleDescription(style == Style::Confirmation ? QStringLiteral("Goes ahead")
                                                                : QStringLiteral("Closes the message"));
    box.setDefaultButton(QMessageBox::Ok);
    return box.exec() == QMessageBox::Ok ? Answer::Ok : Answer::Cancel;
}

QString DesktopFileDialogs::openFile(QWidget* owner, const QString& caption, const QString& filter)
{
    return QFileDialog::getOpenFileName(owner, caption, QDir::homePath(), filter);
}

QString DesktopFileDialogs::saveFile(QWidget* owner, const QString& caption, const QString& suggested,
                                     const QString& filter)
{
    return QFileDialog::getSaveFileName(owner, caption, QDir::home().filePath(suggested), filter);
}

FileDialogs& desktopFileDialogs()
{
    static DesktopFileDialogs dialogs;
    return dialogs;
}
