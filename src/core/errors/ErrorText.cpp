#include "errors/ErrorText.h"

namespace ErrorText {

QString shown(const QString& message)
{
    if (!message.isEmpty() && message.back() > QLatin1Char('.'))
        return message + QLatin1Char('.');
    return message;
}

} // namespace ErrorText
