#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <QUdpSocket>

#include "TestAgent.h"
#include "protocol/Bytes.h"
#include "protocol/ControlType.h"
#include "protocol/SessionSetupMessages.h"

namespace dovrel::test {

// An agent that means harm, for the controller's tests: it runs a real handshake through `agent` (or
// refuses before any, as anyone at a machine's address can) and then sends whatever the wire format
// allows: handshake messages of another identity inside the session, pictures of any size, floods of
// control messages faster than a window can take them, piece orders no honest agent makes. Lives on the
// test's main thread.
class HostileAgent {
public:
    HostileAgent() = default;
    HostileAgent(const HostileAgent&) = delete;
    HostileAgent& operator=(const HostileAgent&) = delete;

    TestAgent agent;

    bool listen() { return agent.listen(); }

    // A HelloAck to the controller's last Hello from a freshly made identity, as a second handshake
    // inside the session would bring; and an AuthOk of that identity.
    wex::HelloAck foreignHelloAck();
    wex::AuthOk foreignAuthOk();

    // Control messages sent faster than the controller's window can take them: sealed here, written
    // straight to the socket while the test's main thread (and so the window) is kept busy. Returns once
    // every byte is written, with their number.
    struct Message {
        wex::ControlType type;
        wex::Bytes payload;
    };
    int64_t flood(const std::vector<Message>& messages);

    // Video pieces to the controller's listener at `port`. Pieces go out in bursts; between bursts
    // `pace` (when set) is called with the bytes sent so far and should return once the controller has
    // taken them in, so that loopback's buffers lose nothing.
    uint16_t videoPort = 0;
    std::function<void(int64_t sentBytes)> pace;
    int64_t videoBytesSent() const { return videoBytes_; }
    // Calls `pace` for what was sent since the last burst.
    void flushPace();
    // A video payload (header, then the units) for frame `frameId`, announcing `width` x `height`.
    static wex::Bytes picture(uint32_t frameId, int width, int height, const std::vector<wex::Bytes>& units,
                              bool keyframe);
    // Sends `payload` as the agent does: whole up to 1000 bytes, else in 1000-byte pieces behind fragment
    // headers; `only` picks which pieces go (all when empty).
    void sendVideo(uint32_t frameId, const wex::Bytes& payload, const std::vector<int>& only = {});
    // The first piece alone of a frame said to have `count` pieces.
    void sendFirstPiece(uint32_t frameId, uint16_t count);

private:
    void datagram(const wex::Bytes& sealed);

    QUdpSocket udp_;
    int64_t videoBytes_ = 0;
    int sinceBurst_ = 0;
};

} // namespace dovrel::test
