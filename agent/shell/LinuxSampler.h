#pragma once

#include <optional>
#include <string>
#include <vector>

#include "agent/gnome/MutterSession.h"
#include "agent/shell/DesktopBackend.h"
#include "agent/shell/RefreshSource.h"

namespace dovrel::agent {

// The model's view of this Linux desktop. On X11 screen capture works when the X display answers and
// input control needs its XTEST extension as well; on GNOME's Wayland session both work while the
// compositor's remote desktop and screen cast are on the session bus, and clipboard text where its
// sessions have the clipboard calls; another Wayland desktop offers neither. The power source comes
// from /sys/class/power_supply; wake-on-LAN readiness from the primary interface's wake options (the
// magic-packet bit).
class LinuxSampler : public RefreshSource {
public:
    LinuxSampler() = default;
    LinuxSampler(DesktopKind kind, std::shared_ptr<MutterSession> gnome);

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

private:
    DesktopKind kind_ = DesktopKind::x11;
    std::shared_ptr<MutterSession> gnome_;
};

} // namespace dovrel::agent
