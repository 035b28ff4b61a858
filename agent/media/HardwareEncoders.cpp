#include "agent/media/HardwareEncoders.h"

#include <algorithm>
#include <filesystem>
#include <vector>

extern "C" {
#include <libavutil/hwcontext.h>
}

#include "agent/media/LibavHandles.h"
#include "agent/media/LibavVideoEncoder.h"

namespace dovrel::agent {

namespace {

std::vector<std::string> renderNodes() {
    std::vector<std::string> nodes;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/dev/dri", ec))
        if (entry.path().filename().string().starts_with("renderD")) nodes.push_back(entry.path().string());
    std::sort(nodes.begin(), nodes.end());
    return nodes;
}

bool opens(const std::string& name, AVBufferRef* device) {
    VideoEncoderConfig probe{640, 360, true, VideoBudget::lan()};
    std::string error;
    return LibavVideoEncoder::open(name, probe, device, error) != nullptr;
}

HardwareEncoders detect() {
    HardwareEncoders found;
    for (const std::string& node : renderNodes()) {
        AVBufferRef* raw = nullptr;
        if (av_hwdevice_ctx_create(&raw, AV_HWDEVICE_TYPE_VAAPI, node.c_str(), nullptr, 0) < 0) continue;
        const libav::BufferPtr device(raw);
        found.h264 = opens("h264_vaapi", device.get());
        found.hevc = opens("hevc_vaapi", device.get());
        if (found.h264 || found.hevc) {
            found.device = node;
            return found;
        }
    }
    return {};
}

} // namespace

const HardwareEncoders& HardwareEncoders::probe() {
    static const HardwareEncoders result = detect();
    return result;
}

} // namespace dovrel::agent
