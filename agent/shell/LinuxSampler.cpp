#include "agent/shell/LinuxSampler.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <ifaddrs.h>
#include <linux/ethtool.h>
#include <linux/sockios.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <xcb/xcb.h>

#include "agent/common/UniqueFd.h"
#include "agent/net/PrimaryInterface.h"
#include "agent/shell/EthtoolNetlink.h"
#include "agent/shell/TextUtil.h"

namespace dovrel::agent {

namespace {

std::optional<std::string> readLine(const std::string& path) {
    std::ifstream in(path);
    if (!in) return std::nullopt;
    std::string line;
    std::getline(in, line);
    return trimWhite(line);
}

std::string environment(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

} // namespace

DesktopAccess LinuxSampler::desktopAccess(const std::string& display, const std::string& sessionType) {
    if (display.empty() || sessionType == "wayland") return {};
    xcb_connection_t* c = xcb_connect(display.c_str(), nullptr);
    DesktopAccess access;
    if (c && !xcb_connection_has_error(c)) {
        access.screenCapture = true;
        const char name[] = "XTEST";
        xcb_query_extension_reply_t* reply =
            xcb_query_extension_reply(c, xcb_query_extension(c, sizeof name - 1, name), nullptr);
        access.inputControl = reply && reply->present;
        std::free(reply);
    }
    if (c) xcb_disconnect(c);
    return access;
}

LinuxSampler::LinuxSampler(DesktopKind kind, std::shared_ptr<MutterSession> gnome)
    : kind_(kind), gnome_(std::move(gnome)) {}

DesktopAccess LinuxSampler::desktopAccess() {
    switch (kind_) {
    case DesktopKind::gnomeWayland: {
        DesktopAccess access;
        access.screenCapture = access.inputControl = gnome_ && gnome_->offered();
        access.clipboardText = !gnome_ || gnome_->clipboardOffered().value_or(true);
        return access;
    }
    case DesktopKind::unsupportedWayland: return {};
    case DesktopKind::x11:
    case DesktopKind::none: break;
    }
    return desktopAccess(environment("DISPLAY"), environment("XDG_SESSION_TYPE"));
}

std::optional<bool> LinuxSampler::onBattery(const std::string& folder) {
    DIR* d = ::opendir(folder.c_str());
    if (!d) return std::nullopt;
    std::vector<std::string> names;
    while (const dirent* e = ::readdir(d))
        if (e->d_name[0] != '.') names.emplace_back(e->d_name);
    ::closedir(d);

    bool mainsSeen = false, mainsOnline = false, batterySeen = false, discharging = false;
    for (const std::string& name : names) {
        const std::string base = folder + "/" + name + "/";
        const std::string type = readLine(base + "type").value_or("");
        if (type == "Mains" || type.rfind("USB", 0) == 0) {
            mainsSeen = true;
            if (readLine(base + "online").value_or("") == "1") mainsOnline = true;
        } else if (type == "Battery") {
            // A mouse's or headset's battery says nothing about the computer's power.
            if (readLine(base + "scope").value_or("System") == "Device") continue;
            batterySeen = true;
            if (readLine(base + "status").value_or("") == "Discharging") discharging = true;
        }
    }
    if (!batterySeen || mainsOnline) return false;
    return discharging || mainsSeen;
}

std::optional<bool> LinuxSampler::ioctlWakeOnMagicPacket(const std::string& interface, bool* needsRights) {
    if (needsRights) *needsRights = false;
    if (interface.empty() || interface.size() >= IFNAMSIZ) return std::nullopt;
    UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!fd) return std::nullopt;
    ethtool_wolinfo wol{};
    wol.cmd = ETHTOOL_GWOL;
    ifreq req{};
    std::memcpy(req.ifr_name, interface.data(), interface.size());
    req.ifr_data = reinterpret_cast<char*>(&wol);
    if (::ioctl(fd.get(), SIOCETHTOOL, &req) == 0) return (wol.wolopts & WAKE_MAGIC) != 0;
    // The card cannot wake the computer at all.
    if (errno == EOPNOTSUPP) return false;
    if (needsRights) *needsRights = errno == EPERM;
    return std::nullopt;
}

std::optional<bool> LinuxSampler::wakeOnMagicPacket(const std::string& interface) {
    if (interface.empty() || interface.size() >= IFNAMSIZ) return std::nullopt;
    bool needsRights = false;
    if (const auto answer = ioctlWakeOnMagicPacket(interface, &needsRights)) return answer;
    // The ioctl wants administrator rights; the netlink query answers every user.
    if (needsRights) return ethtoolWakeOnMagicPacket(interface);
    return std::nullopt;
}

std::optional<bool> LinuxSampler::wakeOnMagicPacket() {
    const auto interface = systemDefaultRouteInterface();
    if (!interface) return false; // no network to be woken over
    return wakeOnMagicPacket(*interface);
}

std::optional<bool> LinuxSampler::onBattery() { return onBattery("/sys/class/power_supply"); }

std::optional<std::string> LinuxSampler::primaryLANIP() { return dovrel::agent::primaryLANIP(); }

std::vector<std::string> LinuxSampler::ipv4Addresses() {
    std::vector<std::string> out;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return out;
    for (const ifaddrs* a = list; a; a = a->ifa_next) {
        if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET) continue;
        char text[INET_ADDRSTRLEN] = {};
        const auto* in = reinterpret_cast<const sockaddr_in*>(a->ifa_addr);
        if (::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text)) out.emplace_back(text);
    }
    ::freeifaddrs(list);
    return out;
}

} // namespace dovrel::agent
