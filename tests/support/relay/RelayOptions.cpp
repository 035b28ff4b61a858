#include "tests/support/relay/RelayOptions.h"

#include <algorithm>
#include <charconv>

namespace dovrel::test::relay {

namespace {

bool isHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

template <typename T> bool number(const std::string& text, T& out) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && end == text.data() + text.size();
}

std::string lowerHex(wex::ByteView bytes) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    for (const uint8_t b : bytes) {
        out.push_back(digits[b >> 4]);
        out.push_back(digits[b & 0x0F]);
    }
    return out;
}

} // namespace

const char* RelayOptions::usage() {
    return "usage: dovrel-test-relay --cert FILE --key FILE [--listen ADDRESS] [--port N] [--port-file FILE]\n"
           "                         [--challenge] [--redirect ROOM=HOST:PORT]... [--token TOKEN]...\n"
           "                         [--token-shape] [--room-key-check] [--preamble-timeout-ms N]\n";
}

std::optional<RelayOptions> RelayOptions::parse(const std::vector<std::string>& args, std::string& error) {
    RelayOptions o;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const auto value = [&]() -> const std::string* {
            if (i + 1 >= args.size()) {
                error = a + " needs a value";
                return nullptr;
            }
            return &args[++i];
        };
        if (a == "--challenge") {
            o.challenge = true;
        } else if (a == "--token-shape") {
            o.tokenShape = true;
        } else if (a == "--room-key-check") {
            o.roomKeyCheck = true;
        } else if (a == "--cert" || a == "--key" || a == "--listen" || a == "--port-file" || a == "--token") {
            const std::string* v = value();
            if (!v) return std::nullopt;
            if (a == "--cert") o.certFile = *v;
            if (a == "--key") o.keyFile = *v;
            if (a == "--listen") o.listen = *v;
            if (a == "--port-file") o.portFile = *v;
            if (a == "--token") o.tokens.insert(*v);
        } else if (a == "--port") {
            const std::string* v = value();
            if (!v) return std::nullopt;
            if (!number(*v, o.port)) {
                error = "--port wants 0-65535, not " + *v;
                return std::nullopt;
            }
        } else if (a == "--preamble-timeout-ms") {
            const std::string* v = value();
            if (!v) return std::nullopt;
            if (!number(*v, o.preambleTimeoutMs) || o.preambleTimeoutMs <= 0) {
                error = "--preamble-timeout-ms wants a positive number, not " + *v;
                return std::nullopt;
            }
        } else if (a == "--redirect") {
            const std::string* v = value();
            if (!v) return std::nullopt;
            const std::size_t eq = v->find('=');
            if (eq == std::string::npos || eq == 0) {
                error = "--redirect wants ROOM=TARGET, not " + *v;
                return std::nullopt;
            }
            o.redirects[v->substr(0, eq)] = v->substr(eq + 1);
        } else {
            error = "unknown argument " + a;
            return std::nullopt;
        }
    }
    if (o.certFile.empty() || o.keyFile.empty()) {
        error = "--cert and --key are required";
        return std::nullopt;
    }
    return o;
}

std::string RelayOptions::refusal(const Registration& reg) const {
    if (reg.version != 2) return {};
    if (!tokens.empty() || tokenShape) {
        const bool listed = tokens.count(reg.token) != 0;
        if (!listed && !(tokenShape && hasTokenShape(reg.token))) return "bad-token";
    }
    if (reg.role == wex::RelayRole::agent) {
        if (challenge && reg.pubKey.empty()) return "no-key";
        if (roomKeyCheck) {
            if (reg.pubKey.size() < 16) return "room-key-mismatch";
            if (reg.room != lowerHex(wex::ByteView(reg.pubKey).first(16))) return "room-key-mismatch";
        }
    }
    return {};
}

std::optional<std::string> RelayOptions::redirectFor(const Registration& reg) const {
    // Only a version 2 registration reads the relay's replies; a version 1 peer would take the redirect
    // for its partner's first bytes.
    if (reg.version != 2) return std::nullopt;
    if (const auto it = redirects.find(reg.room); it != redirects.end()) return it->second;
    if (const auto it = redirects.find("*"); it != redirects.end()) return it->second;
    return std::nullopt;
}

bool hasTokenShape(std::string_view token) {
    std::vector<std::string_view> pieces;
    std::size_t from = 0;
    for (std::size_t dot = token.find('.'); dot != std::string_view::npos; dot = token.find('.', from)) {
        pieces.push_back(token.substr(from, dot - from));
        from = dot + 1;
    }
    pieces.push_back(token.substr(from));
    if (pieces.size() != 7) return false;
    for (const std::string_view piece : pieces)
        if (piece.empty()) return false;
    return pieces[5].size() == 16 && std::all_of(pieces[5].begin(), pieces[5].end(), isHex);
}

std::string roomKey(const Registration& reg) {
    if (reg.version == 1) return "legacy\n" + reg.room;
    // The account's length first, so that no account and room pair can pose as another.
    return "account\n" + std::to_string(reg.account.size()) + "\n" + reg.account + reg.room;
}

} // namespace dovrel::test::relay
