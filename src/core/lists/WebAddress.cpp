#include "lists/WebAddress.h"

#include "directory/TextRules.h"

#include <QRegularExpression>
#include <QUrl>
#include <algorithm>

namespace WebAddress {

namespace {

// User information before the host ("https://www.good.com@evil.com/") shows one site
// and leads to another, so an address with any is refused.
bool isWebUrl(const QUrl& url)
{
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https")) &&
           !url.host().isEmpty() && url.userInfo().isEmpty();
}

// Bidirectional embedding, override and isolate controls can make an address read
// differently from where it leads.
bool hasBidiControl(const QString& text)
{
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if ((u >= 0x202A && u <= 0x202E) || (u >= 0x2066 && u <= 0x2069))
            return true;
    }
    return false;
}

} // namespace

std::optional<QString> forBrowser(const QString& stored)
{
    const QString text = stored.trimmed();
    const bool hidden =
        std::any_of(text.begin(), text.end(), [](QChar c) { return TextRules::isControl(c.unicode()); });
    if (text.isEmpty() || hidden || hasBidiControl(text))
        return std::nullopt;

    static const QRegularExpression scheme(QStringLiteral("^([A-Za-z][A-Za-z0-9+.-]*):"));
    // A host name: labels of letters, digits and hyphens, at least two of them,
    // then an optional port and path.
    static const QRegularExpression hostLike(QStringLiteral(
        "^[\\p{L}\\p{N}](?:[\\p{L}\\p{N}-]*[\\p{L}\\p{N}])?(?:\\.[\\p{L}\\p{N}](?:[\\p{L}\\p{N}-]*[\\p{L}\\p{N}])?)+"
        "\\.?(?::[0-9]{1,5})?(?:[/?#]\\S*)?$"));

    if (hostLike.match(text).hasMatch()) {
        // "www.example.com:8080/x" looks like a scheme to a parser; it is a host.
        const QUrl url(QStringLiteral("https://") + text, QUrl::StrictMode);
        if (isWebUrl(url))
            return QStringLiteral("https://") + text;
        return std::nullopt;
    }
    if (!scheme.match(text).hasMatch())
        return std::nullopt;
    const QUrl url(text, QUrl::StrictMode);
    if (!isWebUrl(url))
        return std::nullopt;
    return text;
}

} // namespace WebAddress
