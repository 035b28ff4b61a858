#pragma once

#include <cstdint>
#include <optional>

#include <QStringView>

namespace dovrel::controller {

// A port written in decimal digits with an optional leading "+", 0…65535; nothing for anything else.
std::optional<uint16_t> decimalPort(QStringView text);

} // namespace dovrel::controller
