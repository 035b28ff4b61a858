#include "protocol/WEXConstants.h"

namespace wex::WEX {

std::string apiBase(std::string_view host, uint16_t port) {
    std::string base = "https://";
    base += host;
    if (port != 443) base += ":" + std::to_string(port);
    return base;
}

} // namespace wex::WEX
