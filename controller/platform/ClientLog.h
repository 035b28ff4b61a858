#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/Scheduler.h"

namespace dovrel::controller {

// One diagnostic line on standard error behind "[dovrel] ", without a time stamp. Never give it a
// secret: codes, keys and tokens are reported only as present or absent. Whatever writes them, the
// lines of one minute together take at most LogBudget::bytesPerMinute; the rest are counted, and the
// count is written with the first line of a later minute.
void clientLog(std::string_view line);

// The identity store's lines, behind "[dovrel] identity: ".
void identityLog(std::string_view line);

// The clipboard-file host's lines, behind "[dovrel] clip: ".
void clipLog(std::string_view line);

// The cap on what the log takes in a minute. One thread at a time.
class LogBudget {
public:
    static constexpr std::size_t bytesPerMinute = 256 * 1024;

    // Whether a line of `bytes` may be written at `now`. When it may, and lines were left out before
    // it, `note` is the line that says how many (to be written first); otherwise `note` is empty.
    bool admit(std::size_t bytes, Instant now, std::string& note);

private:
    Instant minuteStart_{};
    bool started_ = false;
    std::size_t spent_ = 0;
    uint64_t leftOut_ = 0;
};

} // namespace dovrel::controller
