#pragma once

#include <optional>

#include <QString>

namespace dovrel::controller {

// One share-code box as it keeps what was typed or pasted: upper-cased by Unicode's own mapping (the
// same in every locale), only the 32 symbols of the share-code alphabet, the first four of them.
QString shareCodeBoxText(const QString& typed);

// The pairing-code field: the ASCII digits 0-9 only, in order, the first six of them. Digits of other
// scripts are dropped: the agent shows, and its proof uses, ASCII digits.
QString pairingCodeDigits(const QString& typed);

// What the by-hand card's address field names, trimmed: the agent's address on the local network, as a
// pairing link's host is read (a name or dotted address, optionally ":port"), or its relay room (32 hex
// digits, which is also a valid host name: the room wins). Nothing for anything else.
struct TypedMachine {
    enum class Way { lan, relay };
    Way way;
    QString value; // lower-cased
    bool operator==(const TypedMachine&) const = default;
};
std::optional<TypedMachine> typedMachine(const QString& text);

} // namespace dovrel::controller
