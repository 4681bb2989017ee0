#pragma once

#include <QString>
#include <optional>

// Which stored addresses may be handed to the browser. Only web addresses are:
// http and https with a host. An address without a scheme that starts like a host
// name gets "https://" in front, as a browser's address bar would do. Anything else
// (a file path, file:, javascript:, data:, other schemes, text with no host) is refused,
// so a record can never start a local program or open a local file.
namespace WebAddress {

std::optional<QString> forBrowser(const QString& stored);

} // namespace WebAddress
