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

// `matrix` drawn into a white square of `pixels` pixels: every module the same whole number of pixels
// (the most that fit), the symbol centred, so that what is left over widens the white round it; the
// white frame around the square (the window's) is the rest of its quiet zone. Null when the square is
// too small for one pixel a module.
QImage renderQr(const QrMatrix& matrix, int pixels);

} // namespace dovrel::agent
