#pragma once

#include <cstdint>

#include "runtime/audio/PcmFormat.h"

namespace dovrel::agent {

// The sound's format on a link. At the link's full budget it is the captured 48 kHz stereo; while the
// link rule has lowered the rate, the best of a ladder of rates and channel counts whose frames take at
// most a quarter of it (32 kHz stereo around 5 Mbit/s, 32 kHz mono around 3, 16 kHz mono around 1.5),
// and never less than 8 kHz mono, which the lowest rate carries too.
struct AudioLinkFormat {
    static constexpr PcmFormat full{48000, 2};
    static constexpr PcmFormat least{8000, 1};

    // `linkBitRate` of a link whose full budget is `fullBitRate`.
    static PcmFormat forRate(int64_t linkBitRate, int64_t fullBitRate);
    // What sound of `format` takes on the link: sealed frames of 256 sample frames, in bits a second.
    static int64_t bitRate(PcmFormat format);
};

} // namespace dovrel::agent
