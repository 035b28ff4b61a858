// Renders an SVG icon to square PNGs at build time, so that the installed hicolor sizes come from the
// one drawing in brand/: render_icon <in.svg> <out-folder> <name> <size>... writes
// <out-folder>/<size>x<size>/<name>.png for each size.

#include <cstdio>
#include <cstdlib>
#include <string>

#include <QDir>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s <in.svg> <out-folder> <name> <size>...\n", argv[0]);
        return 2;
    }
    QSvgRenderer svg(QString::fromLocal8Bit(argv[1]));
    if (!svg.isValid()) {
        std::fprintf(stderr, "render_icon: %s is not a drawing I can read\n", argv[1]);
        return 1;
    }
    const QString folder = QString::fromLocal8Bit(argv[2]);
    const QString name = QString::fromLocal8Bit(argv[3]);
    for (int i = 4; i < argc; ++i) {
        char* end = nullptr;
        const long parsed = std::strtol(argv[i], &end, 10);
        if (*end != '\0' || parsed < 1 || parsed > 4096) {
            std::fprintf(stderr, "render_icon: %s is not a size\n", argv[i]);
            return 2;
        }
        const int size = static_cast<int>(parsed);
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        {
            QPainter painter(&image);
            painter.setRenderHint(QPainter::Antialiasing);
            svg.render(&painter, QRectF(0, 0, size, size));
        }
        const QString dir = QStringLiteral("%1/%2x%2").arg(folder).arg(size);
        const QString out = QStringLiteral("%1/%2.png").arg(dir, name);
        if (!QDir().mkpath(dir) || !image.save(out, "PNG")) {
            std::fprintf(stderr, "render_icon: cannot write %s\n", qPrintable(out));
            return 1;
        }
    }
    return 0;
}
