#include "HostileAgent.h"

#include <cerrno>

#include <poll.h>
#include <sys/socket.h>

#include "protocol/AgentHandshakeMachine.h"
#include "protocol/ByteWriter.h"
#include "protocol/CommonHeader.h"
#include "protocol/Crypto.h"
#include "protocol/EphemeralKey.h"
#include "protocol/VideoPayload.h"

namespace dovrel::test {

wex::HelloAck HostileAgent::foreignHelloAck() {
    const wex::DeviceIdentity other;
    wex::AgentHandshakeMachine machine(other);
    const wex::Bytes challenge = wex::Crypto::randomBytes(wex::AgentHandshakeMachine::challengeSize);
    return machine.hello(agent.hellos.back(), wex::EphemeralKey{}, challenge, 1).value_or(wex::HelloAck{});
}

int64_t HostileAgent::flood(const std::vector<Message>& messages) {
    wex::Bytes all;
    for (const auto& m : messages) {
        const wex::Bytes frame = agent.sealControl(m.type, m.payload);
        all.insert(all.end(), frame.begin(), frame.end());
    }
    const auto fd = static_cast<int>(agent.controlDescriptor());
    std::size_t done = 0;
    while (fd >= 0 && done < all.size()) {
        const ssize_t n = ::send(fd, all.data() + done, all.size() - done, MSG_NOSIGNAL);
        if (n > 0) done += static_cast<std::size_t>(n);
        if (n < 0 && errno != EAGAIN && errno != EINTR) break;
        pollfd p{fd, POLLOUT, 0};
        if (n <= 0) ::poll(&p, 1, 1000);
    }
    return static_cast<int64_t>(done);
}

void HostileAgent::flushPace() {
    sinceBurst_ = 0;
    if (pace) pace(videoBytes);
}

wex::Bytes HostileAgent::picture(uint32_t frameId, int width, int height, const std::vector<wex::Bytes>& units,
                                 bool keyframe) {
    wex::VideoNALHeader h;
    h.frameId = frameId;
    h.width = static_cast<uint16_t>(width);
    h.height = static_cast<uint16_t>(height);
    h.nalFlags = wex::NALFlag::codecH264;
    if (keyframe) h.nalFlags.insert(wex::NALFlag::keyframe);
    return wex::encodeVideoNALPayload(h, units);
}

void HostileAgent::sendVideo(uint32_t frameId, const wex::Bytes& payload, int pieces) {
    const std::size_t count = payload.size() <= 1000 ? 1 : (payload.size() + 999) / 1000;
    for (std::size_t i = 0; i < count && (pieces < 0 || static_cast<int>(i) < pieces); ++i) {
        wex::ByteWriter w;
        wex::HeaderFlags flags;
        if (count > 1) {
            wex::FragmentHeader{frameId, static_cast<uint16_t>(i), static_cast<uint16_t>(count)}.encode(w);
            flags = wex::HeaderFlag::fragment;
        }
        w.raw(wex::ByteView(payload).subspan(i * 1000, std::min<std::size_t>(1000, payload.size() - i * 1000)));
        const wex::Bytes sealed = agent.sealMedia(wex::Stream::video, w.bytes, flags);
        udp_.writeDatagram(reinterpret_cast<const char*>(sealed.data()), static_cast<qint64>(sealed.size()),
                           QHostAddress::LocalHost, videoPort);
        videoBytes += static_cast<int64_t>(sealed.size());
        if (++sinceBurst_ >= 32) flushPace();
    }
}

} // namespace dovrel::test
