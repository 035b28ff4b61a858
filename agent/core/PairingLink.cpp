#include "agent/core/PairingLink.h"

#include <string>
#include <utility>

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

namespace {

// Calls `each(name, value, whole)` for every "name=value" of the link's query in order (a parameter
// without "=" has an empty name and stands whole in `whole`); nothing when the link has no query.
template <typename Each> void eachParameter(std::string_view link, Each each) {
    const std::size_t query = link.find('?');
    if (query == std::string_view::npos) return;
    std::size_t from = query + 1;
    while (true) {
        const std::size_t amp = link.find('&', from);
        const std::string_view param = link.substr(from, amp == std::string_view::npos ? link.npos : amp - from);
        const std::size_t eq = param.find('=');
        if (eq == std::string_view::npos)
            each(std::string_view(), std::string_view(), param);
        else
            each(param.substr(0, eq), param.substr(eq + 1), param);
        if (amp == std::string_view::npos) return;
        from = amp + 1;
    }
}

} // namespace

std::string redactPairingLink(std::string_view link) {
    // The code pairs any device that learns it and the token opens the relay: neither may reach a log.
    const std::size_t query = link.find('?');
    if (query == std::string_view::npos) return std::string(link);
    std::string out(link.substr(0, query + 1));
    out.reserve(link.size());
    bool first = true;
    eachParameter(link, [&](std::string_view name, std::string_view, std::string_view whole) {
        if (!std::exchange(first, false)) out += '&';
        if (name == "token" || name == "code") {
            out.append(name);
            out += '=';
            out.append(redactedToken);
        } else {
            out.append(whole);
        }
    });
    return out;
}

std::string pairingCodeOfLink(std::string_view link) {
    std::string code;
    eachParameter(link, [&](std::string_view name, std::string_view value, std::string_view) {
        if (name == "code" && code.empty()) code = std::string(value);
    });
    return code;
}

std::string pairingLinkHost(const std::optional<std::string>& primaryIP) {
    if (primaryIP && !primaryIP->empty()) return *primaryIP;
    return "127.0.0.1";
}

} // namespace dovrel::agent
