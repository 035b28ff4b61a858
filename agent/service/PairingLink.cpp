#include "agent/service/PairingLink.h"

#include <cstring>

namespace dovrel::agent {

std::string percentEncodeQuery(std::string_view text) {
    static constexpr const char* kept = "-._~!$&'()*+,;=:@/?";
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        const auto b = static_cast<unsigned char>(c);
        const bool alnum = (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9');
        if (alnum || (b != 0 && std::strchr(kept, b))) {
            out += c;
        } else {
            out += '%';
            out += digits[b >> 4];
            out += digits[b & 0x0F];
        }
    }
    return out;
}

std::string pairingLink(const PairingLinkParts& p) {
    std::string link = "dovrel://pair?";
    if (p.lanEnabled) link += "host=" + (p.lanIP.empty() ? std::string("127.0.0.1") : p.lanIP) + "&";
    link += "code=" + p.code;
    link += "&name=" + percentEncodeQuery(p.name);
    link += "&mac=" + p.mac;
    link += "&id=" + p.deviceId;
    link += "&relay=" + p.relayHost + ":" + std::to_string(p.relayPort);
    link += "&kind=linux";
    link += p.grantQuery;
    return link;
}

std::string redactedLink(std::string_view link) {
    std::string out(link);
    for (const char* key : {"code=", "token="}) {
        // Only a parameter name: right after "?" or "&".
        for (std::size_t at = out.find(key); at != std::string::npos; at = out.find(key, at + 1)) {
            if (at == 0 || (out[at - 1] != '?' && out[at - 1] != '&')) continue;
            const std::size_t start = at + std::strlen(key);
            const std::size_t end = std::min(out.find('&', start), out.size());
            out.replace(start, end - start, "…redacted…");
        }
    }
    return out;
}

} // namespace dovrel::agent
