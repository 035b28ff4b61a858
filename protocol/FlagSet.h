#pragma once

#include <initializer_list>
#include <type_traits>

namespace wex {

// A set of bit flags of one enumeration, carried on the wire as the enumeration's underlying integer.
// Unknown bits a peer sends are kept, so a set re-encodes to the byte it was decoded from.
template <typename Flag>
struct FlagSet {
    using Raw = std::underlying_type_t<Flag>;
    Raw rawValue = 0;

    constexpr FlagSet() = default;
    constexpr FlagSet(Flag f) : rawValue(static_cast<Raw>(f)) {}
    constexpr FlagSet(std::initializer_list<Flag> flags) {
        for (Flag f : flags) rawValue = static_cast<Raw>(rawValue | static_cast<Raw>(f));
    }
    static constexpr FlagSet fromRaw(Raw raw) {
        FlagSet s;
        s.rawValue = raw;
        return s;
    }

    constexpr bool contains(Flag f) const { return (rawValue & static_cast<Raw>(f)) == static_cast<Raw>(f); }
    constexpr bool empty() const { return rawValue == 0; }
    constexpr void insert(Flag f) { rawValue = static_cast<Raw>(rawValue | static_cast<Raw>(f)); }
    constexpr void remove(Flag f) { rawValue = static_cast<Raw>(rawValue & ~static_cast<Raw>(f)); }

    constexpr FlagSet operator|(FlagSet other) const { return fromRaw(static_cast<Raw>(rawValue | other.rawValue)); }
    constexpr bool operator==(const FlagSet&) const = default;
};

} // namespace wex
