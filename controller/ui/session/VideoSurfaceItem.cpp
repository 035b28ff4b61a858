#include "controller/ui/session/VideoSurfaceItem.h"

#include <algorithm>
#include <cmath>

#include <QImage>
#include <QMetaObject>
#include <QQuickWindow>
#include <QSGGeometryNode>
#include <QSGImageNode>
#include <QSGNode>
#include <QSGRectangleNode>
#include <QSGRendererInterface>
#include <memory>

#include "controller/ui/look/MotionGate.h"
#include "controller/ui/session/YuvMaterial.h"

namespace dovrel::controller {

namespace {

// The item's nodes: black behind, the picture on top. With a GPU renderer the picture is a rectangle
// drawn by YuvMaterial; with the software renderer it is an image node over an RGB texture, which
// outlives the node that shows it. A transform node (of no transform of its own) rather than a plain
// one: under a plain node, the picture's node, which joins once the first picture has come, was drawn
// by both renderers without the item's place in the window if the item had moved since its nodes were
// made (the session window's picture under the band of its top row, drawn at the window's top).
struct VideoNode final : QSGTransformNode {
    QSGRectangleNode* background = nullptr;
    QSGGeometryNode* yuv = nullptr;
    YuvMaterial* material = nullptr; // owned by `yuv`
    QSGImageNode* image = nullptr;
    std::unique_ptr<QSGTexture> texture;

