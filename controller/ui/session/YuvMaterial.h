#pragma once

#include <array>
#include <memory>

#include <QMatrix4x4>
#include <QSGMaterial>
#include <QSGTexture>
#include <QSizeF>

#include "controller/client/video/VideoPicture.h"

class QQuickWindow;

namespace dovrel::controller {

// The scene graph material that draws a decoded 4:2:0 picture straight from its planes: each plane goes
// up as a texture holding four of its bytes per texel, and the fragment shader converts to RGB with the
// picture's matrix and range. Nothing is converted on the processor.
class YuvMaterial final : public QSGMaterial {
public:
    YuvMaterial();

    // Uploads `picture`'s planes (on the scene graph's thread, while it syncs). The planes stay alive as
    // long as their textures do. False when a texture could not be made; the previous picture stays.
    bool setPicture(QQuickWindow& window, const VideoPicture& picture);

    QSGMaterialType* type() const override;
    QSGMaterialShader* createShader(QSGRendererInterface::RenderMode mode) const override;
    int compare(const QSGMaterial* other) const override;

    QSGTexture* plane(int i) const { return planes_[static_cast<std::size_t>(i)].get(); }
    QSizeF pictureSize() const { return size_; }
    const QMatrix4x4& yuvToRgb() const { return matrix_; }

private:
    std::array<std::unique_ptr<QSGTexture>, 3> planes_;
    QSizeF size_;
    QMatrix4x4 matrix_;
};

} // namespace dovrel::controller
