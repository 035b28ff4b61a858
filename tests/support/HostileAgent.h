#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include <QUdpSocket>

#include "TestAgent.h"
#include "protocol/Bytes.h"
#include "protocol/ControlType.h"
#include "protocol/SessionSetupMessages.h"

namespace dovrel::test {

// An agent that means harm, for the controller's tests: a real handshake through `agent`, then what
// the wire format allows: a HelloAck of another identity inside the session, floods of control
// messages written while the test's main thread (the window) is kept busy, video pieces in any order
// and pictures of any size. Lives on the test's main thread.
struct HostileAgent {
    TestAgent agent;

    // A HelloAck to the controller's last Hello from a freshly made identity.
    wex::HelloAck foreignHelloAck();

    // Seals the messages and writes them straight to the socket, without the main thread's event loop;
    // returns the bytes written.
    struct Message {
        wex::ControlType type;
        wex::Bytes payload;
    };
    int64_t flood(const std::vector<Message>& messages);

    // Video to the controller's listener at `videoPort`: every 32 pieces, and at flushPace, `pace` gets
    // the bytes sent so far and returns once the controller has taken them in.
    uint16_t videoPort = 0;
    std::function<void(int64_t sentBytes)> pace;
    int64_t videoBytes = 0;
    void flushPace();
    // A picture's payload (header, then its units).
    static wex::Bytes picture(uint32_t frameId, int width, int height, const std::vector<wex::Bytes>& units,
                              bool keyframe);
    // Whole up to 1000 bytes, else in 1000-byte pieces, as the agent sends; only the first `pieces` of them
    // (all when negative).
    void sendVideo(uint32_t frameId, const wex::Bytes& payload, int pieces = -1);

private:
    QUdpSocket udp_;
    int sinceBurst_ = 0;
};

} // namespace dovrel::test
