#include "agent/media/SessionReports.h"

#include <algorithm>

namespace dovrel::agent {

wex::DisplayList displayListOf(const ScreenCapturer& capturer) {
    const std::vector<MonitorInfo> monitors = capturer.displays();
    const bool anyPrimary = std::any_of(monitors.begin(), monitors.end(), [](const auto& m) { return m.primary; });
    wex::DisplayList list;
    list.reqId = 0;
    for (std::size_t i = 0; i < monitors.size() && i < wex::DisplayList::maxDisplays; ++i) {
        const MonitorInfo& m = monitors[i];
        const int index = static_cast<int>(i);
        wex::DisplayInfo info;
        info.displayId = static_cast<uint8_t>(i);
        info.width = static_cast<uint16_t>(m.width);
        info.height = static_cast<uint16_t>(m.height);
        info.originX = 0;
        info.originY = 0;
        if (m.primary || (!anyPrimary && i == 0)) info.flags.insert(wex::DisplayFlag::primary);
        if (capturer.currentIndex() == index) info.flags.insert(wex::DisplayFlag::streaming);
        info.name = capturer.name(index);
        list.displays.push_back(std::move(info));
    }
    return list;
}

std::string videoPathLabel(const SendTarget* target) {
    if (target && target->isRelay) return target->route && target->route->linkUp() ? "relay" : "relay(DOWN)";
    return target && target->route ? "lan" : "lan(NO VIDEO CONN)";
}

std::string healthLine(const Diag::Tick& t, const std::string& pathLabel) {
    std::string line = "[health] cap=" + std::to_string(t.cap) + "/s enc=" + std::to_string(t.enc) +
                       "/s out=" + std::to_string(t.frames) + "f " + std::to_string(t.bytes / 1024) + "kB via " +
                       pathLabel + "  | audio buf=" + std::to_string(t.aBuf) + " sent=" + std::to_string(t.aSent);
    if (t.dropped >= 1) line += "  DROPPED=" + std::to_string(t.dropped) + " (no connection to send on)";
    return line;
}

} // namespace dovrel::agent
