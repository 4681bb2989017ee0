// Renders the program's SVG icon as a square PNG of one size, for the icon theme of a
// standard install: kestrove-render-icon SVG SIZE PNG. Run by the build only.

#include <QCoreApplication>
#include <QImage>
#include <QPainter>
#include <QSaveFile>
#include <QSvgRenderer>
#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    bool ok = false;
    const int size = args.size() == 4 ? args[2].toInt(&ok) : 0;
    if (!ok || size <= 0) {
        std::fputs("Usage: kestrove-render-icon SVG SIZE PNG\n", stderr);
        return 2;
    }
    QSvgRenderer renderer(args[1]);
    if (!renderer.isValid()) {
        std::fprintf(stderr, "kestrove-render-icon: cannot read %s\n", qUtf8Printable(args[1]));
        return 1;
    }
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    renderer.render(&painter);
    painter.end();
    // Through a temporary file, so an interrupted build leaves no broken icon behind.
    QSaveFile out(args[3]);
    if (!out.open(QIODevice::WriteOnly) || !image.save(&out, "PNG") || !out.commit()) {
        std::fprintf(stderr, "kestrove-render-icon: cannot write %s: %s\n", qUtf8Printable(args[3]),
                     qUtf8Printable(out.errorString()));
        return 1;
    }
    return 0;
}
