#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "agent/media/CapturedFrame.h"
#include "agent/media/CursorOverlay.h"
#include "agent/media/ReusePool.h"
#include "agent/media/ScreenCapturer.h"
#include "agent/media/XcbHandles.h"

#include <xcb/xfixes.h>

namespace dovrel::agent {

// The X11 side of screen capture, without threads or timing: one connection, the RandR monitors, and
// grabs of one monitor's area into shared-memory buffers with the XFixes cursor drawn in. DAMAGE and
// XFixes cursor events tell whether anything changed since the last grab. One thread at a time
// (frames it hands out may be read and dropped on any thread).
class X11Grabber {
public:
    // Connects to `displayName` (empty: $DISPLAY) and checks the pixel format. Throws AgentError
    // (capture) when the display cannot be opened or its pixels are not 32-bit BGR.
    explicit X11Grabber(const std::string& displayName = {});
    ~X11Grabber();
    X11Grabber(const X11Grabber&) = delete;
    X11Grabber& operator=(const X11Grabber&) = delete;

    // The RandR monitors in the server's order; the whole screen as one monitor when RandR has none.
    std::vector<MonitorInfo> monitors();

    // Grabs `area` from now on; buffers of another size are dropped.
    void select(const MonitorInfo& area);

    // Reads pending events and the pointer. True when the area may have changed since the last grab:
    // drawing anywhere on the screen, the cursor moving or changing shape, or nothing grabbed yet.
    // Throws AgentError (capture) when the connection is lost.
    bool changedSinceLastGrab();
    // Takes in the events already read off the connection (while waiting for a grab's reply, say)
    // without touching the socket. True when they say the area may have changed.
    bool changedInQueuedEvents();
    // The connection's socket: readable when the server has sent events (DAMAGE, cursor, layout).
    int eventFd() const;

    // The selected area as it is now, cursor included. nullopt when every buffer is still held by
    // earlier frames (the consumer is behind; skip this picture). Throws AgentError (capture) when the
    // X server fails the grab or the connection is lost.
    std::optional<CapturedFrame> grab(Instant at);

    bool usesSharedMemory() const { return shm_; }
    bool usesDamage() const { return damage_ != 0; }
    xcb_connection_t* connection() const { return conn_->get(); }

private:
    struct ShmBuffer;
    std::optional<CapturedFrame> grabShared(Instant at);
    std::optional<CapturedFrame> grabCopied(Instant at);
    void updateCursor(const xcb_xfixes_get_cursor_image_reply_t* reply);
    // Notes what one event says; true for a change of the monitor layout.
    bool takeEvent(const xcb_generic_event_t& ev);
    void failIfBroken();

    std::shared_ptr<xcb::Connection> conn_;
    bool shm_ = false;
    bool xfixes_ = false;
    bool randr15_ = false;
    uint8_t damageEventBase_ = 0;
    uint8_t xfixesEventBase_ = 0;
    uint8_t randrEventBase_ = 0;
    uint32_t damage_ = 0; // XID of our DAMAGE object on the root window, 0 without the extension

    MonitorInfo area_{};
    ReusePool<ShmBuffer> buffers_{3};
    CursorImage cursor_;
    int pointerX_ = -1, pointerY_ = -1;
    bool dirty_ = true;
    bool layoutPending_ = false; // seen among queued events, not yet looked into
};

} // namespace dovrel::agent
