#include "controller/client/video/LibavLog.h"

#include <cstdarg>
#include <mutex>

#include "controller/platform/ClientLog.h"

extern "C" {
#include <libavutil/log.h>
}

namespace dovrel::controller {

std::optional<std::string> LibavLogThrottle::admit(const void* kind, std::string_view line, Instant now) {
    if (!kinds_.contains(kind) && kinds_.size() >= maxKinds) kinds_.clear();
    const auto [it, first] = kinds_.try_emplace(kind);
    Kind& k = it->second;
    if (!first && now - k.written < every) {
        ++k.held;
        return std::nullopt;
    }
    std::string out(line);
    if (k.held > 0) out += " (and " + std::to_string(k.held) + " more like it)";
    k.written = now;
    k.held = 0;
    return out;
}

namespace {

void onLibavLog(void* context, int level, const char* format, va_list args) {
    if (level > AV_LOG_WARNING || !format) return;
    char text[512];
    int printPrefix = 1;
    av_log_format_line2(context, level, format, args, text, sizeof text, &printPrefix);
    std::string_view line(text);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' '))
        line.remove_suffix(1);
    if (line.empty()) return;
    // libavcodec calls from its codec threads, several at once.
    static std::mutex lock;
    static LibavLogThrottle throttle;
    std::optional<std::string> out;
    {
        const std::lock_guard g(lock);
        out = throttle.admit(format, line, std::chrono::steady_clock::now());
    }
    if (out) clientLog("libav: " + *out);
}

} // namespace

void routeLibavLog() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_callback(onLibavLog); });
}

} // namespace dovrel::controller
