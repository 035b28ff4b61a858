#include "protocol/Stream.h"

namespace wex {

std::optional<Stream> streamFromRaw(uint8_t raw) {
    if (raw >= 1 && raw <= 4) return static_cast<Stream>(raw);
    return std::nullopt;
}

std::optional<InputMsgType> inputMsgTypeFromRaw(uint8_t raw) {
    if (raw == 1) return InputMsgType::batch;
    return std::nullopt;
}

} // namespace wex
