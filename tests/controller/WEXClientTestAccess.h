#pragma once

#include <vector>

#include "controller/client/session/WEXClient.h"

namespace dovrel::controller {

// Test-only access to a client's published fields, as its session would set them: the states of the
// session window without an agent on the other end. Program code never includes this.
class WEXClientTestAccess {
public:
    // Reconnecting, for `reason` when one is given.
    static void setReconnecting(WEXClient& c, bool on, const QString& reason = {}) {
        c.publishReconnecting(on);
        c.publishReconnectReason(reason);
    }
    static void setDisplays(WEXClient& c, const std::vector<wex::DisplayInfo>& displays, int streaming) {
        c.publishDisplays(displays, streaming);
    }
    static void setDeckStat(WEXClient& c, const wex::DeckStat& stat) { c.publishDeckStat(stat); }
    static void setPhase(WEXClient& c, const Phase& phase) { c.publishPhase(phase); }
    static void setHasFirstFrame(WEXClient& c, bool on) { c.publishHasFirstFrame(on); }
};

} // namespace dovrel::controller
