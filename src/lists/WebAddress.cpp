#include "lists/WebAddress.h"

#include <QRegularExpression>
#include <QUrl>

namespace WebAddress {

namespace {

bool isWebUrl(const QUrl& url)
{
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https")) &&
           !url.host().isEmpty();
}

} // namespace

std::optional<QString> forBrowser(const QString& stored)
{
    const QString text = stored.trimmed();
    if (text.isEmpty() || text.contains(QRegularExpression(QStringLiteral("[\\x00-\\x1f\\x7f]"))))
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
