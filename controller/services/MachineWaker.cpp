#include "controller/services/MachineWaker.h"

#include <algorithm>
#include <string>

#include "controller/platform/ClientLog.h"
#include "protocol/MagicPacket.h"
#include "protocol/NetAddress.h"

namespace dovrel::controller {

namespace {
std::string dotted(uint32_t a) {
    return std::to_string(a >> 24) + '.' + std::to_string((a >> 16) & 0xFF) + '.' + std::to_string((a >> 8) & 0xFF) +
           '.' + std::to_string(a & 0xFF);
}
} // namespace

MachineWaker::MachineWaker(WakeSender& sender, const NetworkInterfaces& interfaces)
    : sender_(sender), interfaces_(interfaces) {}

std::vector<uint32_t> MachineWaker::wake(const Device& device) {
    std::vector<uint32_t> reached;
    const std::optional<wex::MACAddress> mac =
        device.mac ? wex::parseMAC(device.mac->trimmed().toStdString()) : std::nullopt;
    if (!mac) {
        clientLog("wake: no readable hardware address for that machine — connecting without a wake");
        return reached;
    }
    const std::string macText = device.mac->trimmed().toLower().toStdString();
    const wex::Bytes packet = wex::MagicPacket::bytes(*mac);
    for (const InterfaceAddress& iface : interfaces_.ipv4Addresses().value_or(std::vector<InterfaceAddress>{})) {
        if (iface.address == 0 || iface.mask == 0) continue;
        const uint32_t broadcast = wex::subnetBroadcast(iface.address, iface.mask);
        // Two addresses on one network share a broadcast: one packet is enough.
        if (std::find(reached.begin(), reached.end(), broadcast) != reached.end()) continue;
        if (sender_.sendBroadcast(packet, iface.address, broadcast)) reached.push_back(broadcast);
    }
    if (reached.empty()) {
        clientLog("wake: magic packet for " + macText + " went nowhere — no local network took it");
        return reached;
    }
    std::string list;
    for (const uint32_t b : reached)
        list += (list.empty() ? "" : ", ") + dotted(b);
    clientLog("wake: magic packet for " + macText + " sent to " + list);
    return reached;
}

} // namespace dovrel::controller
