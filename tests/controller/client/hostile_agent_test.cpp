// The client against an agent that means harm: what it sends inside a session changes nothing it
// should not, costs bounded memory and log, and leaves the session usable.
#include <algorithm>
#include <fstream>

#include <malloc.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "ClipboardFakes.h"
#include "HostileSession.h"
#include "StreamCapture.h"
#include "controller/client/files/ClipboardFileHost.h"
#include "controller/client/session/ClipboardBinding.h"
#include "controller/platform/ClientLog.h"
#include "protocol/ControlMessages.h"

using namespace dovrel::controller;
using namespace dovrel::controller::test;
using dovrel::test::HostileAgent;

namespace {
// Memory held from the allocator, and resident, in MiB.
int64_t allocatedMiB() {
    const struct mallinfo2 m = ::mallinfo2();
    return static_cast<int64_t>((m.uordblks + m.hblkhd) >> 20);
}
int64_t residentMiB() {
    int64_t pages = 0, resident = 0;
    std::ifstream("/proc/self/statm") >> pages >> resident;
    return resident * ::sysconf(_SC_PAGESIZE) / (1 << 20);
}
} // namespace

TEST_F(HostileSession, HandshakeMessagesInsideTheSessionChangeNothing) {
    connect();
    const auto trusted = client().security().trustedAgent(agent.deviceId());
    const std::size_t auths = agent.auths.size();
    // A second handshake from another identity, then a refusal, sealed as only the session's agent can.
    agent.sendSealed(wex::ControlType::helloAck, hostile.foreignHelloAck().encode());
    agent.sendSealed(wex::ControlType::authOk, wex::AuthOk{}.encode());
    agent.sendSealed(wex::ControlType::authFail, wex::AuthFail{0, wex::AuthFailReason::badProof, "Reset."}.encode());
    wex::DisplayList list; // handled in order: once it shows, the three before it were seen
    list.displays.resize(1);
    agent.sendSealed(wex::ControlType::displayList, list.encode());
    ASSERT_TRUE(waitUntil([&] { return client().displays().size() == 1; }));

    EXPECT_EQ(agent.auths.size(), auths);
    EXPECT_TRUE(agent.plainInSession.empty());
    EXPECT_TRUE(std::none_of(agent.sealedReceived.begin(), agent.sealedReceived.end(),
                             [](const auto& m) { return m.type == static_cast<uint8_t>(wex::ControlType::auth); }));
    EXPECT_EQ(client().security().trustedAgent(agent.deviceId()), trusted);
    EXPECT_EQ(client().agentDeviceId().toStdString(), agent.deviceId());
    EXPECT_EQ(client().phaseKind(), PhaseKind::connected);
}

TEST_F(HostileSession, APictureLargerThanAnyDisplayIsRefusedBeforeItCostsMemory) {
    connect();
    const int64_t before = residentMiB();
    // One valid 16000 x 16000 picture of about 1 MB, three times: decoded, it would take gigabytes.
    const auto bomb = dovrel::test::TinyH264::keyframe(16000, 16000);
    for (uint32_t id = 1; id <= 3; ++id)
        hostile.sendVideo(id, HostileAgent::picture(id, 16000, 16000, bomb, true));
    hostile.flushPace();
    ASSERT_TRUE(waitUntil([&] { return !client().pictureRefusal().isEmpty(); }));
    EXPECT_NE(client().pictureRefusal().indexOf("16000 × 16000"), -1) << client().pictureRefusal().toStdString();
    EXPECT_FALSE(client().hasFirstFrame());
    EXPECT_LT(residentMiB() - before, 200);
    // A stream of an ordinary size that follows is shown, and the refusal goes.
    sendStream(4, 5);
    EXPECT_TRUE(waitUntil([&] { return client().hasFirstFrame() && client().pictureRefusal().isEmpty(); }));
}

TEST_F(HostileSession, ABurstOfStateMessagesCostsTheBusyWindowOnlyTheNewestOfEach) {
    connect();
    WEXClient& c = client();
    int updates = 0;
    for (auto signal : {&WEXClient::displaysChanged, &WEXClient::deckStatChanged, &WEXClient::lastAgentErrorChanged})
        QObject::connect(&c, signal, [&] { ++updates; });
    QObject::connect(&c, &WEXClient::remoteClipboardText, [&](const std::string&) { ++updates; });

    // A thousand each of display lists of about 55 KB, clipboard texts of 60 KB, figures and errors.
    const int64_t before = allocatedMiB();
    std::vector<HostileAgent::Message> burst;
    wex::DisplayList list;
    for (uint8_t i = 0; i < 200; ++i)
        list.displays.push_back({i, 1920, 1080, 0, 0, {}, std::string(270, 'd')});
    for (int i = 0; i < 1000; ++i) {
        list.displays[0].width = static_cast<uint16_t>(1000 + i);
        burst.push_back({wex::ControlType::displayList, list.encode()});
        burst.push_back({wex::ControlType::clipboard, wex::Clipboard(0, std::string(60000, 'a')).encode()});
        burst.push_back({wex::ControlType::deckStat, {0, 0, static_cast<uint8_t>(i % 100), 1, 2, 3}});
        burst.push_back({wex::ControlType::error, wex::ErrorMsg(0, 1, "error " + std::to_string(i)).encode()});
    }
    const int64_t base = received();
    const int64_t sent = hostile.flood(burst);
    burst = {};
    // All read and handled by the client while the window looked at nothing: little waits for it.
    ASSERT_TRUE(waitUntilNoEvents([&] { return received() - base >= sent; }));
    EXPECT_LT(allocatedMiB() - before, 24);

    ASSERT_TRUE(waitUntil([&] { return c.lastAgentError() == "error 999"; }));
    EXPECT_EQ(c.displays()[0].width, 1999);
    EXPECT_EQ(c.deckStat()->cpu, 99);
    EXPECT_LE(updates, 8);
}

