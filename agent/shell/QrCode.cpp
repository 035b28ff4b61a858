#include "agent/shell/QrCode.h"

#include <memory>
#include <qrencode.h>

#include <QPainter>

namespace dovrel::agent {

QrMatrix encodeQr(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    if (bytes.isEmpty()) return {};
    const std::unique_ptr<QRcode, decltype(&QRcode_free)> code(
        QRcode_encodeData(static_cast<int>(bytes.size()), reinterpret_cast<const unsigned char*>(bytes.constData()), 0,
                          QR_ECLEVEL_M),
        &QRcode_free);
    if (!code) return {};
    QrMatrix m;
    m.side = code->width;
    m.dark.resize(static_cast<std::size_t>(m.side) * static_cast<std::size_t>(m.side));
    for (std::size_t i = 0; i < m.dark.size(); ++i)
        m.dark[i] = (code->data[i] & 1) != 0;
    return m;
}

QImage renderQr(const QrMatrix& matrix, int pixels) {
    if (matrix.empty() || pixels < matrix.side) return {};
    QImage image(pixels, pixels, QImage::Format_RGB32);
    image.fill(Qt::white);
    // Modules of unequal widths (a scale that is not whole) read as a ragged code and trouble scanners.
    const int module = pixels / matrix.side;
    const int origin = (pixels - module * matrix.side) / 2;
    QPainter painter(&image);
    for (int y = 0; y < matrix.side; ++y)
        for (int x = 0; x < matrix.side; ++x)
            if (matrix.at(x, y)) painter.fillRect(origin + x * module, origin + y * module, module, module, Qt::black);
    return image;
}

} // namespace dovrel::agent
