#pragma once

#include <string>

#include "agent/core/StreamedArea.h"
#include "protocol/InputMessages.h"

namespace dovrel::agent {

// Acts out the controller's input on this computer's desktop. Called on "dovrel.net", one event at a
// time in batch order.
class InputInjector {
public:
    virtual ~InputInjector() = default;
    virtual void apply(const wex::InputEvent& event) = 0;
    // The session is over: what was handed over and not yet acted out is dropped, and every key and
    // button still held is let go of. At the start and end of every session.
    virtual void releaseAll() = 0;
    // Lets go of every key and button held once what was handed over before is acted out, and keeps
    // the session's input coming: when the controller goes quiet or the agent leaves rest.
    virtual void releaseHeld() = 0;
    // The monitor now being streamed and the picture's size: pointer positions are pixels of that
    // picture. Until it is called they are pixels of the whole screen.
    virtual void setStreamedArea(const StreamedArea& area) { (void)area; }
    // Why input cannot reach the desktop, or empty when it can (said once at start-up).
    virtual std::string unavailableReason() const { return {}; }
};

} // namespace dovrel::agent
