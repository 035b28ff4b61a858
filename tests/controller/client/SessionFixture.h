#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <QHostAddress>
#include <QUdpSocket>

#include <gtest/gtest.h>

#include "ClientTestSupport.h"
#include "TestAgent.h"
#include "protocol/ByteWriter.h"
#include "protocol/CommonHeader.h"
#include "protocol/VideoPayload.h"

namespace dovrel::controller::test {

// What the fake sound system was asked to play.
struct FakeAudio {
    struct Output final : AudioOutput {
        explicit Output(FakeAudio& owner, AudioFormat f) : sink(owner), format(f) {}
        void write(std::span<const int16_t> samples) override {
            const std::lock_guard g(sink.lock);
            sink.written.insert(sink.written.end(), samples.begin(), samples.end());
        }
        std::chrono::milliseconds buffered() const override { return {}; }
        bool failed() const override { return sink.breakOutputs; }
        FakeAudio& sink;
        AudioFormat format;
    };

    AudioOutputFactory factory() {
        return [this](const AudioFormat& f, std::string& error) -> std::unique_ptr<AudioOutput> {
            const std::lock_guard g(lock);
            ++attempts;
            if (refuse) {
                error = "no sound server (test)";
                return nullptr;
            }
            opened.push_back(f);
            return std::make_unique<Output>(*this, f);
        };
    }
    std::vector<int16_t> samples() {
        const std::lock_guard g(lock);
        return written;
    }

    std::mutex lock;
    std::vector<AudioFormat> opened;
    std::vector<int16_t> written;
    int attempts = 0;
    bool refuse = false;
    bool breakOutputs = false;
};

// A client in an established session with the scripted agent on loopback, on a fake clock; the agent
// can send video pieces and sound to the client's video port.
struct SessionFixture : ::testing::Test {
    ClientFixture f{true};
    dovrel::test::TestAgent agent;
    FakeAudio audio;
    QUdpSocket udp;

    void SetUp() override {
        app();
        ASSERT_TRUE(agent.listen());
        f.config.controlPort = agent.controlPort();
        f.config.inputPort = agent.inputPort();
        f.config.audioOutputs = audio.factory();
    }

    WEXClient& client() { return f.client ? *f.client : f.make(); }

    void connect() {
        client().connectToHost("127.0.0.1", "123456");
        ASSERT_TRUE(f.waitPhase(PhaseKind::connected));
        ASSERT_TRUE(waitUntil([&] { return agent.inSession(); }));
    }

    uint16_t videoPort() {
        uint16_t port = 0;
        client().runOnClientThread([&](ClientCore& c) { port = c.boundVideoPort(); });
        return port;
    }

    int sealedCount(wex::ControlType type) const {
        int n = 0;
        for (const auto& s : agent.sealedReceived)
            n += s.type == static_cast<uint8_t>(type) ? 1 : 0;
        return n;
    }

    // One sealed frame to the client's video listener.
    void sendDatagram(const wex::Bytes& sealed) {
        ASSERT_FALSE(sealed.empty());
        udp.writeDatagram(reinterpret_cast<const char*>(sealed.data()), static_cast<qint64>(sealed.size()),
                          QHostAddress::LocalHost, videoPort());
    }

    // A payload sent the agent's way: whole up to 1000 bytes, else in 1000-byte pieces behind fragment
    // headers. `only` picks which pieces go (all when empty).
    void sendPayload(uint32_t frameId, const wex::Bytes& payload, std::vector<int> only = {}) {
        if (payload.size() <= 1000) {
            sendDatagram(agent.sealMedia(wex::Stream::video, payload));
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
            sendDatagram(agent.sealMedia(wex::Stream::video, w.bytes, flags));
        }
    }

    // A video payload with the given header fields and units (not a real picture).
    static wex::Bytes videoPayload(uint32_t frameId, uint16_t width, uint16_t height,
                                   std::vector<wex::Bytes> units = {wex::Bytes{0x41, 0x9a, 0x00}}) {
        wex::VideoNALHeader h;
        h.frameId = frameId;
        h.width = width;
        h.height = height;
        h.nalFlags = wex::NALFlag::codecH264;
        return wex::encodeVideoNALPayload(h, units);
    }

    // Lets the client's thread take in what was sent.
    void settle() { pump(60ms); }
    void advance(std::chrono::milliseconds d, std::chrono::milliseconds step = 100ms) { f.advance(d, step); }
};

} // namespace dovrel::controller::test
