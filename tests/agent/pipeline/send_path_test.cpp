// The send path: payload layout of keyframes and other pictures, the cut into pieces, sealing with the
// session's own sequence numbers, routes, audio chunks, and the end of a session whose numbers ran out.

#include <set>
#include <thread>

#include "PipelineTestSupport.h"
#include "agent/media/MediaSendPath.h"
#include "protocol/ByteReader.h"
#include "tests/support/SecureSessionTestAccess.h"
#include "tests/support/ToneMeasure.h"

using namespace dovrel;
using namespace dovrel::test;
using agent::MediaSendPath;
using agent::PictureFormat;
using agent::Diag::Counter;

namespace {

EncodedPicture picture(std::vector<wex::Bytes> units, bool keyframe,
                       std::optional<std::vector<wex::Bytes>> sets = std::nullopt) {
    EncodedPicture p;
    p.units = std::move(units);
    p.keyframe = keyframe;
    p.parameterSets = std::move(sets);
    return p;
}

wex::Bytes filled(std::size_t n, uint8_t v) { return wex::Bytes(n, v); }

struct Opened {
    wex::OpenedFrame frame;
    std::optional<wex::FragmentHeader> fragment;
};

std::vector<Opened> openAll(wex::SecureSession& client, const std::vector<wex::Bytes>& datagrams) {
    std::vector<Opened> out;
    for (const auto& d : datagrams) {
        auto f = client.openFrame(d);
        if (!f) throw std::runtime_error("a datagram did not open");
        Opened o{std::move(*f), std::nullopt};
        if (o.frame.header.flags.contains(wex::HeaderFlag::fragment)) {
            wex::ByteReader r(o.frame.plaintext);
            o.fragment = wex::FragmentHeader::decode(r);
        }
        out.push_back(std::move(o));
    }
    return out;
}

class SendPathTest : public ::testing::Test {
protected:
    void SetUp() override {
        rec.streaming = true;
        rec.setTarget(sessions.agent, sink.sender());
        agent::Diag::tick();
    }

    HostRecorder rec;
    agent::PipelineHost host = rec.host();
    MediaSendPath path{host};
    SessionPair sessions;
    UdpSink sink;
};

const std::vector<wex::Bytes> hevcSets = {{0x40, 0x01, 0xAA}, {0x42, 0x01, 0xBB}, {0x44, 0x01, 0xCC}};

} // namespace

TEST_F(SendPathTest, KeyframesCarryTheStoredParameterSetsInFrontAndPicturesOfAnotherEncoderDoNot) {
    const PictureFormat hevc{1, false, 1280, 720};
    path.sendPicture(picture({{0x26, 0x01}}, true, hevcSets), hevc);        // reports its sets
    path.sendPicture(picture({{0x02, 0x01}}, false), hevc);                 // a predicted picture
    path.sendPicture(picture({{0x26, 0x01, 0x07}}, true), hevc);            // a keyframe that reports none
    path.sendPicture(picture({{0x26, 0x02}}, true), {2, false, 1280, 720}); // a new encoder's first
    path.sendPicture(picture({{0x65, 0x01}}, true), {3, true, 640, 480});   // an H.264 encoder's

    const auto got = openAll(*sessions.client, sink.drain());
    ASSERT_EQ(got.size(), 5u);
    std::vector<wex::VideoNALPayload> p;
    for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].frame.header.stream, wex::Stream::video);
        EXPECT_EQ(got[i].frame.header.msgType, 1);
        EXPECT_EQ(got[i].frame.seq, i) << "numbered by the session, from 0";
        EXPECT_FALSE(got[i].fragment);
        p.push_back(wex::decodeVideoNALPayload(got[i].frame.plaintext));
        EXPECT_EQ(p[i].header.frameId, i + 1);
    }
    const wex::NALFlags keyConfig{wex::NALFlag::keyframe, wex::NALFlag::config};
    std::vector<wex::Bytes> expected = hevcSets;
    expected.push_back({0x26, 0x01});
    EXPECT_EQ(p[0].nals, expected) << "VPS, SPS, PPS, then the picture";
    EXPECT_EQ(p[0].header.nalFlags, keyConfig);
    EXPECT_EQ(p[0].header.width, 1280);
    EXPECT_EQ(p[0].header.height, 720);
    EXPECT_EQ(p[1].nals, (std::vector<wex::Bytes>{{0x02, 0x01}}));
    EXPECT_EQ(p[1].header.nalFlags, wex::NALFlags{});
    expected.back() = {0x26, 0x01, 0x07};
    EXPECT_EQ(p[2].nals, expected) << "the stored sets go in front of a keyframe that reported none";
    EXPECT_EQ(p[3].nals, (std::vector<wex::Bytes>{{0x26, 0x02}})) << "another encoder's sets would not fit";
    EXPECT_EQ(p[3].header.nalFlags, keyConfig);
    wex::NALFlags h264 = keyConfig;
    h264.insert(wex::NALFlag::codecH264);
    EXPECT_EQ(p[4].header.nalFlags, h264);
    EXPECT_EQ(p[4].header.width, 640);
    EXPECT_EQ(path.lastFrameId(), 5u);
}

