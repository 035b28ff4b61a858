#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "controller/client/video/VideoPicture.h"

struct AVFrame;
struct SwsContext;

namespace dovrel::controller {

// Brings decoded pictures into the forms the screen takes, with libswscale's frame API on several
// threads (its older single call runs on one):
// - picture(): a decoded frame as the 8-bit 4:2:0 planes the screen's shader reads. The usual layout
//   is passed on as it is, sharing the decoder's buffer; any other (10-bit, 4:2:2, 4:4:4) is converted.
// - toRgb(): a picture in 32-bit RGB, for a screen without a GPU shader (Qt Quick's software renderer)
//   and to check the shader against. The colour matrix and range follow the picture.
// Buffers are reused once nothing holds them any more. One thread at a time.
class PictureConverter {
public:
    explicit PictureConverter(int threads);
    ~PictureConverter();
    PictureConverter(const PictureConverter&) = delete;
    PictureConverter& operator=(const PictureConverter&) = delete;

    // The picture's planes, size and colours; the caller fills in the timing. Nothing when libswscale
    // refuses the layout.
    std::optional<VideoPicture> picture(const AVFrame& frame);
    // Nothing when libswscale refuses or memory runs out.
    std::shared_ptr<const PixelBuffer> toRgb(const VideoPicture& picture);

private:
    struct SwsFree {
        void operator()(SwsContext* s) const;
    };
    struct Key {
        int format = -1, width = 0, height = 0, range = 0, matrix = 0;
        bool operator==(const Key&) const = default;
    };
    struct Scaler {
        Key key;
        std::unique_ptr<SwsContext, SwsFree> sws;
    };
    SwsContext* scaler(Scaler& s, const Key& key, int dstFormat, bool setColours);

    std::shared_ptr<PixelBuffer> buffer(int width, int height);

    int threads_;
    Scaler toPlanes_;
    Scaler toRgb_;
    // Buffers handed out before; one whose only owner is this list is free again.
    static constexpr std::size_t poolSize = 4;
    std::vector<std::shared_ptr<PixelBuffer>> pool_;
};

} // namespace dovrel::controller
