#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace wex {

// A protocol fault found while decoding. Equality compares the case and only the payload that case
// carries, so two `truncated` errors are always equal whatever else was stored.
class WEXError : public std::exception {
public:
    enum class Kind : uint8_t { badVersion, badStream, badEnum, truncated, badMagic, badHeaderCRC };

    static WEXError badVersion(uint8_t found) { return WEXError(Kind::badVersion, {}, found); }
    static WEXError badStream(uint8_t found) { return WEXError(Kind::badStream, {}, found); }
    static WEXError badEnum(std::string name, uint8_t found) { return WEXError(Kind::badEnum, std::move(name), found); }
    static WEXError truncated() { return WEXError(Kind::truncated, {}, 0); }
    static WEXError badMagic() { return WEXError(Kind::badMagic, {}, 0); }
    static WEXError badHeaderCRC() { return WEXError(Kind::badHeaderCRC, {}, 0); }

    Kind kind() const noexcept { return kind_; }
    // The byte found, for badVersion, badStream and badEnum; 0 otherwise.
    uint8_t value() const noexcept { return value_; }
    // The enumeration or field name, for badEnum; empty otherwise.
    const std::string& name() const noexcept { return name_; }

    const char* what() const noexcept override { return description_.c_str(); }

    friend bool operator==(const WEXError& a, const WEXError& b) noexcept;

private:
    WEXError(Kind kind, std::string name, uint8_t value);

    Kind kind_;
    std::string name_;
    uint8_t value_;
    std::string description_;
};

} // namespace wex
