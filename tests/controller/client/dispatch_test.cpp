// The agent's control messages of an established session and what each does to the client's
// published state, through the scripted agent on loopback.
#include <gtest/gtest.h>

#include "SessionFixture.h"
#include "StreamCapture.h"
#include "controller/client/files/ClipFileHost.h"
#include "controller/client/session/ClientTexts.h"
#include "controller/client/session/ClipboardBinding.h"
#include "protocol/ByteWriter.h"
#include "protocol/ControlMessages.h"
#include "protocol/FileMessages.h"
#include "protocol/WakeMessages.h"

using namespace dovrel::controller;
using namespace dovrel::controller::test;

namespace {

wex::DisplayInfo display(uint8_t id, bool streaming) {
    wex::DisplayInfo d;
    d.displayId = id;
    d.width = 1920;
    d.height = 1080;
    d.name = "Screen " + std::to_string(id);
    if (streaming) d.flags.insert(wex::DisplayFlag::streaming);
    return d;
}

struct RecordingHost final : ClipFileHost {
    std::vector<std::string> calls;
    void onRemoteOffer(uint32_t gen, const std::vector<wex::ClipFileEntry>& files) override {
        calls.push_back("offer " + std::to_string(gen) + " " + std::to_string(files.size()));
    }
    void onPull(uint32_t gen, uint8_t index) override {
        calls.push_back("pull " + std::to_string(gen) + " " + std::to_string(index));
    }
    void onData(uint32_t gen, uint8_t index, uint64_t offset, const wex::Bytes& data, bool last) override {
        calls.push_back("data " + std::to_string(gen) + " " + std::to_string(index) + " " + std::to_string(offset) +
                        " " + std::to_string(data.size()) + (last ? " last" : ""));
    }
};

using DispatchFixture = SessionFixture;

} // namespace

TEST_F(DispatchFixture, ADisplayListPublishesTheListAndThePositionOfTheStreamingDisplay) {
    connect();
    WEXClient& c = client();
    struct Case {
        std::vector<bool> streaming;
        int position;
    };
    for (const Case& k : std::vector<Case>{{{false, false, true}, 2}, {{false, false}, 0}, {{true, true}, 0}}) {
        wex::DisplayList list;
        for (std::size_t i = 0; i < k.streaming.size(); ++i)
            list.displays.push_back(display(static_cast<uint8_t>(10 + i), k.streaming[i]));
        agent.sendSealed(wex::ControlType::displayList, list.encode());
        ASSERT_TRUE(waitUntil([&] { return c.displays() == list.displays; }));
        EXPECT_EQ(c.streamingDisplay(), k.position);
    }
    // A list that does not decode changes nothing.
    const auto before = c.displays();
    agent.sendSealed(wex::ControlType::displayList, wex::Bytes{0, 1, 5});
    settle();
    EXPECT_EQ(c.displays(), before);
}

TEST_F(DispatchFixture, DeckStatIsPublishedAsSentAndAShortOneIsDropped) {
    connect();
    WEXClient& c = client();
    agent.sendSealed(wex::ControlType::deckStat, wex::Bytes{0, 7, 55, 40, 0xFF, 3});
    ASSERT_TRUE(waitUntil([&] { return c.deckStat().has_value(); }));
    EXPECT_EQ(c.deckStat()->cpu, 55);
    EXPECT_EQ(c.deckStat()->ram, 40);
    EXPECT_EQ(c.deckStat()->battery, -1);
    EXPECT_EQ(c.deckStat()->flags, 3);
    agent.sendSealed(wex::ControlType::deckStat, wex::Bytes{0, 7, 99, 99, 50});
    settle();
    EXPECT_EQ(c.deckStat()->cpu, 55);
}

