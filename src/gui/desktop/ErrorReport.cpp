#include "desktop/ErrorReport.h"

#include "errors/AppError.h"
#include "errors/ErrorText.h"

#include <new>

namespace ErrorReport {

void show(const Platform& platform, QWidget* owner, const QString& message)
{
    platform.boxes.show(owner, ErrorText::shown(message), platform.folder.applicationTitle(),
                        MessageBoxes::Style::Error);
}

void show(const Platform& platform, QWidget* owner, const std::exception& error)
{
    if (const auto* app = dynamic_cast<const AppError*>(&error))
        show(platform, owner, app->message());
    else if (dynamic_cast<const std::bad_alloc*>(&error))
        show(platform, owner, QStringLiteral("Out of memory"));
    else
        show(platform, owner, QString::fromLocal8Bit(error.what()));
}

} // namespace ErrorReport
