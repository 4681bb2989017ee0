#pragma once

#include <QIcon>
#include <QPixmap>
#include <QSize>
#include <array>

// The program's own pictures, drawn as SVG and compiled in as resources. They are
// rendered to pixmaps here so no image plug-in is needed at run time.
namespace Artwork {

// A picture from the art folder by file name without extension, at its size in
// device-independent pixels, with a sharp copy for high-density screens.
QIcon icon(const QString& name, QSize size);
QPixmap pixmap(const QString& name, QSize size, qreal devicePixelRatio = 1.0);

QIcon programIcon();

// The 14 menu pictures of 16 x 16, indexed as the menus use them.
std::array<QIcon, 14> imageList();

} // namespace Artwork
