#pragma once

#include <stdexcept>
#include <string>

namespace dovrel::agent {

// A failure of capture, the encoder or the transport, with the text that explains it.
class AgentError : public std::runtime_error {
public:
    enum class Kind { capture, encoder, transport };

    AgentError(Kind kind, const std::string& text) : std::runtime_error(prefix(kind) + text), kind_(kind) {}
    Kind kind() const { return kind_; }

private:
    static std::string prefix(Kind k) {
        switch (k) {
        case Kind::capture: return "capture: ";
        case Kind::encoder: return "encoder: ";
        case Kind::transport: return "transport: ";
        }
        return {};
    }
    Kind kind_;
};

} // namespace dovrel::agent
