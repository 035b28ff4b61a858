#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "controller/client/VideoPicture.h"

struct AVFrame;
struct SwsContext;

namespace dovrel::controller {

// Turns decoded pictures (YUV of any layout libavcodec gives) into 32-bit RGB pictures for the screen,
// with libswscale's frame API on several threads (its older single call runs on one). The colour
// matrix and range follow what the stream says, BT.601 video range when it says nothing. Pixel buffers
// are reused once nothing on screen holds them any more. One thread at a time.
class PictureConverter {
public:
    explicit PictureConverter(int threads);
    ~PictureConverter();
    PictureConverter(const PictureConverter&) = delete;
    PictureConverter& operator=(const PictureConverter&) = delete;

    // The picture's pixels and size; the caller fills in the timing. Nothing when libswscale refuses.
    std::optional<VideoPicture> convert(const AVFrame& frame);

private:
    struct SwsFree {
        void operator()(SwsContext* s) const;
    };
    struct Key {
        int format = -1, width = 0, height = 0, range = 0, matrix = 0;
        bool operator==(const Key&) const = default;
    };

    std::shared_ptr<PixelBuffer> buffer(int width, int height);

    int threads_;
    Key key_;
    std::unique_ptr<SwsContext, SwsFree> sws_;
    // Buffers handed out before; one whose only owner is this list is free again.
    static constexpr std::size_t poolSize = 4;
    std::vector<std::shared_ptr<PixelBuffer>> pool_;
};

} // namespace dovrel::controller
