#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "runtime/Scheduler.h"

namespace dovrel::controller {

// How often libavcodec's own messages reach the controller's log. A damaged stream makes its decoders
// complain about every picture, from their own threads: each kind of message (its format) is written
// the first time it comes, and then at most once every `every`, saying how many like it were held back.
// One thread at a time.
class LibavLogThrottle {
public:
    static constexpr std::chrono::seconds every{10};
    // Kinds remembered at most; a stream that makes more starts the count afresh.
    static constexpr std::size_t maxKinds = 64;

    // The line to write for a message of `kind` at `now`, or nothing when it is held back.
    std::optional<std::string> admit(const void* kind, std::string_view line, Instant now);

private:
    struct Kind {
        Instant written{};
        uint64_t held = 0;
    };
    std::unordered_map<const void*, Kind> kinds_;
};

// Sends libavcodec's warnings and errors to the controller's log, behind "libav: " and throttled, instead
// of to standard error line by line. libavcodec has one log for the whole process: the first call routes
// it, later ones change nothing. Any thread.
void routeLibavLog();

} // namespace dovrel::controller
