// The Help menu of the main window.
#include "app/ProgramTitle.h"
#include "ui/MainWindow.h"

namespace {
// Addresses under a domain reserved for examples, so no stranger receives mail.
const QString SupportAddress = QStringLiteral("feedback@kestrove.example.com");
const QString HomePage = QStringLiteral("https://kestrove.example.com/");
const QString AboutCaption = QStringLiteral("About Kestrove Online Newspaper");
const QString Notice = QStringLiteral("Copyright (C) 2026 the Kestrove Online Newspaper developers.\n"
                                      "A directory of online newspapers from around the world.");
} // namespace

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
