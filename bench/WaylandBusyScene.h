#pragma once

#include <cstdint>
#include <functional>
#include <random>

#include <QImage>
#include <QPainter>
#include <QRasterWindow>
#include <QTimer>

#include "BusyTexture.h"

namespace dovrel::bench {

// BusyScene's twin for a Wayland desktop: a full-screen client that redraws about 60 times a second (as
// often as the compositor takes frames), a large textured picture panned diagonally with a few solid
// rectangles sliding over it. The overlay draws on top of each frame (frame number `t`); `presented` is
// told once that frame has been handed to the compositor.
class WaylandBusyScene : public QRasterWindow {
public:
    using Overlay = std::function<void(QPainter& painter, int t)>;
    using Presented = std::function<void(int t)>;

    WaylandBusyScene(int width, int height, Overlay overlay, Presented presented)
        : w_(width), h_(height), overlay_(std::move(overlay)), presented_(std::move(presented)),
          texture_(2 * width, 2 * height, QImage::Format_RGB32) {
        ticks_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&ticks_, &QTimer::timeout, this, [this] { update(); });
        ticks_.start(16);
        std::mt19937 rng(42);
        for (int y = 0; y < texture_.height(); ++y) {
            auto* line = reinterpret_cast<uint32_t*>(texture_.scanLine(y));
            for (int x = 0; x < texture_.width(); ++x)
                line[x] = 0xFF000000 | busyTexturePixel(x, y, 2 * w_, 2 * h_, rng);
        }
    }

protected:
    bool event(QEvent* e) override {
        const int painted = t_;
        const bool handled = QRasterWindow::event(e); // an update request paints and hands the frame over
        if (t_ != painted && presented_) presented_(painted);
        return handled;
    }
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.drawImage(QPoint(0, 0), texture_, QRect((t_ * 7) % w_, (t_ * 4) % h_, w_, h_));
        for (int i = 0; i < 4; ++i) {
            const int x = (t_ * (5 + i * 3) + i * 300) % (w_ - 200), y = (t_ * (3 + i) + i * 150) % (h_ - 150);
            p.fillRect(x, y, 200, 150, QColor::fromRgb(0x3366CC + static_cast<uint32_t>(i) * 0x202020));
        }
        if (overlay_) overlay_(p, t_);
        ++t_;
    }

private:
    int w_, h_;
    Overlay overlay_;
    Presented presented_;
    QImage texture_;
    QTimer ticks_;
    int t_ = 0;
};

} // namespace dovrel::bench
