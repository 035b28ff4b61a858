#pragma once

#include <string>
#include <vector>

#include "agent/common/Diag.h"
#include "agent/core/SendTarget.h"
#include "agent/media/ScreenCapturer.h"
#include "protocol/ControlMessages.h"

namespace dovrel::agent {

// The display list as the controller gets it: one entry per monitor in the capturer's order, numbered
// by that order; sizes cut to 16 bits, no origin; `primary` on the main display (the first one when
// the desktop names none), `streaming` on the one being captured; names from the capturer.
wex::DisplayList displayListOf(const ScreenCapturer& capturer);

// How video reaches the client, for the health line and the window: "relay", "relay(DOWN)" when the
// relay session's link is gone or its queue closed, "lan", or "lan(NO VIDEO CONN)" when there is no
// session or no route for it.
std::string videoPathLabel(const SendTarget* target);

// "[health] cap=…/s enc=…/s out=…f …kB via …  | audio buf=… sent=…", with "  DROPPED=… (no connection
// to send on)" when pieces were dropped.
std::string healthLine(const Diag::Tick& tick, const std::string& pathLabel);

} // namespace dovrel::agent