TEST_F(DispatchFixture, AnAgentErrorBecomesTheStatusAndTheLastErrorAndReachesTheCallback) {
    std::vector<wex::ErrorMsg> seen;
    connect();
    WEXClient& c = client();
    QObject::connect(&c, &WEXClient::agentErrorReceived, [&](const wex::ErrorMsg& m) { seen.push_back(m); });

    agent.sendSealed(wex::ControlType::error,
                     wex::ErrorMsg(4, wex::ErrCode::disabled, "File transfer is off.").encode());
    ASSERT_TRUE(waitUntil([&] { return c.lastAgentError().has_value(); }));
    EXPECT_EQ(*c.lastAgentError(), "File transfer is off.");
    EXPECT_EQ(f.status(), "File transfer is off.");
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].code, static_cast<uint8_t>(wex::ErrCode::disabled));

    // Without a message the code's sentence; unreadable, the fixed text and no callback.
    const std::string sentence = wex::ErrorMsg(0, wex::ErrCode::refused, "").humanReason();
    agent.sendSealed(wex::ControlType::error, wex::ErrorMsg(5, wex::ErrCode::refused, "").encode());
    ASSERT_TRUE(waitUntil([&] { return c.lastAgentError() == sentence; }));
    agent.sendSealed(wex::ControlType::error, wex::Bytes{0});
    ASSERT_TRUE(waitUntil([&] { return c.lastAgentError() == std::string(texts::agentRefused); }));
    EXPECT_EQ(f.status(), "That machine refused it.");
    EXPECT_EQ(seen.size(), 2u);
}

TEST_F(DispatchFixture, ByeEndsTheSessionForGoodWithItsReasonsText) {
    struct Case {
        wex::Bytes payload;
        std::string text;
    };
    const std::vector<Case> cases = {
        {{0, 1}, "That machine ended the session."},    {{0, 1, 1}, "Another of your devices took over this session."},
        {{0, 1, 2}, "That machine is shutting down."},  {{0, 1, 3}, "The session was released after being idle."},
        {{0, 1, 4}, "That machine ended the session."},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.text);
        connect();
        const int connections = agent.connectionsAccepted;
        agent.sendSealed(wex::ControlType::bye, k.payload);
        ASSERT_TRUE(f.waitPhase(PhaseKind::rejected));
        EXPECT_EQ(f.message(), k.text);
        ASSERT_TRUE(waitUntil([&] { return f.status() == "session ended"; }));
        EXPECT_FALSE(client().reconnecting());
        EXPECT_EQ(client().fps(), 0);
        bool session = true;
        client().runOnClientThread([&](ClientCore& core) { session = core.hasSession(); });
        EXPECT_FALSE(session);
        // No re-dial, however long.
        advance(8s, 1s);
        EXPECT_EQ(agent.connectionsAccepted, connections);
        EXPECT_EQ(f.phase(), PhaseKind::rejected);
        agent.dropClient();
    }
}

TEST_F(DispatchFixture, ClipboardFileMessagesGoToTheLiveHostOnly) {
    connect();
    WEXClient& c = client();
    auto host = std::make_shared<RecordingHost>();
    QObject context;
    connectClipFileHost(c, &context, host);

    wex::ClipFilesOffer offer;
    offer.generation = 9;
    offer.files = {{"a.txt", 3}, {"b.png", 70000}};
    agent.sendSealed(wex::ControlType::clipFilesOffer, offer.encode());
    agent.sendSealed(wex::ControlType::clipFilePull, wex::ClipFilePull{0, 9, 1}.encode());
    agent.sendSealed(wex::ControlType::clipFileData,
                     wex::ClipFileData(0, 9, 0, 4096, true, wex::Bytes(10, 1)).encode());
    // Too short to read: dropped.
    agent.sendSealed(wex::ControlType::clipFilePull, wex::Bytes{0, 0, 0, 9});
    agent.sendSealed(wex::ControlType::clipFileData, wex::Bytes{0, 0, 0});
    ASSERT_TRUE(waitUntil([&] { return host->calls.size() >= 3; }));
    settle();
    EXPECT_EQ(host->calls, (std::vector<std::string>{"offer 9 2", "pull 9 1", "data 9 0 4096 10 last"}));

    std::weak_ptr<RecordingHost> gone = host;
    host.reset();
    agent.sendSealed(wex::ControlType::clipFilePull, wex::ClipFilePull{0, 9, 0}.encode());
    settle();
    EXPECT_TRUE(gone.expired());
}

