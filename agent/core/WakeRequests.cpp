// Wake requests: a magic packet for another machine, put on this computer's networks for a controller
// that cannot reach them itself.

#include "agent/core/WakeRequests.h"

#include <algorithm>
#include <chrono>

#include "agent/common/AgentLog.h"
#include "protocol/ControlMessages.h"
#include "protocol/LogText.h"
#include "protocol/NetAddress.h"
#include "protocol/WEXError.h"
#include "protocol/WakeMessages.h"

namespace dovrel::agent {

namespace {

std::string joined(const std::vector<std::string>& names) {
    std::string out;
    for (const auto& n : names)
        out += (out.empty() ? "" : ", ") + n;
    return out;
}

} // namespace

WakeRequests::WakeRequests(AgentTransport& transport, std::unique_ptr<WakeEmitter> emitter, Interfaces interfaces,
                           Scheduler& clock)
    : transport_(transport), emitter_(std::move(emitter)), interfaces_(std::move(interfaces)), clock_(clock) {
    if (!interfaces_) interfaces_ = [] { return wex::lanInterfaces(); };
}

void WakeRequests::handle(wex::ByteView payload, const std::string& deviceName) {
    wex::WakePeerRequest request;
    try {
        request = wex::WakePeerRequest::decode(payload);
    } catch (const wex::WEXError&) {
        transport_.sendControl(wex::ErrorMsg(0, wex::ErrCode::refused, "Malformed wake request.").encode(),
                               wex::ControlType::error);
        return;
    }
    using Status = wex::WakePeerAck::Status;
    const auto answer = [&](Status status, uint8_t interfaces, std::string detail) {
        wex::WakePeerAck ack;
        ack.reqId = request.reqId;
        ack.status = static_cast<uint8_t>(status);
        ack.interfaces = interfaces;
        ack.detail = std::move(detail);
        transport_.sendControl(ack.encode(), wex::ControlType::wakePeerAck);
    };
    const std::string label = request.name.empty() ? wex::formatMAC(request.mac) : wex::logText(request.name);
    const std::string host = deviceName.empty() ? "This computer" : deviceName;

    bool zero = true;
    for (uint8_t b : request.mac)
        zero = zero && b == 0;
    if (zero) {
        print("• WAKE_PEER for " + label + " — refused, no usable hardware address");
        answer(Status::badRequest, 0, "That machine has no usable hardware address.");
        return;
    }
    const double now = std::chrono::duration<double>(clock_.now().time_since_epoch()).count();
    if (!budget_.allow(now)) {
        print("• WAKE_PEER for " + label + " — throttled");
        answer(Status::throttled, 0, "Too many wake attempts — wait a moment.");
        return;
    }
    const auto chosen = wex::eligibleInterfaces(interfaces_(), request.ipv4, request.allInterfaces());
    if (chosen.empty()) {
        const std::string reason = request.ipv4 != 0 ? "nothing on " + wex::formatIPv4(request.ipv4) + "'s network"
                                                     : std::string("no address to aim at");
        print("• WAKE_PEER for " + label + " — " + reason + "; this computer cannot reach it");
        answer(Status::noRoute, 0, host + " isn't on that machine's network.");
        return;
    }
    const std::vector<std::string> sent = emitter_->send(request.mac, chosen);
    if (sent.empty()) {
        std::vector<std::string> names;
        for (const auto& i : chosen)
            names.push_back(i.name);
        print("• WAKE_PEER for " + label + " — sockets refused on " + joined(names));
        answer(Status::sendFailed, 0, "Couldn't put the wake signal on the network.");
        return;
    }
    print("• WAKE_PEER for " + label + " — magic packet sent on " + joined(sent));
    answer(Status::sent, static_cast<uint8_t>(std::min<std::size_t>(sent.size(), 255)),
           "Sent from " + host + " via " + joined(sent) + ".");
}

} // namespace dovrel::agent
