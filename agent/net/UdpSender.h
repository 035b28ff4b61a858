#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "agent/core/SendTarget.h"
#include "protocol/Bytes.h"

namespace dovrel::agent {

// A UDP socket connected to one destination, for video and audio datagrams. Any number of threads may
// send on it at once (the kernel serialises datagrams); the socket closes when the last holder lets go.
class UdpSender final : public MediaRoute {
public:
    // Nothing when the address is not a numeric IPv4 or IPv6 address or no socket can be made.
    static std::shared_ptr<UdpSender> connectTo(const std::string& host, uint16_t port);
    ~UdpSender() override;
    UdpSender(const UdpSender&) = delete;
    UdpSender& operator=(const UdpSender&) = delete;

    // True when the whole datagram was handed to the kernel.
    bool send(wex::ByteView datagram) const;

    // A video or audio frame as one datagram; a datagram lost here is lost like one lost on the way.
    bool sendFrame(wex::Bytes frame, bool /*isVideo*/) override { return send(frame); }
    bool linkUp() const override { return true; }

    const std::string& host() const { return host_; }
    uint16_t port() const { return port_; }

private:
    UdpSender(int fd, std::string host, uint16_t port) : fd_(fd), host_(std::move(host)), port_(port) {}
    int fd_;
    std::string host_;
    uint16_t port_;
};

} // namespace dovrel::agent
