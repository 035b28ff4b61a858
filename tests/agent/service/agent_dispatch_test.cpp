// Control dispatch inside an established session: stream control, keep-alive, session commands,
// unpairing, clipboard and file messages, and wake requests.

#include <gtest/gtest.h>

#include "AgentTestSupport.h"
#include "protocol/ControlMessages.h"
#include "protocol/FileMessages.h"
#include "protocol/Hex.h"
#include "protocol/WakeMessages.h"

using namespace dovrel;
using namespace dovrel::test;
using namespace std::chrono_literals;

namespace {

// A paired controller with an established session against an agent with a fake pipeline.
struct Session {
    TestController c;
    AgentHarness h{pairedWith(c, true)};
    Session() {
        EXPECT_TRUE(h.connect(c));
        EXPECT_TRUE(c.authenticateWithKey());
        EXPECT_TRUE(h.log.waitFor("• AUTH OK"));
    }
    void send(wex::ControlType type, const wex::Bytes& payload = {}) { ASSERT_TRUE(c.sendSealed(type, payload)); }
    // Round trip through "dovrel.net": everything sent before has been dispatched.
    void sync() {
        send(wex::ControlType::ping, wex::Ping{999, 0}.encode());
        ASSERT_TRUE(c.receiveType(wex::ControlType::pong));
    }
    wex::WakePeerAck wake(const wex::WakePeerRequest& r) {
        EXPECT_TRUE(c.sendSealed(wex::ControlType::wakePeer, r.encode()));
        const auto f = c.receiveType(wex::ControlType::wakePeerAck);
        EXPECT_TRUE(f);
        return f ? wex::WakePeerAck::decode(f->payload) : wex::WakePeerAck{};
    }
};

wex::WakePeerRequest wakeFor(uint32_t ipv4, uint16_t reqId = 3) {
    wex::WakePeerRequest r;
    r.reqId = reqId;
    r.mac = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
    r.ipv4 = ipv4;
    r.name = "Den PC";
    return r;
}

} // namespace

TEST(AgentDispatch, PingIsAnsweredWithTheSameIdAndClientClock) {
    Session s;
    s.send(wex::ControlType::ping, wex::Ping{321, 0x0102030405060708ULL}.encode());
    const auto pong = s.c.receiveType(wex::ControlType::pong);
    ASSERT_TRUE(pong);
    ASSERT_TRUE(pong->sealed);
    const auto p = wex::Pong::decode(pong->payload);
    EXPECT_EQ(p.reqId, 321);
    EXPECT_EQ(p.clientTsUs, 0x0102030405060708ULL);
    EXPECT_GT(p.agentTsUs, 0u);
    // A ping too short for its fields is dropped without a word.
    s.send(wex::ControlType::ping, wex::Bytes{0, 1, 2});
    EXPECT_TRUE(s.c.quietFor(50ms));
}

TEST(AgentDispatch, StreamControlStopsOnceResumesAndAsksForAKeyframe) {
    Session s;
    ASSERT_TRUE(s.h.agent->streaming());
    s.send(wex::ControlType::streamStop);
    s.send(wex::ControlType::pause);
    s.sync();
    EXPECT_FALSE(s.h.agent->streaming());
    EXPECT_EQ(s.h.log.count("• client asked to stop the stream"), 1u);

    const std::size_t keyframes = s.h.rec->count("keyframe");
    s.send(wex::ControlType::resume);
    s.send(wex::ControlType::resume);
    s.sync();
    EXPECT_TRUE(s.h.agent->streaming());
    EXPECT_EQ(s.h.log.count("• client asked for the stream back"), 1u);
    EXPECT_EQ(s.h.rec->count("keyframe"), keyframes + 2);

    // A keyframe request says pictures were lost: the pipeline repairs them its own way.
    s.send(wex::ControlType::keyframeRequest, wex::KeyframeRequest{1, 0}.encode());
    s.send(wex::ControlType::streamStart, wex::StreamStart{2, 3}.encode());
    s.sync();
    EXPECT_EQ(s.h.rec->count("repair"), 1u);
    EXPECT_EQ(s.h.rec->count("keyframe"), keyframes + 2);
    EXPECT_TRUE(s.h.rec->has("display:3"));

    // Resuming while resting leaves rest mode first.
    {
        const std::lock_guard g(s.h.rec->lock);
        s.h.rec->resting = true;
    }
    const std::size_t before = s.h.rec->count("keyframe");
    s.send(wex::ControlType::resume);
    s.sync();
    EXPECT_TRUE(s.h.rec->has("rest:off"));
    EXPECT_TRUE(s.h.log.has("• session starting — leaving rest so the display can be captured"));
    // The display gets its moment without holding up "dovrel.net": the keyframe follows 0.4 s later.
    EXPECT_EQ(s.h.rec->count("keyframe"), before);
    s.h.advance(399ms);
    EXPECT_EQ(s.h.rec->count("keyframe"), before);
    s.h.advance(1ms);
    EXPECT_EQ(s.h.rec->count("keyframe"), before + 1);
}

