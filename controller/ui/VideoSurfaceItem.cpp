#include "controller/ui/VideoSurfaceItem.h"

#include <QImage>
#include <QMetaObject>
#include <QQuickWindow>
#include <QSGImageNode>
#include <QSGRectangleNode>
#include <memory>

namespace dovrel::controller {

namespace {
// The item's nodes: black behind, the picture on top, and the picture's texture, which outlives the
// node that shows it.
struct VideoNode final : QSGNode {
    QSGRectangleNode* background = nullptr;
    QSGImageNode* image = nullptr;
    std::unique_ptr<QSGTexture> texture;

    ~VideoNode() override {
        removeAllChildNodes();
        delete image;
        delete background;
    }
};
} // namespace

VideoSurfaceItem::VideoSurfaceItem(QQuickItem* parent)
    : QQuickItem(parent), surface_(std::make_shared<VideoSurface>()) {
    setFlag(ItemHasContents, true);
    // The decoder's thread tells of each new picture; one queued repaint at a time is enough.
    surface_->setObserver([this](const VideoPicture&) {
        if (updateQueued_.exchange(true)) return;
        QMetaObject::invokeMethod(
            this,
            [this] {
                updateQueued_ = false;
                update();
            },
            Qt::QueuedConnection);
    });
}

VideoSurfaceItem::~VideoSurfaceItem() {
    // After this no picture calls back into the item, even if the decoder still holds the surface.
    surface_->setObserver(nullptr);
}

void VideoSurfaceItem::setClient(WEXClient* client) {
    if (client == client_) return;
    client_ = client;
    if (client_) client_->attachVideoSurface(surface_);
    emit clientChanged();
}

QRectF VideoSurfaceItem::fitted(QSizeF picture, QSizeF box) {
    if (picture.isEmpty() || box.isEmpty()) return {};
    const QSizeF size = picture.scaled(box, Qt::KeepAspectRatio);
    return QRectF(QPointF((box.width() - size.width()) / 2, (box.height() - size.height()) / 2), size);
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
    }
    node->background->setRect(boundingRect());

    if (auto picture = surface_->newerThan(shownGeneration_)) {
        // The texture reads the decoder's pixels in place; they stay alive as long as the texture does.
        auto* keep = new std::shared_ptr<const PixelBuffer>(picture->pixels);
        const QImage frame(
            picture->pixels->data(), picture->width, picture->height, picture->pixels->stride(), QImage::Format_RGB32,
            [](void* p) { delete static_cast<std::shared_ptr<const PixelBuffer>*>(p); }, keep);
        std::unique_ptr<QSGTexture> texture(w->createTextureFromImage(frame));
        if (texture) {
            pictureSize_ = QSize(picture->width, picture->height);
            const bool first = !node->image;
            if (first) {
                node->image = w->createImageNode();
                node->image->setFiltering(QSGTexture::Linear);
            }
            node->image->setTexture(texture.get());
            node->image->setRect(fitted(QSizeF(pictureSize_), size()));
            // Only a node with its texture joins the tree: the renderers read it as soon as it does.
            if (first) node->appendChildNode(node->image);
            node->texture = std::move(texture); // the previous one goes now that nothing shows it
        }
    }
    if (node->image) node->image->setRect(fitted(QSizeF(pictureSize_), size()));
    return node;
}

} // namespace dovrel::controller
