#pragma once

#include <optional>

#include <QString>

#include "controller/services/Device.h"

namespace dovrel::controller {

// A validated "dovrel://pair?..." link: what a pasted link, the "-autoLink" argument or a claimed
// share code names. Made only by parse(), which refuses the whole link at the first part that breaks
// its grammar; it says why only to a caller that asks.
//
// Every value parse() gives has a host or a device identifier (or both); account and token come
// together, and with them a relay.
struct PairLink {
    QString host;                    // "host" or "host:port", lower-case; empty when the link names none
    QString code;                    // 1 to 32 ASCII letters, digits and "-", as written (or, when it may
                                     // be missing, empty)
    QString name;                    // cleaned; never empty
    std::optional<QString> deviceId; // 32 lower-case hex digits
    Device::Kind kind = Device::Kind::mac;
    std::optional<QString> account;
    std::optional<QString> token; // a secret: never logged
    std::optional<QString> relay; // "host" or "host:port", lower-case
    // The hardware address that wakes the machine, as six lower-case hex bytes joined by ":"; a value
    // that is not one is left out without spoiling the link.
    std::optional<QString> mac;

    // Whether a link without its code (or with an empty one) is one: a machine that knows this computer
    // needs none, and one that does not can be asked for it.
    enum class Code { required, mayBeMissing };

    // The link is read from the raw text: URL classes would lower-case the scheme and host that must
    // match exactly, and cannot tell "code" from "code=" in the query. `whyNot`, when given, gets a
    // short reason for a link that does not parse.
    static std::optional<PairLink> parse(const QString& text, QString* whyNot = nullptr, Code rule = Code::required);
    // A host as a link's "host" is read: a host name or dotted address with an optional port from 1 to
    // 65535, lower-cased; nothing for anything else (IPv6 literals included).
    static std::optional<QString> endpoint(const QString& text);
    // A relay room as a link's "id" is read: 32 hex digits, lower-cased; nothing for anything else.
    static std::optional<QString> room(const QString& text);

    bool operator==(const PairLink&) const = default;
};

} // namespace dovrel::controller
