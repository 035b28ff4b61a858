#include "controller/services/PairLink.h"

#include <vector>

#include <QChar>

#include "controller/services/Graphemes.h"
#include "controller/services/PortText.h"
#include "protocol/NetAddress.h"

namespace dovrel::controller {

namespace {

struct QueryItem {
    QString name;
    std::optional<QString> value; // nothing for an item written without "="
};

bool isAsciiLetter(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }
bool isAsciiDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
bool isHex(char16_t c) { return isAsciiDigit(c) || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F'); }

bool isUnreserved(char16_t c) {
    return isAsciiLetter(c) || isAsciiDigit(c) || c == u'-' || c == u'.' || c == u'_' || c == u'~';
}
bool isSubDelim(char16_t c) {
    static constexpr std::u16string_view set = u"!$&'()*+,;=";
    return set.find(c) != std::u16string_view::npos;
}

// Whether every character of `part` is allowed by RFC 3986 in a component that admits the
// unreserved and sub-delimiter characters, well-formed percent escapes, and `extra`.
bool conforms(QStringView part, std::u16string_view extra) {
    for (qsizetype i = 0; i < part.size(); ++i) {
        const char16_t c = part[i].unicode();
        if (c == u'%') {
            if (i + 2 >= part.size() || !isHex(part[i + 1].unicode()) || !isHex(part[i + 2].unicode())) return false;
            i += 2;
        } else if (!isUnreserved(c) && !isSubDelim(c) && extra.find(c) == std::u16string_view::npos) {
            return false;
        }
    }
    return true;
}

// Percent-decoding to UTF-8 text; nothing when the bytes are not UTF-8. "+" stays a plus sign.
std::optional<QString> percentDecoded(QStringView part) {
    QByteArray bytes;
    for (qsizetype i = 0; i < part.size(); ++i) {
        if (part[i] == u'%') {
            bytes.append(static_cast<char>(QStringView(part.mid(i + 1, 2)).toUInt(nullptr, 16)));
            i += 2;
        } else {
            bytes.append(static_cast<char>(part[i].unicode())); // ASCII, checked by conforms()
        }
    }
    const QString text = QString::fromUtf8(bytes);
    if (text.toUtf8() != bytes) return std::nullopt; // replacement characters stood in for bad bytes
    return text;
}

// A URI reference split by RFC 3986 Appendix B, each component checked against its grammar.
struct UriParts {
    std::optional<QString> scheme;
    std::optional<QString> host; // nothing without an authority
    std::optional<QString> query;
};

std::optional<UriParts> splitUri(const QString& text) {
    UriParts parts;
    qsizetype at = 0;
    const qsizetype schemeEnd = text.indexOf(u':');
    const qsizetype firstDelimiter = [&] {
        qsizetype p = text.size();
        for (const char16_t d : {u'/', u'?', u'#'}) {
            const qsizetype i = text.indexOf(QChar(d));
            if (i >= 0 && i < p) p = i;
        }
        return p;
    }();
    if (schemeEnd > 0 && schemeEnd < firstDelimiter) {
        const QString scheme = text.left(schemeEnd);
        if (!isAsciiLetter(scheme[0].unicode())) return std::nullopt;
        for (const QChar c : scheme)
            if (!isAsciiLetter(c.unicode()) && !isAsciiDigit(c.unicode()) && c != u'+' && c != u'-' && c != u'.')
                return std::nullopt;
        parts.scheme = scheme;
        at = schemeEnd + 1;
    }
    auto upTo = [&](std::u16string_view stops) {
        qsizetype end = at;
        while (end < text.size() && stops.find(text[end].unicode()) == std::u16string_view::npos)
            ++end;
        const QString piece = text.mid(at, end - at);
        at = end;
        return piece;
    };
    if (text.mid(at, 2) == u"//") {
        at += 2;
        QString authority = upTo(u"/?#");
        const qsizetype atSign = authority.lastIndexOf(u'@');
        if (atSign >= 0) {
            if (!conforms(QStringView(authority).left(atSign), u":")) return std::nullopt;
            authority = authority.mid(atSign + 1);
        }
        QString host = authority;
        if (!host.startsWith(u'[')) {
            const qsizetype colon = host.lastIndexOf(u':');
            if (colon >= 0) {
                for (const QChar c : QStringView(host).mid(colon + 1))
                    if (!isAsciiDigit(c.unicode())) return std::nullopt;
                host = host.left(colon);
            }
            if (!conforms(host, u"")) return std::nullopt;
        } else if (!host.endsWith(u']') && !host.contains(u"]:")) {
            return std::nullopt;
        }
        parts.host = host;
    }
    if (!conforms(upTo(u"?#"), u":@/")) return std::nullopt;
    if (at < text.size() && text[at] == u'?') {
        ++at;
        parts.query = upTo(u"#");
        if (!conforms(*parts.query, u":@/?")) return std::nullopt;
    }
    if (at < text.size() && text[at] == u'#') {
        ++at;
        if (!conforms(QStringView(text).mid(at), u":@/?")) return std::nullopt;
    }
    return parts;
}

std::optional<std::vector<QueryItem>> queryItems(const std::optional<QString>& query) {
    std::vector<QueryItem> items;
    if (!query) return items;
    for (const QString& item : query->split(u'&')) {
        const qsizetype eq = item.indexOf(u'=');
        const auto name = percentDecoded(eq < 0 ? QStringView(item) : QStringView(item).left(eq));
        if (!name) return std::nullopt;
        QueryItem q{*name, std::nullopt};
        if (eq >= 0) {
            q.value = percentDecoded(QStringView(item).mid(eq + 1));
            if (!q.value) return std::nullopt;
        }
        items.push_back(std::move(q));
    }
    return items;
}

// The value of the first item of that name; nothing when it has none, whatever later items hold.
std::optional<QString> q(const std::vector<QueryItem>& items, QStringView key) {
    for (const QueryItem& item : items)
        if (item.name == key) return item.value;
    return std::nullopt;
}

// Each of the rules below counts user-perceived characters. A character outside ASCII fails every
// ASCII rule, so for texts that must be ASCII the UTF-16 units are the characters.
bool allAscii(const QString& text, bool (*allowed)(char16_t)) {
    for (const QChar c : text)
        if (!allowed(c.unicode())) return false;
    return true;
}

bool isHostname(const QString& text) {
    if (text.isEmpty() || text.size() > 253 || text.startsWith(u'.') || text.endsWith(u'.')) return false;
    for (const QString& label : text.split(u'.')) {
        if (label.isEmpty() || label.size() > 63 || label.startsWith(u'-') || label.endsWith(u'-')) return false;
        if (!allAscii(label, [](char16_t c) { return isAsciiLetter(c) || isAsciiDigit(c) || c == u'-'; })) return false;
    }
    return true;
}

std::optional<QString> normalisedEndpoint(const QString& text) {
    if (text.contains(u'@') || text.contains(u'/') || text.contains(u'\\')) return std::nullopt;
    const qsizetype colon = text.lastIndexOf(u':');
    if (colon < 0) {
        if (!isHostname(text)) return std::nullopt;
        return text.toLower();
    }
    const QString host = text.left(colon);
    const auto p = decimalPort(QStringView(text).mid(colon + 1));
    if (!isHostname(host) || !p || *p == 0) return std::nullopt;
    return host.toLower() + u':' + QString::number(*p);
}

bool isWhiteSpace(QChar c) { return c.isSpace(); }

QString trimmedWhiteSpace(const QString& text) {
    // Unicode white space and line breaks, by code point (surrogates are never white space).
    qsizetype begin = 0, end = text.size();
    while (begin < end && isWhiteSpace(text[begin]))
        ++begin;
    while (end > begin && isWhiteSpace(text[end - 1]))
        --end;
    return text.mid(begin, end - begin);
}

std::optional<QString> cleanName(const QString& text) {
    QString kept;
    for (const uint scalar : text.toUcs4()) {
        const auto category = QChar::category(static_cast<char32_t>(scalar));
        if (category == QChar::Other_Control || category == QChar::Other_Format) continue;
        kept += QString::fromUcs4(reinterpret_cast<const char32_t*>(&scalar), 1);
    }
    kept = trimmedWhiteSpace(kept);
    if (kept.isEmpty()) return std::nullopt;
    return graphemes(kept).mid(0, 64).join(QString());
}

bool codeCharacter(char16_t c) { return isAsciiLetter(c) || isAsciiDigit(c) || c == u'-'; }
bool accountCharacter(char16_t c) { return (c >= u'a' && c <= u'z') || isAsciiDigit(c) || c == u'-' || c == u'_'; }
bool tokenCharacter(char16_t c) {
    return isAsciiLetter(c) || isAsciiDigit(c) || c == u'.' || c == u'-' || c == u'_' || c == u'~';
}

} // namespace

std::optional<PairLink> PairLink::parse(const QString& text, QString* whyNot, Code rule) {
    const auto fail = [whyNot](const char* why) -> std::optional<PairLink> {
        if (whyNot) *whyNot = QString::fromUtf8(why);
        return std::nullopt;
    };
    const auto uri = splitUri(trimmedWhiteSpace(text));
    if (!uri || uri->scheme != u"dovrel" || uri->host != u"pair") return fail("it does not begin with dovrel://pair?");
    const auto items = queryItems(uri->query);
    if (!items) return fail("its query cannot be read");

    PairLink link;
    const auto code = q(*items, u"code");
    if (!code || code->isEmpty()) {
        if (rule == Code::required) return fail("it carries no pairing code");
    } else if (code->size() > 32 || !allAscii(*code, codeCharacter)) {
        return fail("its pairing code is not one");
    } else {
        link.code = *code;
    }

    if (const auto id = q(*items, u"id"); id && !id->isEmpty()) {
        link.deviceId = room(*id);
        if (!link.deviceId) return fail("its id is not a device identifier");
    }
    if (const auto host = q(*items, u"host"); host && !host->isEmpty()) {
        const auto endpoint = normalisedEndpoint(*host);
        if (!endpoint) return fail("its host is not a host name or address");
        link.host = *endpoint;
    }
    if (link.host.isEmpty() && !link.deviceId) return fail("it names neither a host nor a device identifier");

    const QString kindWord = q(*items, u"kind").value_or(QStringLiteral("mac")).toLower();
    QString defaultName = QStringLiteral("Mac");
    if (kindWord == u"windows") {
        link.kind = Device::Kind::windows;
        defaultName = QStringLiteral("Windows PC");
    } else if (kindWord == u"linux") {
        link.kind = Device::Kind::linux;
        defaultName = QStringLiteral("Linux PC");
    }

    const QString account = q(*items, u"account").value_or(QString());
    const QString token = q(*items, u"token").value_or(QString());
    const QString relay = q(*items, u"relay").value_or(QString());
    if (!relay.isEmpty()) {
        link.relay = normalisedEndpoint(relay);
        if (!link.relay) return fail("its relay is not a host name or address");
    }
    if (!account.isEmpty() || !token.isEmpty()) {
        if (account.size() < 3 || account.size() > 32 || !allAscii(account, accountCharacter) || token.isEmpty() ||
            token.size() > 512 || !allAscii(token, tokenCharacter) || !link.relay)
            return fail("its account, token and relay do not go together");
        link.account = account;
        link.token = token;
    }

    const auto name = q(*items, u"name");
    link.name = (name ? cleanName(*name) : std::nullopt).value_or(defaultName);
    if (const auto mac = q(*items, u"mac"))
        if (const auto bytes = wex::parseMAC(mac->toStdString()))
            link.mac = QString::fromStdString(wex::formatMAC(wex::ByteView(bytes->data(), bytes->size())));
    return link;
}

std::optional<QString> PairLink::endpoint(const QString& text) { return normalisedEndpoint(text); }

std::optional<QString> PairLink::room(const QString& text) {
    if (text.size() != 32 || !allAscii(text, isHex)) return std::nullopt;
    return text.toLower();
}

} // namespace dovrel::controller
