#pragma once

#include <string>

namespace dovrel::agent {

// Which hardware video encoders (VAAPI) this machine can open, probed once per process by opening a
// small session of each; a machine without a render node answers at once with none.
struct HardwareEncoders {
    std::string device; // the render node, e.g. "/dev/dri/renderD128"; empty when none works
    bool h264 = false;
    bool hevc = false;

    static const HardwareEncoders& probe();
};

} // namespace dovrel::agent