TEST_F(SendPathTest, APayloadOf1000BytesGoesWholeAndOneOf1001InTwoPieces) {
    const PictureFormat fmt{1, true, 64, 64};
    // 20 bytes of video header and 4 of unit length in front of the unit.
    const auto sent1000 = path.sendPicture(picture({filled(976, 0x11)}, false), fmt);
    const auto sent1001 = path.sendPicture(picture({filled(977, 0x22)}, false), fmt);
    EXPECT_EQ(sent1000.pieces, 1u);
    EXPECT_EQ(sent1001.pieces, 2u);
    const auto datagrams = sink.drain();
    ASSERT_EQ(datagrams.size(), 3u);
    EXPECT_EQ(datagrams[0].size(), 12u + 8u + 1000u + 16u);
    EXPECT_EQ(datagrams[1].size(), 1044u) << "the largest sealed piece";
    EXPECT_EQ(sent1001.bytes, 1044u + 12u + 8u + 9u + 16u);

    const auto got = openAll(*sessions.client, datagrams);
    EXPECT_EQ(got[0].frame.plaintext.size(), 1000u);
    EXPECT_FALSE(got[0].frame.header.flags.contains(wex::HeaderFlag::fragment));
    ASSERT_TRUE(got[1].fragment && got[2].fragment);
    EXPECT_EQ(*got[1].fragment, (wex::FragmentHeader{2, 0, 2}));
    EXPECT_EQ(*got[2].fragment, (wex::FragmentHeader{2, 1, 2}));
    EXPECT_FALSE(got[1].frame.header.flags.contains(wex::HeaderFlag::endFrag));
    EXPECT_TRUE(got[2].frame.header.flags.contains(wex::HeaderFlag::endFrag));
    EXPECT_EQ(got[2].frame.plaintext.size(), 8u + 1u);
    EXPECT_EQ((std::vector<uint32_t>{got[0].frame.seq, got[1].frame.seq, got[2].frame.seq}),
              (std::vector<uint32_t>{0, 1, 2}));

    wex::Bytes whole(got[1].frame.plaintext.begin() + 8, got[1].frame.plaintext.end());
    whole.insert(whole.end(), got[2].frame.plaintext.begin() + 8, got[2].frame.plaintext.end());
    EXPECT_EQ(wex::decodeVideoNALPayload(whole).nals, (std::vector<wex::Bytes>{filled(977, 0x22)}));

    const auto t = agent::Diag::tick();
    EXPECT_EQ(t.frames, 3);
    EXPECT_EQ(t.bytes, static_cast<int64_t>(datagrams[0].size() + datagrams[1].size() + datagrams[2].size()));
    EXPECT_EQ(t.dropped, 0);
}

