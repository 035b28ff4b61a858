#pragma once

#include <QImage>
#include <QString>
#include <vector>

namespace dovrel::agent {

// A QR code's modules: `side` × `side`, row by row, true for a dark module.
struct QrMatrix {
    int side = 0;
    std::vector<bool> dark;
    bool empty() const { return side == 0; }
    bool at(int x, int y) const { return dark[static_cast<std::size_t>(y * side + x)]; }
};

// The QR code of `text`'s UTF-8 bytes at error-correction level M (libqrencode, byte mode, the smallest
// version that holds it). Empty when the text is empty or too long for any version.
QrMatrix encodeQr(const QString& text);

// `matrix` drawn into a white square of `pixels` pixels that the symbol fills edge to edge; the white
// frame around it (the window's) is its quiet zone. Module edges fall on whole pixels, so a module is
// the same width or one pixel wider than its neighbour and every edge stays sharp. Null when the square
// is too small for one pixel a module.
QImage renderQr(const QrMatrix& matrix, int pixels);

} // namespace dovrel::agent
