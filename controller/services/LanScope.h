#pragma once

#include <cstdint>
#include <optional>

#include <QString>

#include "controller/platform/NetworkInterfaces.h"

namespace dovrel::controller::LanScope {

// Dotted-quad text to a host-order address. Empty parts (leading, trailing or doubled dots) and parts
// that are not a decimal 0…255 (an optional "+"; "-" only before zero) are skipped; exactly four
// numbers must remain.
std::optional<uint32_t> ipv4(const QString& text);

// Whether `host` is an IPv4 address on the subnet of one of this computer's interfaces that are up
// and not loopback. An interface list that cannot be read makes nothing local.
bool isLocal(const QString& host, const NetworkInterfaces& interfaces);

} // namespace dovrel::controller::LanScope
