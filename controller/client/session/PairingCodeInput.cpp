#include "controller/client/session/PairingCodeInput.h"

namespace dovrel::controller {

std::string normalizedPairingCode(std::string_view typed) {
    std::string out;
    out.reserve(typed.size());
    for (char c : typed) {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '-' || c == '_') continue;
        out.push_back(c);
    }
    return out;
}

} // namespace dovrel::controller
