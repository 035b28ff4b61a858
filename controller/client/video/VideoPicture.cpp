#include "controller/client/video/VideoPicture.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace dovrel::controller {

std::array<float, 16> yuvToRgbMatrix(ColourMatrix matrix, bool fullRange) {
    // Luma and colour-difference weights of the matrix.
    const double kr = matrix == ColourMatrix::bt709 ? 0.2126 : 0.299;
    const double kb = matrix == ColourMatrix::bt709 ? 0.0722 : 0.114;
    const double kg = 1.0 - kr - kb;
    // Range: video range spans 219 (luma) and 224 (chroma) of 255 levels from 16; full range all 255.
    const double ys = fullRange ? 1.0 : 255.0 / 219.0, cs = fullRange ? 1.0 : 255.0 / 224.0;
    const double y0 = fullRange ? 0.0 : 16.0 / 255.0, c0 = 128.0 / 255.0;
    const double rv = 2 * (1 - kr) * cs, bu = 2 * (1 - kb) * cs;
    const double gu = -2 * (1 - kb) * kb / kg * cs, gv = -2 * (1 - kr) * kr / kg * cs;
    const auto f = [](double v) { return static_cast<float>(v); };
    return {
        f(ys), 0,     f(rv), f(-ys * y0 - rv * c0),        // R
        f(ys), f(gu), f(gv), f(-ys * y0 - (gu + gv) * c0), // G
        f(ys), f(bu), 0,     f(-ys * y0 - bu * c0),        // B
        0,     0,     0,     1,
    };
}

bool showsTheSame(const VideoPicture& a, const VideoPicture& b) {
    if (a.empty() || b.empty() || a.width != b.width || a.height != b.height || a.matrix != b.matrix ||
        a.fullRange != b.fullRange)
        return false;
    for (std::size_t i = 0; i < 3; ++i) {
        const auto w = static_cast<std::size_t>(i == 0 ? a.width : (a.width + 1) / 2);
        const int h = i == 0 ? a.height : (a.height + 1) / 2;
        if (a.planes.data[i] == b.planes.data[i] && a.planes.stride[i] == b.planes.stride[i]) continue;
        for (int y = 0; y < h; ++y)
            if (std::memcmp(a.planes.data[i] + static_cast<std::ptrdiff_t>(y) * a.planes.stride[i],
                            b.planes.data[i] + static_cast<std::ptrdiff_t>(y) * b.planes.stride[i], w) != 0)
                return false;
    }
    return true;
}

uint32_t VideoPicture::rgbAt(int x, int y) const {
    const std::array<float, 16> m = yuvToRgbMatrix(matrix, fullRange);
    const float in[4] = {sample(0, x, y) / 255.0f, sample(1, x / 2, y / 2) / 255.0f, sample(2, x / 2, y / 2) / 255.0f,
                         1.0f};
    uint32_t out = 0;
    for (int row = 0; row < 3; ++row) {
        float v = 0;
        for (int col = 0; col < 4; ++col)
            v += m[static_cast<std::size_t>(row * 4 + col)] * in[col];
        out = out << 8 | static_cast<uint32_t>(std::lround(std::clamp(v, 0.0f, 1.0f) * 255.0f));
    }
    return out;
}

} // namespace dovrel::controller