TEST_F(SendPathTest, NothingIsSentWhileTheClientDoesNotStreamOrHasNoSession) {
    rec.streaming = false;
    const std::vector<int16_t> samples(512, 7);
    path.sendPicture(picture({{1}}, true, hevcSets), {1, false, 8, 8});
    path.sendAudio(samples, 48000, 2);
    EXPECT_TRUE(sink.drain(50ms).empty());
    auto t = agent::Diag::tick();
    EXPECT_EQ(t.aBuf, 1);
    EXPECT_EQ(t.aSamples, 512);
    EXPECT_EQ(t.aSent, 0);
    EXPECT_EQ(t.frames, 0);

    rec.streaming = true;
    rec.target.store(nullptr);
    path.sendPicture(picture({{1}}, false), {1, false, 8, 8});
    path.sendAudio(samples, 48000, 2);
    EXPECT_TRUE(sink.drain(50ms).empty());
    t = agent::Diag::tick();
    EXPECT_EQ(t.frames, 0);
    EXPECT_EQ(t.dropped, 0) << "without a session nothing is counted as dropped";
    EXPECT_EQ(t.aSent, 1) << "audio frames count with or without a session";
}

TEST_F(SendPathTest, WithoutARouteEveryPieceCountsAsDroppedAndUsesNoNumber) {
    rec.setTarget(sessions.agent, nullptr);
    const auto sent = path.sendPicture(picture({filled(2500, 3)}, false), {1, true, 8, 8});
    EXPECT_EQ(sent.dropped, 3u);
    EXPECT_EQ(sent.pieces, 0u);
    EXPECT_EQ(agent::Diag::tick().dropped, 3);

    rec.setTarget(sessions.agent, sink.sender());
    path.sendPicture(picture({{1}}, false), {1, true, 8, 8});
    const auto got = openAll(*sessions.client, sink.drain());
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].frame.seq, 0u);
}

TEST_F(SendPathTest, AStereoBufferOf1100ValuesGoesAsThreeAudioFrames) {
    std::vector<int16_t> samples(1100);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<int16_t>(i * 37 - 20000);
    path.sendAudio(samples, 48000, 2);
    const auto got = openAll(*sessions.client, sink.drain());
    ASSERT_EQ(got.size(), 3u);
    std::vector<int16_t> joined;
    const std::size_t sizes[] = {512, 512, 76};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(got[i].frame.header.stream, wex::Stream::audio);
        EXPECT_EQ(got[i].frame.header.msgType, 1);
        EXPECT_EQ(got[i].frame.seq, i);
        const auto frame = wex::AudioFrame::decode(got[i].frame.plaintext);
        EXPECT_EQ(frame.sampleRate, 48000u);
        EXPECT_EQ(frame.channels, 2);
        EXPECT_EQ(frame.pcm.size(), sizes[i]);
        joined.insert(joined.end(), frame.pcm.begin(), frame.pcm.end());
    }
    EXPECT_EQ(joined, samples);
    const auto t = agent::Diag::tick();
    EXPECT_EQ(t.aBuf, 1);
    EXPECT_EQ(t.aSamples, 1100);
    EXPECT_EQ(t.aSent, 3);
}

