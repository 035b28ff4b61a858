#include "HostileAgent.h"

#include <cerrno>

#include <poll.h>
#include <sys/socket.h>

#include "protocol/AgentHandshakeMachine.h"
#include "protocol/ByteWriter.h"
#include "protocol/CommonHeader.h"
#include "protocol/Crypto.h"
#include "protocol/DeviceIdentity.h"
#include "protocol/EphemeralKey.h"
#include "protocol/VideoPayload.h"

namespace dovrel::test {

namespace {
constexpr int burst = 32;
}

wex::HelloAck HostileAgent::foreignHelloAck() {
    const wex::DeviceIdentity other;
    wex::AgentHandshakeMachine machine(other);
    const wex::EphemeralKey eph;
    const wex::Bytes challenge = wex::Crypto::randomBytes(wex::AgentHandshakeMachine::challengeSize);
    const wex::Hello hello = agent.hellos.empty() ? wex::Hello{} : agent.hellos.back();
    return machine.hello(hello, eph, challenge, 1).value_or(wex::HelloAck{});
}

wex::AuthOk HostileAgent::foreignAuthOk() {
    const wex::DeviceIdentity other;
    wex::AuthOk ok;
    ok.reqId = agent.auths.empty() ? 0 : agent.auths.back().reqId;
    ok.sessionId = 77;
    const wex::Bytes proof = other.sign(wex::Bytes(32, 0x5a));
    std::copy_n(proof.begin(), std::min(proof.size(), ok.agentProof.size()), ok.agentProof.begin());
    return ok;
}

int64_t HostileAgent::flood(const std::vector<Message>& messages) {
    wex::Bytes all;
    for (const auto& m : messages) {
        const wex::Bytes frame = agent.sealControl(m.type, m.payload);
        all.insert(all.end(), frame.begin(), frame.end());
    }
    const auto fd = static_cast<int>(agent.controlDescriptor());
    if (fd < 0) return 0;
    // Written here, on the main thread, without its event loop: nothing the controller posts to its own
    // window is taken in meanwhile, as with a window busy drawing.
    std::size_t done = 0;
    while (done < all.size()) {
        const ssize_t n = ::send(fd, all.data() + done, all.size() - done, MSG_NOSIGNAL);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) break;
        pollfd p{fd, POLLOUT, 0};
        ::poll(&p, 1, 1000);
    }
    return static_cast<int64_t>(done);
}

wex::Bytes HostileAgent::picture(uint32_t frameId, int width, int height, const std::vector<wex::Bytes>& units,
                                 bool keyframe) {
    wex::VideoNALHeader h;
    h.frameId = frameId;
    h.ptsUs = frameId * 16667;
    h.width = static_cast<uint16_t>(width);
    h.height = static_cast<uint16_t>(height);
    h.nalFlags = wex::NALFlag::codecH264;
    if (keyframe) {
        h.nalFlags.insert(wex::NALFlag::keyframe);
        h.nalFlags.insert(wex::NALFlag::config);
    }
    return wex::encodeVideoNALPayload(h, units);
}

void HostileAgent::sendVideo(uint32_t frameId, const wex::Bytes& payload, const std::vector<int>& only) {
    if (payload.size() <= 1000) {
        datagram(agent.sealMedia(wex::Stream::video, payload));
        return;
    }
    const std::size_t count = (payload.size() + 999) / 1000;
    for (std::size_t i = 0; i < count; ++i) {
        if (!only.empty() && std::find(only.begin(), only.end(), static_cast<int>(i)) == only.end()) continue;
        wex::ByteWriter w;
        wex::FragmentHeader{frameId, static_cast<uint16_t>(i), static_cast<uint16_t>(count)}.encode(w);
        const std::size_t from = i * 1000, len = std::min<std::size_t>(1000, payload.size() - from);
        w.raw(wex::ByteView(payload).subspan(from, len));
        wex::HeaderFlags flags = wex::HeaderFlag::fragment;
        if (i + 1 == count) flags.insert(wex::HeaderFlag::endFrag);
        datagram(agent.sealMedia(wex::Stream::video, w.bytes, flags));
    }
}

void HostileAgent::sendFirstPiece(uint32_t frameId, uint16_t count) {
    wex::ByteWriter w;
    wex::FragmentHeader{frameId, 0, count}.encode(w);
    w.raw(picture(frameId, 64, 64, {wex::Bytes(900, 0x41)}, false));
    datagram(agent.sealMedia(wex::Stream::video, w.bytes, wex::HeaderFlag::fragment));
}

void HostileAgent::flushPace() {
    sinceBurst_ = 0;
    if (pace) pace(videoBytes_);
}

void HostileAgent::datagram(const wex::Bytes& sealed) {
    if (sealed.empty() || videoPort == 0) return;
    udp_.writeDatagram(reinterpret_cast<const char*>(sealed.data()), static_cast<qint64>(sealed.size()),
                       QHostAddress::LocalHost, videoPort);
    videoBytes_ += static_cast<int64_t>(sealed.size());
    if (++sinceBurst_ >= burst && pace) {
        sinceBurst_ = 0;
        pace(videoBytes_);
    }
}

} // namespace dovrel::test