TEST(AgentDispatch, SessionCommandsReachTheDesktopAndRestMode) {
    Session s;
    s.send(wex::ControlType::sessionCommand, wex::SessionCommand(1, wex::SessionCmd::ctrlAltDel, 0).encode());
    s.send(wex::ControlType::sessionCommand, wex::SessionCommand(2, wex::SessionCmd::signOut, 0).encode());
    s.send(wex::ControlType::sessionCommand, wex::SessionCommand(3, wex::SessionCmd::lockWorkstation, 0).encode());
    s.send(wex::ControlType::sessionCommand, wex::SessionCommand(4, wex::SessionCmd::showLaunchpad, 0).encode());
    s.send(wex::ControlType::sessionCommand, wex::SessionCommand(5, wex::SessionCmd::restOn, 0).encode());
    s.send(wex::ControlType::sessionCommand, wex::SessionCommand(6, wex::SessionCmd::restOff, 0).encode());
    s.send(wex::ControlType::sessionCommand, wex::SessionCommand(7, uint8_t{7}, 0).encode());
    s.sync();
    EXPECT_TRUE(s.h.log.has("• session command ctrlAltDel has no equivalent on this desktop — ignored"));
    EXPECT_TRUE(s.h.log.has("• session command signOut has no equivalent on this desktop — ignored"));
    EXPECT_EQ(s.h.rec->count("desktop.lock"), 1u);
    EXPECT_EQ(s.h.rec->count("desktop.launcher"), 1u);
    EXPECT_EQ(s.h.rec->count("rest:on"), 1u);
    EXPECT_EQ(s.h.rec->count("rest:off"), 1u);

    // A lock that did not happen is told to the controller that asked, under its request's id.
    agent::DesktopSession::NotLocked notLocked;
    {
        const std::lock_guard g(s.h.rec->lock);
        notLocked = s.h.rec->notLocked;
    }
    ASSERT_TRUE(notLocked);
    notLocked("The screen wasn't locked — no screen locker is running on that computer.");
    const auto error = s.c.receiveType(wex::ControlType::error);
    ASSERT_TRUE(error);
    EXPECT_EQ(wex::ErrorMsg::decode(error->payload),
              wex::ErrorMsg(3, wex::ErrCode::unsupported,
                            "The screen wasn't locked — no screen locker is running on that computer."));
    // A late answer never reaches the controller of a later session.
    s.c.close();
    ASSERT_TRUE(s.h.log.waitFor("• control connection closed — client gone"));
    ASSERT_TRUE(s.h.connect(s.c));
    ASSERT_TRUE(s.c.authenticateWithKey());
    notLocked("late");
    s.h.settle();
    EXPECT_TRUE(s.c.quietFor(100ms));
}

TEST(AgentDispatch, HeldInputIsLetGoOfWhenTheControllerGoesQuietAndWhenRestEnds) {
    Session s;
    // The controller pings every second: three seconds without a word is a quiet link, told once.
    s.h.advance(2500ms);
    EXPECT_EQ(s.h.rec->count("releaseHeld"), 0u);
    s.h.advance(1s);
    EXPECT_EQ(s.h.rec->count("releaseHeld"), 1u);
    s.h.advance(5s);
    EXPECT_EQ(s.h.rec->count("releaseHeld"), 1u);
    s.sync();
    s.h.advance(3500ms);
    EXPECT_EQ(s.h.rec->count("releaseHeld"), 2u);

    s.send(wex::ControlType::sessionCommand, wex::SessionCommand(1, wex::SessionCmd::restOn, 0).encode());
    s.send(wex::ControlType::sessionCommand, wex::SessionCommand(2, wex::SessionCmd::restOff, 0).encode());
    s.sync();
    s.h.settle();
    EXPECT_EQ(s.h.rec->count("releaseHeld"), 3u);
}

