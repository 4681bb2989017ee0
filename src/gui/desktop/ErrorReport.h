#pragma once

#include "desktop/Platform.h"

#include <exception>

// The general error report: an error that ends a command is shown with its message,
// the application title as caption, an error icon and an OK button.
namespace ErrorReport {

void show(const Platform& platform, QWidget* owner, const QString& message);
void show(const Platform& platform, QWidget* owner, const std::exception& error);

// Runs a command; an error escaping it is reported and the program carries on.
template <class Command>
void guard(const Platform& platform, QWidget* owner, Command&& command)
{
    try {
        command();
    } catch (const std::exception& error) {
        show(platform, owner, error);
    }
}

} // namespace ErrorReport
