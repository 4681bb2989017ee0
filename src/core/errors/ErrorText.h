#pragma once

#include <QString>

// How the general error report words a message.
namespace ErrorText {

// The message as shown: a full stop is added when its last character sorts after '.'.
QString shown(const QString& message);

} // namespace ErrorText