TEST(AgentDispatch, ClipboardAndFileMessagesReachTheirServices) {
    Session s;
    s.send(wex::ControlType::clipboard, wex::Clipboard(1, "from the controller").encode());
    s.send(wex::ControlType::fileOffer, wex::FileOffer{1, 9, 100, "notes.txt"}.encode());
    s.send(wex::ControlType::fileChunk, wex::FileChunk{1, 9, 64, wex::Bytes(36, 1)}.encode());
    wex::FileEnd end;
    end.transferId = 9;
    end.ok = 7; // any non-zero byte is success
    s.send(wex::ControlType::fileEnd, end.encode());
    s.send(wex::ControlType::clipFilesOffer, wex::ClipFilesOffer{1, 4, {{"a.png", 10}, {"b.png", 20}}}.encode());
    s.send(wex::ControlType::clipFilePull, wex::ClipFilePull{1, 4, 1}.encode());
    s.send(wex::ControlType::clipFileData, wex::ClipFileData(1, 4, 0, 512, true, wex::Bytes(3, 2)).encode());
    s.sync();
    EXPECT_TRUE(s.h.rec->has("clipboard.remote:from the controller"));
    EXPECT_TRUE(s.h.rec->has("file.offer:notes.txt"));
    EXPECT_TRUE(s.h.rec->has("file.chunk:64"));
    EXPECT_TRUE(s.h.rec->has("file.end:1"));
    EXPECT_TRUE(s.h.rec->has("clipfiles.offer:4:2"));
    EXPECT_TRUE(s.h.rec->has("clipfiles.pull:4:1"));
    EXPECT_TRUE(s.h.rec->has("clipfiles.data:4:0:512:last"));

    // Local clipboard text goes to the controller, sealed.
    dovrel::agent::ClipboardSync::SendText send;
    {
        const std::lock_guard g(s.h.rec->lock);
        send = s.h.rec->clipboardSend;
    }
    ASSERT_TRUE(send);
    s.h.agent->transport().queue().post([send] { send("from the agent"); });
    const auto clip = s.c.receiveType(wex::ControlType::clipboard);
    ASSERT_TRUE(clip);
    EXPECT_TRUE(clip->sealed);
    EXPECT_EQ(wex::Clipboard::decode(clip->payload).text(), "from the agent");
}

TEST(AgentDispatch, UnpairRevokesTheKeyAndDropsTheClient) {
    Session s;
    s.send(wex::ControlType::unpair);
    EXPECT_TRUE(s.c.closedByAgent());
    EXPECT_TRUE(s.h.log.has("• UNPAIR from " + wex::hexed(wex::ByteView(s.c.publicKey()).first(8)) +
                            "… — key revoked (0 paired device(s) left)"));
    EXPECT_TRUE(s.h.pairedFile().empty());

    // Its key alone is no longer enough.
    ASSERT_TRUE(s.h.connect(s.c));
    s.c.sendHello();
    ASSERT_TRUE(s.c.awaitHelloAck());
    s.c.sendAuthWithKey();
    ASSERT_TRUE(s.h.log.waitFor("• AUTH REJECTED (notPaired)"));
    s.h.advance(250ms);
    const auto r = s.c.awaitAuthResult();
    ASSERT_TRUE(r && r->fail);
    EXPECT_EQ(r->fail->reason, wex::AuthFailReason::notPaired);
    s.h.advance(200ms);
    ASSERT_TRUE(s.c.closedByAgent());

    // Paired again by code, then unpaired in two sessions: the second finds nothing to revoke.
    ASSERT_TRUE(s.h.connect(s.c));
    ASSERT_TRUE(s.c.authenticateWithCode(s.h.code()));
    s.send(wex::ControlType::unpair);
    ASSERT_TRUE(s.c.closedByAgent());
    EXPECT_EQ(s.h.log.count("— key revoked (0 paired device(s) left)"), 2u);
}

TEST(AgentDispatch, UnpairRemovesOnlyTheAskingKey) {
    TestController first;
    TestController second;
    AgentHarness::Options o;
    o.paired = {first.publicKey(), second.publicKey()};
    AgentHarness h(o);
    ASSERT_TRUE(h.connect(first));
    ASSERT_TRUE(first.authenticateWithKey());
    ASSERT_TRUE(first.sendSealed(wex::ControlType::unpair, {}));
    ASSERT_TRUE(first.closedByAgent());
    EXPECT_TRUE(h.log.has("— key revoked (1 paired device(s) left)"));
    ASSERT_TRUE(h.connect(first));
    first.sendHello();
    ASSERT_TRUE(first.awaitHelloAck());
    first.sendAuthWithKey();
    ASSERT_TRUE(h.log.waitFor("(notPaired)"));
    h.advance(450ms);
    ASSERT_TRUE(first.closedByAgent());
    EXPECT_EQ(h.pairedFile(), second.publicKey());

    ASSERT_TRUE(h.connect(second));
    EXPECT_TRUE(second.authenticateWithKey());
}

