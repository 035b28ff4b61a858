#pragma once

#include <chrono>
#include <deque>
#include <string>
#include <vector>

#include "runtime/Scheduler.h"

namespace dovrel::agent {

// Pairing by code stops after ten wrong codes within an hour, from anyone and any address: from then on
// no proof of a code is checked until the person at this computer asks for a new code. The back-off lets
// about 12 proofs a minute through, and rotating the code after wrong ones does not change the odds of a
// random guess: a neighbour guessing all day would find a six-digit code with about 1.7 % chance a day.
// With the pause a guesser who stays under ten an hour finds it with less than 1 % chance a month, and
// a faster one stops pairing by code, which the person then sees. Paired keys are not affected.
// Kept in memory only: a restart draws a fresh code nobody has tried, as the person's new code would,
// and the guesser cannot cause one. Used on one thread ("dovrel.net").
class PairingPause {
public:
    static constexpr int wrongCodesToPause = 10;
    static constexpr std::chrono::hours within{1};

    // A wrong code came from `address` (empty: through the relay) at `now`. True when it paused pairing.
    bool wrongCode(const std::string& address, Instant now);
    bool paused() const { return paused_; }
    // The addresses the wrong codes of the last hour came from, each once, oldest first.
    std::vector<std::string> addresses() const;
    // The person asked for a new code: codes are checked again, and nothing earlier counts.
    void resume();

private:
    struct Wrong {
        Instant at;
        std::string address;
    };
    std::deque<Wrong> wrong_; // at most wrongCodesToPause, within the last hour
    bool paused_ = false;
};

} // namespace dovrel::agent
