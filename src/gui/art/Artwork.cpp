#include "art/Artwork.h"

#include <QPainter>
#include <QSvgRenderer>

namespace Artwork {

QPixmap pixmap(const QString& name, QSize size, qreal devicePixelRatio)
{
    QSvgRenderer renderer(QStringLiteral(":/art/%1.svg").arg(name));
    QPixmap result(size * devicePixelRatio);
    result.fill(Qt::transparent);
    if (renderer.isValid()) {
        QPainter painter(&result);
        renderer.render(&painter);
    }
    result.setDevicePixelRatio(devicePixelRatio);
    return result;
}

QIcon icon(const QString& name, QSize size)
{
    QIcon result;
    result.addPixmap(pixmap(name, size, 1.0));
    result.addPixmap(pixmap(name, size, 2.0));
    return result;
}

QIcon programIcon()
{
    QIcon result;
    for (int side : {16, 24, 32, 48, 64, 128, 256})
        result.addPixmap(pixmap(QStringLiteral("app-icon"), QSize(side, side)));
    return result;
}

std::array<QIcon, 14> imageList()
{
    std::array<QIcon, 14> list;
    for (int i = 0; i < 14; ++i)
        list[static_cast<size_t>(i)] = icon(QStringLiteral("menu-%1").arg(i, 2, 10, QLatin1Char('0')), QSize(16, 16));
    return list;
}

} // namespace Artwork