TEST_F(SendPathTest, SoundGoesInTheFormatTheLinksRateCallsForInWholeFramesAndBackAtFullBudget) {
    EXPECT_EQ(path.audioFormat(), (PcmFormat{48000, 2}));
    path.setAudioFormatFor(1'500'000, 12'000'000);
    EXPECT_EQ(path.audioFormat(), (PcmFormat{16000, 1}));
    EXPECT_EQ(path.audioBitRate(), agent::AudioLinkFormat::bitRate({16000, 1}));
    for (std::size_t b = 0; b < 7; ++b)
        path.sendAudio(toneSamples(440, 0.5, 48000, 2, 256, b * 256), 48000, 2); // 597 samples at 16 kHz
    path.setAudioFormatFor(12'000'000, 12'000'000);
    path.sendAudio(toneSamples(440, 0.5, 48000, 2, 256, 7 * 256), 48000, 2);

    const auto got = openAll(*sessions.client, sink.drain());
    std::vector<std::pair<PcmFormat, std::size_t>> frames;
    double seconds = 0;
    for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].frame.seq, i);
        const auto frame = wex::AudioFrame::decode(got[i].frame.plaintext);
        frames.emplace_back(PcmFormat{frame.sampleRate, frame.channels}, frame.pcm.size());
        seconds += static_cast<double>(frame.pcm.size() / frame.channels) / frame.sampleRate;
    }
    // Two whole frames of 16 kHz mono and the rest of it where 48 kHz stereo begins again; all the sound
    // captured, none of it twice.
    ASSERT_GE(frames.size(), 4u);
    EXPECT_EQ(frames[0], std::make_pair(PcmFormat{16000, 1}, std::size_t{256}));
    EXPECT_EQ(frames[1], std::make_pair(PcmFormat{16000, 1}, std::size_t{256}));
    EXPECT_EQ(frames[2].first, (PcmFormat{16000, 1}));
    for (std::size_t i = 3; i < frames.size(); ++i)
        EXPECT_EQ(frames[i].first, (PcmFormat{48000, 2}));
    EXPECT_NEAR(seconds, 8 * 256 / 48000.0, 2 / 48000.0);
    EXPECT_EQ(agent::Diag::tick().aSent, static_cast<int64_t>(frames.size()));
}

TEST_F(SendPathTest, ARelayClientsFramesGoToTheRelayLinkSealed) {
    rec.setTarget(sessions.agent, nullptr, true);
    path.sendPicture(picture({filled(1500, 9)}, false), {1, true, 8, 8});
    const std::vector<int16_t> samples(512, 1);
    path.sendAudio(samples, 48000, 2);
    EXPECT_TRUE(sink.drain(50ms).empty());
    std::vector<std::pair<wex::Bytes, bool>> relayed;
    {
        const std::lock_guard g(rec.lock);
        relayed = rec.relayed;
    }
    ASSERT_EQ(relayed.size(), 3u);
    EXPECT_TRUE(relayed[0].second);
    EXPECT_TRUE(relayed[1].second);
    EXPECT_FALSE(relayed[2].second);
    const auto got = openAll(*sessions.client, {relayed[0].first, relayed[1].first, relayed[2].first});
    EXPECT_EQ(got[0].frame.header.stream, wex::Stream::video);
    EXPECT_EQ(got[2].frame.header.stream, wex::Stream::audio);
    EXPECT_EQ(got[2].frame.seq, 0u) << "audio counts on its own stream";
    EXPECT_EQ(agent::Diag::tick().frames, 2);
}

TEST_F(SendPathTest, PiecesTheRelayQueueRefusesCountAsDroppedNotSent) {
    rec.setTarget(sessions.agent, nullptr, true);
    rec.relayAccepts = false; // full, or closed with its session
    const auto sent = path.sendPicture(picture({filled(1500, 9)}, false), {1, true, 8, 8});
    EXPECT_EQ(sent.pieces, 0u);
    EXPECT_EQ(sent.bytes, 0u);
    EXPECT_EQ(sent.dropped, 2u);
    const auto t = agent::Diag::tick();
    EXPECT_EQ(t.frames, 0);
    EXPECT_EQ(t.bytes, 0);
    EXPECT_EQ(t.dropped, 2);
}

