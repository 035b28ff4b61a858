#pragma once

#include <QString>

namespace dovrel::controller {

// One share-code box as it keeps what was typed or pasted: upper-cased by Unicode's own mapping (the
// same in every locale), only the 32 symbols of the share-code alphabet, the first four of them.
QString shareCodeBoxText(const QString& typed);

// The pairing-code field: the ASCII digits 0-9 only, in order, the first six of them. Digits of other
// scripts are dropped: the agent shows, and its proof uses, ASCII digits.
QString pairingCodeDigits(const QString& typed);

} // namespace dovrel::controller
