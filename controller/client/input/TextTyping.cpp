#include "controller/client/input/TextTyping.h"

namespace dovrel::controller {

namespace {
constexpr uint16_t returnKey = 0x28;

wex::InputBatch::Entry returnEvent(bool down) {
    return {wex::EventFlags{wex::EventFlag::reliable},
            wex::KeyEvent{wex::KeyEvent::makeUsage(wex::KeyEvent::keyboardUsagePage, returnKey),
                          static_cast<uint8_t>(down ? 1 : 0), 0}};
}
} // namespace

std::vector<wex::InputBatch> typedTextBatches(std::string_view utf8, std::size_t maxPayload,
                                              std::size_t eventsPerBatch) {
    std::vector<wex::InputBatch> out;
    if (utf8.empty()) return out;
    std::vector<wex::InputBatch::Entry> pending;
    const auto flush = [&] {
        for (auto& batch : wex::InputBatch::split(pending, maxPayload))
            out.push_back(std::move(batch));
        pending.clear();
    };

    std::size_t start = 0;
    while (true) {
        const std::size_t end = utf8.find('\n', start);
        std::string_view line =
            utf8.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        const bool last = end == std::string_view::npos;
        // A line break written as CR LF is one break, not a Return typed twice.
        if (!last && !line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (!line.empty())
            pending.push_back({wex::EventFlags{wex::EventFlag::reliable}, wex::TextEvent{std::string(line)}});
        if (!last) {
            pending.push_back(returnEvent(true));
            pending.push_back(returnEvent(false));
        }
        if (pending.size() >= eventsPerBatch) flush();
        if (last) break;
        start = end + 1;
    }
    flush();
    return out;
}

} // namespace dovrel::controller
