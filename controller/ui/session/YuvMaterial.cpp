#include "controller/ui/session/YuvMaterial.h"

#include <cstring>

#include <QImage>
#include <QQuickWindow>
#include <QSGMaterialShader>

namespace dovrel::controller {

namespace {

// Offsets in the shaders' uniform block (std140).
constexpr int matrixAt = 0, opacityAt = 64, sizeAt = 72, yuvToRgbAt = 80, uniformBytes = 144;

class YuvShader final : public QSGMaterialShader {
public:
    YuvShader() {
        setShaderFileName(VertexStage, QStringLiteral(":/dovrel/video/ui/shaders/yuv.vert.qsb"));
        setShaderFileName(FragmentStage, QStringLiteral(":/dovrel/video/ui/shaders/yuv.frag.qsb"));
    }

    bool updateUniformData(RenderState& state, QSGMaterial* newMaterial, QSGMaterial*) override {
        QByteArray* buf = state.uniformData();
        if (buf->size() < uniformBytes) return false;
        char* at = buf->data();
        if (state.isMatrixDirty()) std::memcpy(at + matrixAt, state.combinedMatrix().constData(), 64);
        if (state.isOpacityDirty()) {
            const float opacity = state.opacity();
            std::memcpy(at + opacityAt, &opacity, 4);
        }
        // The same material brings a new picture (its size may differ) on every update.
        const auto* m = static_cast<const YuvMaterial*>(newMaterial);
        const float size[2] = {static_cast<float>(m->pictureSize().width()),
                               static_cast<float>(m->pictureSize().height())};
        std::memcpy(at + sizeAt, size, 8);
        std::memcpy(at + yuvToRgbAt, m->yuvToRgb().constData(), 64); // column-major, as GLSL reads it
        return true;
    }

    void updateSampledImage(RenderState& state, int binding, QSGTexture** texture, QSGMaterial* newMaterial,
                            QSGMaterial*) override {
        if (binding < 1 || binding > 3) return;
        QSGTexture* t = static_cast<YuvMaterial*>(newMaterial)->plane(binding - 1);
        if (!t) return;
        t->commitTextureOperations(state.rhi(), state.resourceUpdateBatch());
        *texture = t;
    }
};

} // namespace

YuvMaterial::YuvMaterial() { setFlag(Blending, false); }

bool YuvMaterial::setPicture(QQuickWindow& window, const VideoPicture& picture) {
    if (picture.empty()) return false;
    std::array<std::unique_ptr<QSGTexture>, 3> textures;
    for (int i = 0; i < 3; ++i) {
        const int w = i == 0 ? picture.width : (picture.width + 1) / 2;
        const int h = i == 0 ? picture.height : (picture.height + 1) / 2;
        const auto index = static_cast<std::size_t>(i);
        // Four bytes of the plane per texel, read in place: RGBX goes up as RGBA without conversion.
        auto* keep = new std::shared_ptr<const void>(picture.planes.owner);
        const QImage image(
            picture.planes.data[index], (w + 3) / 4, h, picture.planes.stride[index], QImage::Format_RGBX8888,
            [](void* p) { delete static_cast<std::shared_ptr<const void>*>(p); }, keep);
        textures[index].reset(window.createTextureFromImage(image));
        if (!textures[index]) return false;
        textures[index]->setFiltering(QSGTexture::Nearest);
        textures[index]->setHorizontalWrapMode(QSGTexture::ClampToEdge);
        textures[index]->setVerticalWrapMode(QSGTexture::ClampToEdge);
    }
    planes_ = std::move(textures); // the previous picture's textures go now
    size_ = QSizeF(picture.width, picture.height);
    matrix_ = QMatrix4x4(yuvToRgbMatrix(picture.matrix, picture.fullRange).data()); // row-major in
    return true;
}

QSGMaterialType* YuvMaterial::type() const {
    static QSGMaterialType t;
    return &t;
}

QSGMaterialShader* YuvMaterial::createShader(QSGRendererInterface::RenderMode) const { return new YuvShader; }

int YuvMaterial::compare(const QSGMaterial* other) const {
    const auto* o = static_cast<const YuvMaterial*>(other);
    for (std::size_t i = 0; i < 3; ++i)
        if (planes_[i].get() != o->planes_[i].get()) return planes_[i].get() < o->planes_[i].get() ? -1 : 1;
    return 0;
}

} // namespace dovrel::controller