TEST_F(DispatchFixture, ClipboardTextLosesControlAndDirectionOverridesOnTheWayIn) {
    using namespace std::string_view_literals;
    connect();
    std::vector<std::string> texts;
    QObject::connect(&client(), &WEXClient::remoteClipboardText, [&](const std::string& t) { texts.push_back(t); });
    agent.sendSealed(wex::ControlType::clipboard,
                     wex::Clipboard(0, "rm\x1b[2J -rf\0 x\u202Etxt.exe\u2067\r\n\tok\u200F\xc2\x9b"sv).encode());
    ASSERT_TRUE(waitUntil([&] { return texts.size() == 1; }));
    EXPECT_EQ(texts[0], "rm[2J -rf xtxt.exe\r\n\tok\u200F");
    // Nothing is left of the second: not applied at all. The window takes only the newest text of a
    // burst, so a display list sent after it marks when it would have been handed on.
    agent.sendSealed(wex::ControlType::clipboard, wex::Clipboard(0, std::string_view("\x1b\x07")).encode());
    wex::DisplayList list;
    list.displays.push_back(display(1, true));
    agent.sendSealed(wex::ControlType::displayList, list.encode());
    ASSERT_TRUE(waitUntil([&] { return client().displays() == list.displays; }));
    agent.sendSealed(wex::ControlType::clipboard, wex::Clipboard(0, std::string_view("next")).encode());
    ASSERT_TRUE(waitUntil([&] { return texts.size() >= 2; }));
    EXPECT_EQ(texts, (std::vector<std::string>{"rm[2J -rf xtxt.exe\r\n\tok\u200F", "next"}));
}

TEST_F(DispatchFixture, AWakeAcknowledgementNobodyAskedForIsDroppedUnlogged) {
    connect();
    StreamCapture err(2);
    wex::WakePeerAck ack;
    ack.status = 3;
    agent.sendSealed(wex::ControlType::wakePeerAck, ack.encode());
    agent.sendSealed(wex::ControlType::wakePeerAck, wex::Bytes{0, 1, 9});
    const QString status = client().status();
    wex::DisplayList list;
    list.displays.push_back(display(1, true));
    agent.sendSealed(wex::ControlType::displayList, list.encode());
    ASSERT_TRUE(waitUntil([&] { return client().displays() == list.displays; }));
    EXPECT_EQ(err.text().find("WakePeerAck"), std::string::npos) << err.text();
    EXPECT_EQ(client().status(), status);
}

TEST_F(DispatchFixture, UnknownAndUnlistedTypesChangeNothingButReachTheSessionTap) {
    std::vector<int> tapped;
    std::mutex lock;
    f.config.sessionControl = [&](uint8_t type, const wex::Bytes&) {
        const std::lock_guard g(lock);
        tapped.push_back(type);
    };
    connect();
    const QString status = client().status();
    agent.sendSealed(wex::ControlType::hello, wex::Bytes{1, 2, 3});
    agent.sendSealed(wex::ControlType::streamStart, wex::Bytes{0, 0, 1});
    agent.sendSealed(wex::ControlType::clipboard, wex::Clipboard(0, std::string_view("hi")).encode());
    ASSERT_TRUE(waitUntil([&] {
        const std::lock_guard g(lock);
        return tapped.size() >= 3;
    }));
    EXPECT_EQ(client().status(), status);
    EXPECT_EQ(f.phase(), PhaseKind::connected);
    const std::lock_guard g(lock);
    EXPECT_EQ(tapped, (std::vector<int>{1, 9, 15}));
}
