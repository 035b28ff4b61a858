#pragma once

#include <optional>
#include <string>
#include <vector>

#include "agent/shell/RefreshSource.h"

namespace dovrel::agent {

// The model's view of this Linux desktop. Screen capture works when the X display answers (and the
// session is not a Wayland one, where an X client sees only other X clients); input control needs the
// XTEST extension there as well. The power source comes from /sys/class/power_supply; wake-on-LAN
// readiness from the primary interface's wake options (the magic-packet bit).
class LinuxSampler : public RefreshSource {
public:
    DesktopAccess desktopAccess() override;
    std::optional<bool> wakeOnMagicPacket() override;
    std::optional<bool> onBattery() override;
    std::vector<std::string> ipv4Addresses() override;
    std::optional<std::string> primaryLANIP() override;

    // `display` as for XOpenDisplay (empty: no display); `sessionType` is $XDG_SESSION_TYPE.
    static DesktopAccess desktopAccess(const std::string& display, const std::string& sessionType);
    // From a power_supply folder: true when a system battery discharges or no mains supply is online
    // beside it; false without a system battery. Nothing when the folder cannot be read.
    static std::optional<bool> onBattery(const std::string& powerSupplyFolder);
    // The wake options of `interface` have the magic-packet bit; nothing when they cannot be read.
    // Asks the SIOCETHTOOL ioctl first and, when that wants administrator rights, the kernel's ethtool
    // netlink family.
    static std::optional<bool> wakeOnMagicPacket(const std::string& interface);
    // The ioctl's answer alone; `needsRights` tells when it refused for want of rights.
    static std::optional<bool> ioctlWakeOnMagicPacket(const std::string& interface, bool* needsRights = nullptr);
};

} // namespace dovrel::agent
