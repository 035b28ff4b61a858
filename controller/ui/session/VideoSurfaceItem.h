#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>

#include <QPointer>
#include <QQuickItem>
#include <QRectF>
#include <QSize>

#include "controller/client/session/WEXClient.h"
#include "controller/client/video/PictureConverter.h"
#include "controller/client/video/VideoSurface.h"

namespace dovrel::controller {

class MotionGate;

// The surface of the session window on which the remote picture is shown: the newest decoded picture,
// fitted into the item with its aspect ratio kept, on black (letter- or pillar-boxed, never stretched).
// Each item makes its own VideoSurface when it is made and owns it for its whole life; giving the item
// its client hands that surface to the client's decoder (which holds it weakly), which puts the
// session's newest picture on it at once: a window opened after the session's first picture never
// waits for the next keyframe. A picture is drawn from its YUV planes
// by the scene graph's shader (YuvMaterial) as soon as the decoder hands it over; with Qt Quick's
// software renderer, which runs no shaders, it is converted to RGB on the processor as it is drawn.
// A picture that shows the same as the last one (a still screen, sent again) is not drawn again.
// Pictures that come while the surface cannot be seen (Motion.shown: hidden, or its window minimised or
// covered) are not drawn; the newest is, once it can be seen again.
class VideoSurfaceItem : public QQuickItem {
    Q_OBJECT
    Q_PROPERTY(dovrel::controller::WEXClient* client READ client WRITE setClient NOTIFY clientChanged)

public:
    explicit VideoSurfaceItem(QQuickItem* parent = nullptr);
    ~VideoSurfaceItem() override;

    const std::shared_ptr<VideoSurface>& surface() const { return surface_; }

    WEXClient* client() const { return client_; }
    void setClient(WEXClient* client);

    // Before the application object is made: windows ask for their next frame without the platform's
    // default 5 ms wait for more events (QT_QPA_UPDATE_IDLE_TIME), so that a decoded picture reaches the
    // screen at once instead of 5 ms on. A value already in the environment is kept.
    static void prepareProcess();

    // Where a picture of `picture` pixels goes inside a box of `box`: as large as fits, centred.
    // The largest rectangle of `picture`'s shape in `box`, centred, on whole pixels: the picture's
    // edges are the window's pixels' edges, so that the first and last of them are the picture's.
    static QRectF fitted(QSizeF picture, QSizeF box);
    // Where the current picture is drawn, in item coordinates; empty before the first picture.
    QRectF pictureRect() const;
    // The frame identifier of the newest picture put into the scene graph; 0 before the first. Any
    // thread (the render thread updates it as it syncs, before the frame that shows it is drawn).
    uint32_t syncedFrameId() const { return syncedFrameId_.load(std::memory_order_acquire); }

signals:
    void clientChanged();

protected:
    QSGNode* updatePaintNode(QSGNode* old, UpdatePaintNodeData* data) override;
    void geometryChange(const QRectF& newGeometry, const QRectF& oldGeometry) override;

private:
    std::shared_ptr<VideoSurface> surface_;
    QPointer<WEXClient> client_;
    std::atomic<bool> updateQueued_{false};
    MotionGate* shown_ = nullptr; // a child
    bool pictureHeld_ = false;    // a picture came while unseen
    // Decoder-thread state (the surface runs its observer on one thread at a time): the last picture
    // the item asked to draw, and whether the next must be drawn even if it shows the same.
    std::optional<VideoPicture> lastAsked_;
    std::atomic<bool> redrawNext_{false};
    // Render-thread state (the GUI thread is blocked while it changes).
    uint64_t shownGeneration_ = 0;
    QSize pictureSize_;
    std::unique_ptr<PictureConverter> softwareConverter_; // only with the software renderer
    std::atomic<uint32_t> syncedFrameId_{0};
};

} // namespace dovrel::controller
