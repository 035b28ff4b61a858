#include "agent/service/PairingLink.h"

#include <string>

namespace dovrel::agent {

namespace {

bool keptInQueryValue(unsigned char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
    switch (c) {
    case '-':
    case '.':
    case '_':
    case '~':
    case '!':
    case '$':
    case '\'':
    case '(':
    case ')':
    case '*':
    case '+':
    case ',':
    case ';':
    case ':':
    case '@':
    case '/':
    case '?': return true;
    default: return false;
    }
}

void appendParameter(std::string& link, std::string_view key, std::string_view value) {
    link += key;
    link += percentEncodeQueryValue(value);
}

} // namespace

std::string percentEncodeQueryValue(std::string_view text) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (keptInQueryValue(c)) {
            out.push_back(ch);
        } else {
            out.push_back('%');
            out.push_back(digits[c >> 4]);
            out.push_back(digits[c & 0x0F]);
        }
    }
    return out;
}

std::string buildPairingLink(const PairingLinkParts& parts) {
    std::string link(pairingLinkPrefix);
    if (parts.lanHost) {
        appendParameter(link, "host=", *parts.lanHost);
        link += '&';
    }
    appendParameter(link, "code=", parts.code);
    appendParameter(link, "&name=", parts.name);
    appendParameter(link, "&mac=", parts.mac);
    appendParameter(link, "&id=", parts.deviceId);
    appendParameter(link, "&relay=", parts.relayHost);
    link += ':';
    link += std::to_string(parts.relayPort);
    link += "&kind=";
    link += pairingLinkKind;
    link += parts.grantQuery;
    return link;
}

std::string relayGrantQuery(std::string_view account, std::string_view grantToken) {
    if (account.empty() || grantToken.empty()) return {};
    std::string query;
    appendParameter(query, "&account=", account);
    appendParameter(query, "&token=", grantToken);
    return query;
}

std::string redactPairingLink(std::string_view link) {
    static constexpr std::string_view key = "&token=";
    std::string out;
    out.reserve(link.size());
    std::size_t from = 0;
    for (std::size_t at = link.find(key); at != std::string_view::npos; at = link.find(key, from)) {
        out.append(link.substr(from, at + key.size() - from));
        out.append(redactedToken);
        const std::size_t end = link.find('&', at + key.size());
        from = end == std::string_view::npos ? link.size() : end;
    }
    out.append(link.substr(from));
    return out;
}

std::string pairingLinkHost(std::string_view modelLanIP, const std::optional<std::string>& primaryIP) {
    if (!modelLanIP.empty()) return std::string(modelLanIP);
    if (primaryIP && !primaryIP->empty()) return *primaryIP;
    return "127.0.0.1";
}

} // namespace dovrel::agent
