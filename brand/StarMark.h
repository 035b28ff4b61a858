#pragma once

#include <QImage>
#include <QString>

namespace dovrel::brand {

// The star mark as drawn in star.svg (brand green), built into the program as a Qt resource.
inline constexpr const char* starResource = ":/brand/star.svg";
inline constexpr const char* starUrl = "qrc:/brand/star.svg";

// The star filled into a square of `side` pixels, `inset` pixels in from every edge, on transparency.
// A null image when the drawing cannot be read.
QImage starImage(int side, double inset);

} // namespace dovrel::brand