TEST_F(SendPathTest, AStreamThatRunsOutOfNumbersEndsTheSessionInsteadOfWrapping) {
    wex::SecureSessionTestAccess::skipSeqTo(*sessions.agent, wex::Stream::video, 0xFFFFFFFF);
    path.sendPicture(picture({filled(2500, 5)}, false), {1, true, 8, 8});
    auto got = openAll(*sessions.client, sink.drain());
    ASSERT_EQ(got.size(), 1u) << "only the last number is used; nothing is sealed with a repeated one";
    EXPECT_EQ(got[0].frame.seq, 0xFFFFFFFFu);
    EXPECT_EQ(rec.drops.load(), 1);

    wex::SecureSessionTestAccess::skipSeqTo(*sessions.agent, wex::Stream::audio, 0xFFFFFFFF);
    const std::vector<int16_t> samples(1024, 2);
    path.sendAudio(samples, 48000, 2);
    got = openAll(*sessions.client, sink.drain());
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].frame.seq, 0xFFFFFFFFu);
    EXPECT_EQ(rec.drops.load(), 2);
}

TEST_F(SendPathTest, ANewSessionNumbersItsMediaFromZeroAgain) {
    path.sendPicture(picture({filled(1500, 1)}, false), {1, true, 8, 8});
    path.sendAudio(std::vector<int16_t>(512, 1), 48000, 2);
    ASSERT_EQ(openAll(*sessions.client, sink.drain()).size(), 3u);

    SessionPair next;
    rec.setTarget(next.agent, sink.sender());
    path.sendPicture(picture({{1}}, false), {1, true, 8, 8});
    path.sendAudio(std::vector<int16_t>(512, 1), 48000, 2);
    const auto got = openAll(*next.client, sink.drain());
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].frame.seq, 0u);
    EXPECT_EQ(got[1].frame.seq, 0u);
}

TEST_F(SendPathTest, ThreadsSendingAtOnceNeverRepeatOrReorderASequenceNumber) {
    // Two encoders' output threads (an old one finishing while a new one starts) and the audio thread.
    constexpr int perThread = 150;
    std::vector<std::thread> threads;
    for (uint64_t gen : {1, 2})
        threads.emplace_back([&, gen] {
            for (int i = 0; i < perThread; ++i)
                path.sendPicture(picture({filled(1800, static_cast<uint8_t>(i))}, i % 20 == 0, hevcSets),
                                 {gen, true, 8, 8});
        });
    threads.emplace_back([&] {
        for (int i = 0; i < perThread; ++i)
            path.sendAudio(std::vector<int16_t>(512, static_cast<int16_t>(i)), 48000, 2);
    });
    // Read while they send: the socket's buffer need not hold them all.
    std::vector<wex::Bytes> all;
    std::atomic<bool> sending{true};
    std::thread reader([&] {
        for (;;) {
            if (auto d = sink.receive(200ms))
                all.push_back(std::move(*d));
            else if (!sending)
                break;
        }
    });
    for (auto& t : threads)
        t.join();
    sending = false;
    reader.join();
    ASSERT_EQ(all.size(), static_cast<std::size_t>(2 * perThread * 2 + perThread));
    std::set<uint32_t> video, audio;
    std::optional<uint32_t> lastVideo, lastAudio;
    // A repeated number, or one more than 63 behind, would not open; numbers also arrive in order.
    for (const auto& o : openAll(*sessions.client, all)) {
        const bool isVideo = o.frame.header.stream == wex::Stream::video;
        std::optional<uint32_t>& last = isVideo ? lastVideo : lastAudio;
        EXPECT_TRUE(!last || o.frame.seq > *last) << "sequence " << o.frame.seq << " after " << *last;
        last = o.frame.seq;
        (isVideo ? video : audio).insert(o.frame.seq);
    }
    EXPECT_EQ(video.size(), static_cast<std::size_t>(2 * perThread * 2));
    EXPECT_EQ(*video.rbegin(), 2u * perThread * 2 - 1) << "no gaps: every number from 0 was used once";
    EXPECT_EQ(audio.size(), static_cast<std::size_t>(perThread));
}
