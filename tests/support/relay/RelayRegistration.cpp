#include "tests/support/relay/RelayRegistration.h"

#include <algorithm>
#include <optional>

namespace dovrel::test::relay {

namespace {

using wex::RelayRegister::magic;

// A cursor that says "not yet" instead of throwing: a short read here only means more bytes to come.
class Cursor {
public:
    explicit Cursor(wex::ByteView bytes) : bytes_(bytes) {}
    std::optional<uint8_t> u8() {
        if (pos_ + 1 > bytes_.size()) return std::nullopt;
        return bytes_[pos_++];
    }
    std::optional<std::string> str16() {
        if (pos_ + 2 > bytes_.size()) return std::nullopt;
        const std::size_t n = std::size_t{bytes_[pos_]} << 8 | bytes_[pos_ + 1];
        if (pos_ + 2 + n > bytes_.size()) return std::nullopt;
        std::string out(reinterpret_cast<const char*>(bytes_.data() + pos_ + 2), n);
        pos_ += 2 + n;
        return out;
    }
    std::optional<wex::Bytes> blob8() {
        if (pos_ + 1 > bytes_.size()) return std::nullopt;
        const std::size_t n = bytes_[pos_];
        if (pos_ + 1 + n > bytes_.size()) return std::nullopt;
        wex::Bytes out(bytes_.begin() + static_cast<std::ptrdiff_t>(pos_ + 1),
                       bytes_.begin() + static_cast<std::ptrdiff_t>(pos_ + 1 + n));
        pos_ += 1 + n;
        return out;
    }
    void skip(std::size_t n) { pos_ += n; }
    std::size_t offset() const { return pos_; }

private:
    wex::ByteView bytes_;
    std::size_t pos_ = 0;
};

} // namespace

RegistrationParse parseRegistration(wex::ByteView received) {
    const std::size_t head = std::min(received.size(), magic.size());
    if (!std::equal(received.begin(), received.begin() + static_cast<std::ptrdiff_t>(head), magic.begin()))
        return Malformed{"bad-magic"};
    if (received.size() < magic.size()) return Incomplete{};

    Cursor in(received);
    in.skip(magic.size());
    Registration reg;
    const auto version = in.u8();
    if (!version) return Incomplete{};
    if (*version != 1 && *version != 2) return Malformed{"bad-version"};
    reg.version = *version;
    const auto role = in.u8();
    if (!role) return Incomplete{};
    const auto knownRole = wex::relayRoleFromRaw(*role);
    if (!knownRole) return Malformed{"bad-role"};
    reg.role = *knownRole;

    if (reg.version == 1) {
        auto room = in.str16();
        if (!room) return Incomplete{};
        reg.room = std::move(*room);
    } else {
        auto account = in.str16();
        if (!account) return Incomplete{};
        auto room = in.str16();
        if (!room) return Incomplete{};
        auto token = in.str16();
        if (!token) return Incomplete{};
        auto key = in.blob8();
        if (!key) return Incomplete{};
        reg.account = std::move(*account);
        reg.room = std::move(*room);
        reg.token = std::move(*token);
        reg.pubKey = std::move(*key);
    }
    reg.consumed = in.offset();
    return reg;
}

wex::Bytes nonceReply(wex::ByteView nonce) {
    const std::string_view tag = wex::RelayRegister::nonceTag;
    wex::Bytes out;
    out.reserve(tag.size() + nonce.size());
    for (const char c : tag)
        out.push_back(static_cast<uint8_t>(c));
    out.insert(out.end(), nonce.begin(), nonce.end());
    return out;
}

wex::Bytes redirectReply(std::string_view target) {
    const std::string_view tag = wex::RelayRegister::redirectTag;
    wex::Bytes out;
    out.reserve(tag.size() + 2 + target.size());
    for (const char c : tag)
        out.push_back(static_cast<uint8_t>(c));
    if (!wex::RelayRegister::appendStr16(out, target)) return {};
    return out;
}

std::string printable(std::string_view raw) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    for (const char ch : raw) {
        const auto c = static_cast<unsigned char>(ch);
        if (c > 0x20 && c < 0x7F && c != '\\') {
            out.push_back(ch);
        } else {
            out += "\\x";
            out.push_back(digits[c >> 4]);
            out.push_back(digits[c & 0x0F]);
        }
    }
    return out;
}

} // namespace dovrel::test::relay
