#pragma once

#include <QString>

namespace dovrel::controller::ShareCode {

// The 32 symbols a share code is written in: digits and upper-case letters without I, L, O and U.
inline constexpr char alphabet[] = "0123456789ABCDEFGHJKMNPQRSTVWXYZ";

// Upper-cases the text (full case mapping, so one character may become several), drops the
// separators people type ("-", blank, tab, "_"), reads "O" as "0" and "I" and "L" as "1"; every other
// character is kept, for looksValid to refuse.
QString normalize(const QString& typed);
// Exactly eight symbols of the alphabet once normalised.
bool looksValid(const QString& typed);
// The normalised code as two groups of four joined by "-"; the normalised text unchanged when it is
// not eight characters long.
QString pretty(const QString& typed);

} // namespace dovrel::controller::ShareCode