TEST(AgentDispatch, WakeRequestsAreCheckedThrottledRoutedAndAnsweredHonestly) {
    Session s;
    // An all-zero hardware address is refused before the budget is touched.
    auto zero = wakeFor(0x0A4D0009, 1);
    zero.mac = {};
    auto ack = s.wake(zero);
    EXPECT_EQ(ack.reqId, 1);
    EXPECT_EQ(ack.statusCase(), wex::WakePeerAck::Status::badRequest);
    EXPECT_EQ(ack.detail, "That machine has no usable hardware address.");
    EXPECT_TRUE(s.h.log.has("• WAKE_PEER for Den PC — refused, no usable hardware address"));

    // Not on any of this computer's networks.
    ack = s.wake(wakeFor(0xCB007105, 2)); // 203.0.113.5
    EXPECT_EQ(ack.statusCase(), wex::WakePeerAck::Status::noRoute);
    EXPECT_EQ(ack.interfaces, 0);
    EXPECT_EQ(ack.detail, "Test Box isn't on that machine's network.");
    EXPECT_TRUE(
        s.h.log.has("• WAKE_PEER for Den PC — nothing on 203.0.113.5's network; this computer cannot reach it"));

    // Within 2 s of the last granted one: throttled.
    ack = s.wake(wakeFor(0x0A4D0009, 3));
    EXPECT_EQ(ack.statusCase(), wex::WakePeerAck::Status::throttled);
    EXPECT_EQ(ack.detail, "Too many wake attempts — wait a moment.");

    // On the network, but no packet went out: said so, never reported as sent.
    s.h.advance(2s);
    ack = s.wake(wakeFor(0x0A4D0009, 4));
    EXPECT_EQ(ack.statusCase(), wex::WakePeerAck::Status::sendFailed);
    EXPECT_EQ(ack.detail, "Couldn't put the wake signal on the network.");
    EXPECT_TRUE(s.h.rec->has("wake.send:00:11:22:33:44:55@eth-test"));
    EXPECT_TRUE(s.h.log.has("• WAKE_PEER for Den PC — sockets refused on eth-test"));

    {
        const std::lock_guard g(s.h.rec->lock);
        s.h.rec->wakeSentOn = {"eth-test"};
    }
    s.h.advance(2s);
    auto unnamed = wakeFor(0x0A4D0009, 5);
    unnamed.name.clear();
    ack = s.wake(unnamed);
    EXPECT_EQ(ack.statusCase(), wex::WakePeerAck::Status::sent);
    EXPECT_EQ(ack.interfaces, 1);
    EXPECT_EQ(ack.detail, "Sent from Test Box via eth-test.");
    EXPECT_TRUE(s.h.log.has("• WAKE_PEER for 00:11:22:33:44:55 — magic packet sent on eth-test"));

    // A payload that does not decode gets the one error message the agent sends.
    s.send(wex::ControlType::wakePeer, wex::Bytes{0, 9, 1});
    const auto err = s.c.receiveType(wex::ControlType::error);
    ASSERT_TRUE(err);
    const auto e = wex::ErrorMsg::decode(err->payload);
    EXPECT_EQ(e.reqId, 0);
    EXPECT_EQ(e.code, 3);
    EXPECT_EQ(e.message, "Malformed wake request.");
}

TEST(AgentDispatch, AByeLeavesTheSessionRunning) {
    Session s;
    s.send(wex::ControlType::bye);
    s.sync();
    EXPECT_TRUE(s.h.agent->streaming());
    EXPECT_NE(s.h.agent->transport().sendTarget(), nullptr);
}

TEST(AgentDispatch, DisconnectFromTheWindowDropsTheClient) {
    Session s;
    s.h.model.disconnectSession();
    EXPECT_TRUE(s.c.closedByAgent());
    EXPECT_TRUE(s.h.log.has("• session disconnected from this computer"));
    EXPECT_TRUE(waitUntil([&] { return s.h.model.statusText() == "Waiting for your device to pair…"; }));
}
