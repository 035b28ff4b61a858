#pragma once

#include <vector>

#include <gtest/gtest.h>

#include "controller/client/input/InputChannel.h"
#include "controller/client/input/RemoteInput.h"
#include "protocol/InputMessages.h"

namespace dovrel::controller::test {

// A session client as RemoteInput sees it: each batch decoded and kept with the session it was sent
// for; a batch for any session but the current one, an empty one or one too long for a datagram fails
// the test.
struct InputChannelFake final : InputChannel {
    uint64_t session = 1;
    QSizeF size{0, 0};
    int rate = 0;
    QString status;
    std::vector<wex::InputBatch> batches;
    std::vector<wex::SessionCmd> commands;
    std::vector<int> displays;

    uint64_t inputSession() const override { return session; }
    void sendInputPayload(uint64_t s, wex::Bytes payload) override {
        EXPECT_EQ(s, session);
        EXPECT_NE(s, 0u);
        EXPECT_LE(payload.size(), RemoteInput::maxPayload);
        const auto batch = wex::InputBatch::decode(payload);
        EXPECT_FALSE(batch.events.empty());
        batches.push_back(batch);
    }
    void sendSessionCommand(uint64_t s, wex::SessionCmd command) override {
        EXPECT_EQ(s, session);
        commands.push_back(command);
    }
    void switchDisplay(int index) override { displays.push_back(index); }
    QSizeF remoteSize() const override { return size; }
    int fps() const override { return rate; }
    void showStatus(const QString& s) override { status = s; }

    // Every event sent so far, in order, batch boundaries dropped.
    std::vector<wex::InputBatch::Entry> events() const {
        std::vector<wex::InputBatch::Entry> out;
        for (const auto& b : batches)
            out.insert(out.end(), b.events.begin(), b.events.end());
        return out;
    }
};

inline wex::InputBatch::Entry key(uint16_t hid, bool down, uint16_t mods = 0) {
    return {wex::EventFlag::reliable, wex::KeyEvent{0x70000u | hid, static_cast<uint8_t>(down ? 1 : 0), mods}};
}
inline wex::InputBatch::Entry move(double x, double y, uint8_t buttons = 0) {
    return {{}, wex::MouseMoveEvent{0, static_cast<int32_t>(x * 65536), static_cast<int32_t>(y * 65536), buttons}};
}
inline wex::InputBatch::Entry button(double x, double y, uint8_t b, bool down, uint8_t count = 1) {
    return {wex::EventFlag::reliable,
            wex::MouseButtonEvent{0, static_cast<int32_t>(x * 65536), static_cast<int32_t>(y * 65536), b,
                                  static_cast<uint8_t>(down ? 1 : 0), count}};
}
inline wex::InputBatch::Entry text(std::string t) { return {wex::EventFlag::reliable, wex::TextEvent{std::move(t)}}; }

} // namespace dovrel::controller::test
