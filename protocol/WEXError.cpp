#include "protocol/WEXError.h"

namespace wex {

namespace {

std::string describe(WEXError::Kind kind, const std::string& name, uint8_t value) {
    const std::string found = std::to_string(value);
    switch (kind) {
    case WEXError::Kind::badVersion: return "bad protocol version " + found;
    case WEXError::Kind::badStream: return "bad stream " + found;
    case WEXError::Kind::badEnum: return "bad value " + found + " for " + name;
    case WEXError::Kind::truncated: return "truncated input";
    case WEXError::Kind::badMagic: return "bad header magic";
    case WEXError::Kind::badHeaderCRC: return "bad header CRC";
    }
    return "unknown protocol error";
}

} // namespace

WEXError::WEXError(Kind kind, std::string name, uint8_t value)
    : kind_(kind), name_(std::move(name)), value_(value), description_(describe(kind_, name_, value_)) {}

bool operator==(const WEXError& a, const WEXError& b) noexcept {
    if (a.kind_ != b.kind_) return false;
    switch (a.kind_) {
    case WEXError::Kind::badVersion:
    case WEXError::Kind::badStream: return a.value_ == b.value_;
    case WEXError::Kind::badEnum: return a.value_ == b.value_ && a.name_ == b.name_;
    default: return true;
    }
}

} // namespace wex