    ~VideoNode() override {
        removeAllChildNodes();
        delete image;
        delete yuv;
        delete background;
    }
};

bool drawsWithShaders(QQuickWindow& w) {
    const QSGRendererInterface* ri = w.rendererInterface();
    return ri && QSGRendererInterface::isApiRhiBased(ri->graphicsApi());
}

// With the software renderer: the picture in RGB, as a texture of its own.
std::unique_ptr<QSGTexture> rgbTexture(QQuickWindow& w, PictureConverter& converter, const VideoPicture& picture) {
    std::shared_ptr<const PixelBuffer> pixels = converter.toRgb(picture);
    if (!pixels) return nullptr;
    // The texture reads the pixels in place; they stay alive as long as the texture does.
    auto* keep = new std::shared_ptr<const PixelBuffer>(pixels);
    const QImage frame(
        pixels->data(), picture.width, picture.height, pixels->stride(), QImage::Format_RGB32,
        [](void* p) { delete static_cast<std::shared_ptr<const PixelBuffer>*>(p); }, keep);
    return std::unique_ptr<QSGTexture>(w.createTextureFromImage(frame));
}

} // namespace

VideoSurfaceItem::VideoSurfaceItem(QQuickItem* parent)
    : QQuickItem(parent), surface_(std::make_shared<VideoSurface>()) {
    setFlag(ItemHasContents, true);
    shown_ = new MotionGate(this);
    connect(shown_, &MotionGate::shownChanged, this, [this] {
        if (!shown_->shown() || !pictureHeld_) return;
        pictureHeld_ = false;
        update();
    });
    // The decoder's thread tells of each new picture; one queued repaint at a time is enough. The agent
    // sends a still screen again every second, often as the very picture already drawn: drawing that
    // again would redraw the whole window for nothing, which with software OpenGL costs tens of
    // milliseconds of processor time.
    surface_->setObserver([this](const VideoPicture& picture) {
        const bool redraw = redrawNext_.exchange(false);
        if (!redraw && lastAsked_ && showsTheSame(*lastAsked_, picture)) return;
        lastAsked_ = picture;
        if (updateQueued_.exchange(true)) return;
        QMetaObject::invokeMethod(
            this,
            [this] {
                updateQueued_ = false;
                if (shown_->shown())
                    update();
                else
                    pictureHeld_ = true;
            },
            Qt::QueuedConnection);
    });
}

VideoSurfaceItem::~VideoSurfaceItem() {
    // After this no picture calls back into the item, even if the decoder still holds the surface.
    surface_->setObserver(nullptr);
    // The gate outlives this part of the item and tells of the window it leaves as the item is taken
    // from its parent, which only the base class's destructor does.
    disconnect(shown_, nullptr, this, nullptr);
}

void VideoSurfaceItem::setClient(WEXClient* client) {
    if (client == client_) return;
    client_ = client;
    if (client_) client_->attachVideoSurface(surface_);
    emit clientChanged();
}

void VideoSurfaceItem::prepareProcess() {
    if (!qEnvironmentVariableIsSet("QT_QPA_UPDATE_IDLE_TIME")) qputenv("QT_QPA_UPDATE_IDLE_TIME", "0");
}

QRectF VideoSurfaceItem::fitted(QSizeF picture, QSizeF box) {
    if (picture.isEmpty() || box.isEmpty()) return {};
    const QSizeF exact = picture.scaled(box, Qt::KeepAspectRatio);
    const QSizeF size(std::min(std::round(exact.width()), std::floor(box.width())),
                      std::min(std::round(exact.height()), std::floor(box.height())));
    return QRectF(QPointF(std::round((box.width() - size.width()) / 2), std::round((box.height() - size.height()) / 2)),
                  size);
}

QRectF VideoSurfaceItem::pictureRect() const { return fitted(QSizeF(pictureSize_), size()); }

void VideoSurfaceItem::geometryChange(const QRectF& newGeometry, const QRectF& oldGeometry) {
    QQuickItem::geometryChange(newGeometry, oldGeometry);
    update();
}

QSGNode* VideoSurfaceItem::updatePaintNode(QSGNode* old, UpdatePaintNodeData*) {
    QQuickWindow* w = window();
    if (!w) return old;
    auto* node = static_cast<VideoNode*>(old);
    if (!node) {
        node = new VideoNode;
        node->background = w->createRectangleNode();
        node->background->setColor(Qt::black);
        node->appendChildNode(node->background);
        // A new node (the item came into a window, or its scene graph was made anew) shows the newest
        // picture at once: the same one may never come again.
        shownGeneration_ = 0;
    }
    node->background->setRect(boundingRect());
    const bool shaders = drawsWithShaders(*w);

    if (auto picture = surface_->newerThan(shownGeneration_)) {
        bool placed = false;
        if (shaders) {
            const bool first = !node->yuv;
            if (first) {
                node->yuv = new QSGGeometryNode;
                auto* geometry = new QSGGeometry(QSGGeometry::defaultAttributes_TexturedPoint2D(), 4);
                node->yuv->setGeometry(geometry);
                node->yuv->setFlag(QSGNode::OwnsGeometry);
                node->material = new YuvMaterial;
                node->yuv->setMaterial(node->material);
                node->yuv->setFlag(QSGNode::OwnsMaterial);
            }
            placed = node->material->setPicture(*w, *picture);
            node->yuv->markDirty(QSGNode::DirtyMaterial);
            // Only a node with its textures joins the tree: the renderers read it as soon as it does.
            if (first && placed) node->appendChildNode(node->yuv);
        } else {
            if (!softwareConverter_) softwareConverter_ = std::make_unique<PictureConverter>(2);
            if (std::unique_ptr<QSGTexture> texture = rgbTexture(*w, *softwareConverter_, *picture)) {
                const bool first = !node->image;
                if (first) {
                    node->image = w->createImageNode();
                    node->image->setFiltering(QSGTexture::Linear);
                }
                node->image->setTexture(texture.get());
                if (first) node->appendChildNode(node->image);
                node->texture = std::move(texture); // the previous one goes now that nothing shows it
                placed = true;
            }
        }
        if (placed) {
            pictureSize_ = QSize(picture->width, picture->height);
            syncedFrameId_.store(picture->frameId, std::memory_order_release);
        } else {
            redrawNext_ = true; // the next picture is drawn even if it is this one again
        }
    }
    const QRectF rect = fitted(QSizeF(pictureSize_), size());
    if (node->image) node->image->setRect(rect);
    if (node->yuv && node->yuv->parent()) {
        QSGGeometry::updateTexturedRectGeometry(node->yuv->geometry(), rect, QRectF(0, 0, 1, 1));
        node->yuv->markDirty(QSGNode::DirtyGeometry);
    }
    return node;
}

} // namespace dovrel::controller