TEST_F(HostileSession, AFloodOfMessagesWritesAFewLogLinesASecond) {
    connect();
    WEXClient& c = client();
    FakeClipboard clipboard;
    FileTransfers transfers(c, c, *f.fake);
    dovrel::test::TempDir dir;
    ReceiveFolder folder(dir.file("received"), 0);
    auto host = std::make_shared<ClipboardFileHost>(clipboard, c, transfers, folder, c, *f.fake);
    QObject context;
    connectClipFileHost(c, &context, host);
    host->start();
    host->onRemoteOffer(1, {{"a.txt", 4}});

    StreamCapture err(2);
    // Errors, offers over the limits and pieces outside their file, each with its own hop to the window.
    wex::ClipFilesOffer tooMany;
    tooMany.files = std::vector<wex::ClipFileEntry>(65, {"f", 1});
    for (int i = 0; i < 2000; ++i) {
        agent.sendSealed(wex::ControlType::error, wex::ErrorMsg(0, 1, "error " + std::to_string(i)).encode());
        tooMany.generation = static_cast<uint32_t>(100 + i);
        agent.sendSealed(wex::ControlType::clipFilesOffer, tooMany.encode());
        agent.sendSealed(wex::ControlType::clipFileData, wex::ClipFileData(0, 1, 0, 9000, false, {1}).encode());
        if (i % 100 == 99) waitUntil([&] { return c.status() == QString("error %1").arg(i); });
    }
    ASSERT_TRUE(waitUntil([&] { return c.status() == "error 1999"; }));
    const std::string log = err.text();
    EXPECT_LT(std::count(log.begin(), log.end(), '\n'), 40) << log;
}

TEST(LogBudget, AMinuteTakesItsShareAndTheNextSaysWhatWasLeftOut) {
    LogBudget budget;
    const dovrel::Instant start{std::chrono::hours(1)};
    std::string note;
    int refused = 0;
    for (int i = 0; i < 10000; ++i)
        refused += budget.admit(100, start + std::chrono::milliseconds(i), note) ? 0 : 1;
    EXPECT_EQ(refused, 10000 - static_cast<int>(LogBudget::bytesPerMinute / 100));
    ASSERT_TRUE(budget.admit(100, start + std::chrono::minutes(1), note));
    EXPECT_NE(note.find(std::to_string(refused)), std::string::npos) << note;
}

TEST_F(HostileSession, VideoIdentifiersInAnyOrderNeverWedgeThePicture) {
    const auto descending = [](uint32_t from) {
        std::vector<uint32_t> ids(25);
        for (uint32_t i = 0; i < 25; ++i)
            ids[i] = from - i;
        return ids;
    };
    struct Case {
        const char* name;
        std::vector<uint32_t> junk;
        int pieces; // of each junk frame, that come
        uint32_t streamFrom;
    } const cases[] = {
        {"first pieces descending to the stream's first", descending(25), 1, 1},
        {"first pieces descending from above the stream", descending(1000), 1, 1},
        {"first pieces descending from the top", descending(0xFFFFFFFF), 1, 1},
        {"first pieces descending into the stream", descending(40), 1, 20},
        {"whole frames above the stream", descending(300), -1, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        connect();
        const uint64_t shownBefore = surface->generation();
        for (const uint32_t id : c.junk)
            hostile.sendVideo(
                id, HostileAgent::picture(id, 64, 64, {wex::Bytes(c.pieces < 0 ? 200 : 2500, 0x41)}, false), c.pieces);
        // A stream with a single keyframe, at its start: nothing may keep that keyframe out.
        sendStream(c.streamFrom, 40);
        EXPECT_TRUE(waitUntil([&] { return client().hasFirstFrame(); }));
        EXPECT_GE(surface->generation() - shownBefore, 39u);
        client().disconnectSession();
        ASSERT_TRUE(waitUntil([&] { return !agent.inSession() && !client().hasFirstFrame(); }));
    }
}

TEST_F(HostileSession, ARefusalDuringARedialIsShownNotHiddenBehindReconnecting) {
    agent.answerPings = false; // the link goes quiet: the client dials again
    agent.refuseWhileInSession = false;
    connect();
    agent.authReply = dovrel::test::TestAgent::AuthReply::fail;
    agent.failMessage = "This controller is not welcome any more.";
    ASSERT_TRUE(waitUntil([&] {
        f.advance(500ms, 500ms);
        return client().phaseKind() == PhaseKind::rejected;
    }));
    EXPECT_EQ(f.message(), agent.failMessage);
    EXPECT_FALSE(client().reconnecting());
}
