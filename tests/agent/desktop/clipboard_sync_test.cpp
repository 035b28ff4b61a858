// Clipboard text both ways between the agent and another application on the same X display.
#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

#include <gtest/gtest.h>

#include "../../support/FakeScheduler.h"
#include "ClipboardPeer.h"
#include "DesktopTestSupport.h"
#include "agent/desktop/QtClipboardSync.h"

using namespace dovrel;
using namespace dovrel::agent;
using namespace std::chrono_literals;

namespace {

class ClipboardSyncTest : public ::testing::Test {
protected:
    void SetUp() override {
        DOVREL_REQUIRE_GUI();
        peer = std::make_unique<test::ClipboardPeer>();
        ASSERT_TRUE(peer->started());
        changes = std::make_unique<test::ClipboardChanges>();
        sync = std::make_unique<QtClipboardSync>([this](const std::string& text) { sent.push_back(text); }, clock);
        pumpQueued();
    }

    // Runs what the calls queued for the main thread.
    void pumpQueued() { test::pumpFor(20ms); }
    void start() {
        sync->start();
        pumpQueued();
    }
    // Another application copies; the agent has seen the change when this returns.
    void copyElsewhere(const std::string& text) {
        const auto seen = changes->mark();
        ASSERT_TRUE(peer->copyText(text));
        ASSERT_TRUE(changes->waitPast(seen));
    }
    void poll() {
        clock.advance(QtClipboardSync::pollInterval);
        pumpQueued();
    }
    void applyRemote(const std::string& text) {
        sync->applyRemote(text);
        pumpQueued();
    }

    test::FakeScheduler clock;
    std::unique_ptr<test::ClipboardPeer> peer;
    std::unique_ptr<test::ClipboardChanges> changes;
    std::unique_ptr<QtClipboardSync> sync;
    std::vector<std::string> sent;
};

} // namespace

TEST_F(ClipboardSyncTest, EverySessionStartsByOfferingTheCurrentText) {
    copyElsewhere("hello");
    start();
    EXPECT_EQ(sent, std::vector<std::string>{"hello"});
    sync->stop();
    start();
    EXPECT_EQ(sent, (std::vector<std::string>{"hello", "hello"}));
}

TEST_F(ClipboardSyncTest, TextCopiedHereIsSentAtTheNextLook) {
    start();
    EXPECT_TRUE(sent.empty());
    copyElsewhere("one");
    EXPECT_TRUE(sent.empty()); // not before the poll
    poll();
    EXPECT_EQ(sent, std::vector<std::string>{"one"});
    poll();
    EXPECT_EQ(sent.size(), 1u); // no change, nothing read
    copyElsewhere("two ✓ ünïcödé");
    poll();
    EXPECT_EQ(sent.back(), "two ✓ ünïcödé");
}

TEST_F(ClipboardSyncTest, TextFromTheControllerIsPastedHereAndNotSentBack) {
    start();
    applyRemote("abc");
    EXPECT_TRUE(ownsClipboard());
    const auto there = peer->read();
    EXPECT_TRUE(there.hasText);
    EXPECT_EQ(there.text, "abc");
    poll();
    poll();
    EXPECT_TRUE(sent.empty());

    // Copying the same text here again is no news to the controller; after other text it is.
    copyElsewhere("abc");
    poll();
    EXPECT_TRUE(sent.empty());
    copyElsewhere("abcd");
    poll();
    EXPECT_EQ(sent, std::vector<std::string>{"abcd"});
    copyElsewhere("abc");
    poll();
    EXPECT_EQ(sent, (std::vector<std::string>{"abcd", "abc"}));
}

TEST_F(ClipboardSyncTest, TextCopiedInTheAgentsOwnWindowIsSentToo) {
    start();
    applyRemote("from the controller");
    const auto seen = changes->mark();
    auto* data = new QMimeData;
    data->setText("7KQ4 M2XD"); // the share code's copy button
    ASSERT_TRUE(putOnClipboard(data));
    ASSERT_TRUE(changes->waitPast(seen));
    EXPECT_TRUE(ownsClipboard());
    poll();
    EXPECT_EQ(sent, std::vector<std::string>{"7KQ4 M2XD"});
}

TEST_F(ClipboardSyncTest, TheEchoGuardOutlivesTheSession) {
    start();
    applyRemote("from the controller");
    sync->stop();
    start(); // a new session, perhaps of the same controller: its own text is not offered back
    EXPECT_TRUE(sent.empty());
    copyElsewhere("from the controller");
    poll();
    EXPECT_TRUE(sent.empty());
    copyElsewhere("other");
    poll();
    EXPECT_EQ(sent, std::vector<std::string>{"other"});
}

TEST_F(ClipboardSyncTest, TextAlreadyOnTheClipboardIsNotWrittenAgain) {
    copyElsewhere("same");
    start();
    applyRemote("same");
    EXPECT_FALSE(ownsClipboard());
    EXPECT_TRUE(peer->read().owner);
    applyRemote(""); // empty text changes nothing
    EXPECT_TRUE(peer->read().owner);
}

TEST_F(ClipboardSyncTest, TextTooLongForTheWireIsCutAtACharacterAndLogged) {
    std::string big;
    while (big.size() < 59998)
        big += "x";
    big += "é€tail"; // é ends at 60000 bytes, € would not fit
    test::LogCapture log;
    copyElsewhere(big);
    start();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].size(), 60000u);
    EXPECT_EQ(sent[0].substr(59998), "é");
    EXPECT_TRUE(log.contains("• clipboard truncated to 60000 bytes for the wire\n"));
}

TEST_F(ClipboardSyncTest, FilesOnTheClipboardAreNotText) {
    start();
    const auto seen = changes->mark();
    ASSERT_TRUE(peer->copyFiles({"/etc/hostname", "/tmp"}));
    ASSERT_TRUE(changes->waitPast(seen));
    poll();
    EXPECT_TRUE(sent.empty());
}

TEST_F(ClipboardSyncTest, NothingIsWatchedBetweenSessions) {
    start();
    EXPECT_EQ(clock.pendingTimers(), 1u);
    sync->stop();
    pumpQueued();
    EXPECT_EQ(clock.pendingTimers(), 0u);
    copyElsewhere("while idle");
    poll();
    EXPECT_TRUE(sent.empty());
}
