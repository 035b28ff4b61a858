#pragma once

#include <cstdlib>
#include <memory>
#include <string>

#include <xcb/xcb.h>

namespace dovrel::agent::xcb {

// Replies and events are malloc'd by xcb and freed with free().
struct Free {
    void operator()(void* p) const { std::free(p); }
};
template <typename T> using Reply = std::unique_ptr<T, Free>;

// One connection to the X server and its default screen; disconnects when the last owner goes.
// xcb is thread-safe, so buffers released on other threads may still send their detach requests.
class Connection {
public:
    // Connects to `displayName` (empty: $DISPLAY). Throws AgentError (capture) when it cannot.
    explicit Connection(const std::string& displayName);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    xcb_connection_t* get() const { return c_; }
    xcb_screen_t* screen() const { return screen_; }
    xcb_window_t root() const { return screen_->root; }
    // Non-empty once the connection is unusable (server gone, protocol error on the socket).
    std::string failure() const;

private:
    xcb_connection_t* c_ = nullptr;
    xcb_screen_t* screen_ = nullptr;
};

} // namespace dovrel::agent::xcb
