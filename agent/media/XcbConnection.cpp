#include <cstdlib>

#include "agent/common/AgentError.h"
#include "agent/media/XcbHandles.h"

namespace dovrel::agent::xcb {

Connection::Connection(const std::string& displayName) {
    const char* name = displayName.empty() ? nullptr : displayName.c_str();
    if (!name && !std::getenv("DISPLAY"))
        throw AgentError(AgentError::Kind::capture, "no X display ($DISPLAY is not set)");
    int screenNumber = 0;
    c_ = xcb_connect(name, &screenNumber);
    if (xcb_connection_has_error(c_)) {
        xcb_disconnect(c_);
        c_ = nullptr;
        throw AgentError(AgentError::Kind::capture,
                         "cannot open X display " + (name ? displayName : std::string(std::getenv("DISPLAY"))));
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c_));
    for (int i = 0; it.rem && i < screenNumber; ++i)
        xcb_screen_next(&it);
    screen_ = it.rem ? it.data : nullptr;
    if (!screen_) {
        xcb_disconnect(c_);
        c_ = nullptr;
        throw AgentError(AgentError::Kind::capture, "no display found");
    }
}

Connection::~Connection() {
    if (c_) xcb_disconnect(c_);
}

std::string Connection::failure() const {
    switch (xcb_connection_has_error(c_)) {
    case 0: return {};
    case XCB_CONN_CLOSED_EXT_NOTSUPPORTED: return "the X server lacks an extension";
    case XCB_CONN_CLOSED_MEM_INSUFFICIENT: return "out of memory";
    case XCB_CONN_CLOSED_REQ_LEN_EXCEED: return "request too long for the X server";
    case XCB_CONN_CLOSED_PARSE_ERR: return "bad display name";
    case XCB_CONN_CLOSED_INVALID_SCREEN: return "no such screen";
    default: return "the connection to the X server was lost";
    }
}

} // namespace dovrel::agent::xcb
