#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "runtime/Scheduler.h"

namespace dovrel::agent {

// When a pairing code may pair a controller: while this computer shows the code (its window is open)
// and for ten minutes after it was last shown. Nobody can have read a code that is never shown, so a
// stranger on the same network guessing codes gets nowhere while the window stays closed. A share code
// hands the code to whoever claims it at the relay, wherever they are: the code it carries counts for
// the share code's whole life, window or not. Keys that are already paired are not affected. Used on
// one thread ("dovrel.net").
class PairingCodeWindow {
public:
    static constexpr std::chrono::minutes afterShown{10};

    // The code is on the screen from `now` on (`shown`), or no longer (`!shown`).
    void setShown(bool shown, Instant now);
    // The code was shown once at `now` and not kept in view (printed on a terminal).
    void shownOnce(Instant now);
    // A share code issued now hands out `code` until `until`. A later share code replaces the
    // earlier one's hold: it either carries the same code, or the earlier code is dead already.
    void shared(std::string code, Instant until);
    // The share codes issued so far no longer stand for this computer (it left their account).
    void sharesWithdrawn() { share_.reset(); }
    // A proof of `code` arriving at `now` counts.
    bool counts(std::string_view code, Instant now) const;

private:
    struct Share {
        std::string code;
        Instant until;
    };
    bool shown_ = false;
    std::optional<Instant> lastShown_;
    std::optional<Share> share_;
};

} // namespace dovrel::agent
