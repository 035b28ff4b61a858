#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <future>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "ForeignControllerRules.h"
#include "protocol/Bytes.h"
#include "protocol/DeviceIdentity.h"
#include "protocol/NalUnits.h"
#include "protocol/SecureSession.h"
#include "protocol/VideoPayload.h"
#include "tests/support/NetNamespace.h"

namespace dovrel::test {
class TestController;
}

namespace dovrel::bench {

// What the foreign controller saw in its session, each with when it arrived.
struct ForeignLog {
    struct Picture {
        std::chrono::steady_clock::time_point at;
        std::size_t bytes = 0; // of its video payload
    };
    struct Sound {
        std::chrono::steady_clock::time_point at;
        uint32_t sampleFrames = 0; // samples per channel
        uint32_t rate = 0;
        uint8_t channels = 0;
    };
    std::vector<Picture> whole; // every piece came (a payload given up on never counts)
    // Of the whole pictures, those decoded without concealment on an unbroken chain: since a keyframe, or
    // since a refresh wave that ran its course, no picture was missing.
    std::vector<std::chrono::steady_clock::time_point> clean;
    std::vector<Sound> sound;
    std::vector<std::chrono::steady_clock::time_point> keyframeAsks;
    std::vector<wex::VideoCodec> codecs; // that the payloads announced, each once, in order
    uint64_t videoDatagrams = 0;         // that arrived, before the random drop
    uint64_t droppedHere = 0;            // by the random drop
    std::string failure;                 // why its session broke off, if it did
};

// A WEX controller other than DovrelController, built on the protocol library and the scripted test
// controller, that puts payloads together and asks for keyframes only as the protocol's controller must
// (ForeignControllerRules.h), with a Ping on each once-a-second tick. It asks for H.264 by announcing that it decodes
// nothing else, or for HEVC by not announcing it (the agent may still send H.264: each payload says which), drops a
// share of the video datagrams at random (seeded) before reassembly, as a lossy radio link would, and decodes whole
// payloads with libavcodec on a thread of their own to tell clean pictures.
//
// Its sockets live in a network namespace: its own thread enters it before opening them.
class ForeignController {
public:
    struct Options {
        const test::NetNamespace* place = nullptr;
        std::string ownAddress; // in that namespace, where the video arrives
        wex::VideoCodec asked = wex::VideoCodec::h264;
        double lossShare = 0;
        uint32_t seed = 1;
    };

    ForeignController(Options options, wex::DeviceIdentity identity);
    ~ForeignController();
    ForeignController(const ForeignController&) = delete;
    ForeignController& operator=(const ForeignController&) = delete;

    // Where its video arrives; 0 when its sockets could not be opened.
    uint16_t videoPort() const { return videoPort_; }
    // Dials the agent and authenticates by key; true at AuthOk, which begins its session's time.
    bool begin(const std::string& host, uint16_t controlPort, std::string& why);
    std::chrono::steady_clock::time_point sessionStart() const { return sessionStart_; }
    // What it saw so far; pictures still waiting for the decoder are waited for (at most a few seconds).
    ForeignLog log() const;

private:
    using Clock = std::chrono::steady_clock;
    struct Dial {
        std::string host;
        uint16_t port = 0;
    };
    struct DecodeJob {
        Clock::time_point at;
        wex::VideoCodec codec;
        wex::VideoNALPayload payload;
        bool intact = false; // the picture before it in the stream came whole
    };

    void run(std::promise<uint16_t> port, std::future<Dial> dial, std::promise<std::string> began);
    void receive(test::TestController& c);
    // Whether a datagram is lost on the way (the share of video datagrams the options say).
    bool lostOnTheWay(wex::ByteView datagram);
    void media(test::TestController& c, const wex::OpenedFrame& frame, Clock::time_point now);
    void tick(test::TestController& c, Clock::time_point now);
    void askKeyframe(test::TestController& c, Clock::time_point now);
    void decode();

    Options options_;
    wex::DeviceIdentity identity_;
    uint16_t videoPort_ = 0;
    Clock::time_point sessionStart_{};
    std::promise<Dial> dial_;
    bool dialed_ = false;
    std::future<std::string> began_;
    std::atomic<bool> stop_{false};
    std::thread net_;

    // Its thread's own: reassembly and the keyframe rules.
    PieceReassembler reassembler_;
    KeyframeAsking asking_;
    std::mt19937 random_;
    std::optional<uint32_t> lastWholeId_;
    std::optional<wex::VideoCodec> codec_; // of the last payload
    bool haveParameterSets_ = false;
    std::size_t displayed_ = 0;

    mutable std::mutex lock_;
    ForeignLog log_;
    std::deque<DecodeJob> jobs_;
    bool decoding_ = false;
    mutable std::condition_variable jobsChanged_;
    std::thread decoder_;
};

} // namespace dovrel::bench
