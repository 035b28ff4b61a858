// Clipboard text kept in step with the agent: what a poll sends, the echo guard, the cut for the wire
// and the assistant's one-shot capture.
#include <cstdio>

#include <gtest/gtest.h>

#include "ClientTestSupport.h"
#include "ClipboardFakes.h"
#include "controller/client/files/ClipboardTextSync.h"
#include "protocol/ControlMessages.h"

using namespace dovrel;
using namespace dovrel::controller;
using namespace dovrel::controller::test;

namespace {

struct TextSync : ::testing::Test {
    dovrel::test::FakeScheduler clock;
    FakeClipboard clipboard;
    FakeChannel channel;
    ClipboardTextSync sync{clipboard, channel, clock};

    TextSync() {
        app();
        channel.open();
        sync.start();
    }
    std::vector<std::string> sentTexts() const {
        std::vector<std::string> out;
        for (const auto& m : channel.sent())
            if (m.type == wex::ControlType::clipboard) out.push_back(wex::Clipboard::decode(m.payload).text());
        return out;
    }
};

} // namespace

TEST_F(TextSync, ALocalCopyIsSentAtTheNextPollAndWhatWasThereAtStartIsNot) {
    clock.advance(2s);
    EXPECT_TRUE(sentTexts().empty());
    clipboard.copyText("hello"); // the polls came at 0.8 and 1.6 s: the next is at 2.4 s
    clock.advance(399ms);
    EXPECT_TRUE(sentTexts().empty());
    clock.advance(1ms);
    EXPECT_EQ(sentTexts(), std::vector<std::string>{"hello"});
    clock.advance(2s); // no change, nothing more
    EXPECT_EQ(sentTexts().size(), 1u);
    clipboard.copyFiles({"/tmp/x"}); // files are not text
    clock.advance(1s);
    EXPECT_EQ(sentTexts().size(), 1u);
}

TEST_F(TextSync, RemoteTextIsAppliedOnceAndNeverEchoedBack) {
    sync.applyRemote("abc");
    EXPECT_EQ(clipboard.text(), "abc");
    EXPECT_EQ(clipboard.writes, 1);
    clock.advance(2s);
    EXPECT_TRUE(sentTexts().empty());

    // The same text again changes nothing; copying it here later is not sent; other text is.
    sync.applyRemote("abc");
    EXPECT_EQ(clipboard.writes, 1);
    clipboard.copyText("abc");
    clock.advance(1s);
    EXPECT_TRUE(sentTexts().empty());
    clipboard.copyText("abcd");
    clock.advance(1s);
    EXPECT_EQ(sentTexts(), std::vector<std::string>{"abcd"});

    // Empty remote text is ignored.
    sync.applyRemote("");
    EXPECT_EQ(clipboard.text(), "abcd");
}

TEST_F(TextSync, LongTextIsCutTo60000BytesWithALine) {
    std::fflush(stdout);
    testing::internal::CaptureStdout();
    clipboard.copyText(std::string(70000, 'x'));
    clock.advance(1s);
    const std::string out = testing::internal::GetCapturedStdout();
    const auto texts = sentTexts();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0].size(), 60000u);
    EXPECT_NE(out.find("60000"), std::string::npos);
}

TEST_F(TextSync, ACaptureGetsTheNextRemoteTextOnceOrNoneAtItsTimeOut) {
    std::vector<std::optional<std::string>> got;
    sync.captureNextRemoteText(2s, [&](std::optional<std::string> t) { got.push_back(t); });
    clock.advance(500ms);
    sync.applyRemote("selected words");
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0], "selected words");
    EXPECT_EQ(clipboard.text(), "selected words"); // still applied
    clock.advance(3s);
    sync.applyRemote("later");
    EXPECT_EQ(got.size(), 1u);

    sync.captureNextRemoteText(2s, [&](std::optional<std::string> t) { got.push_back(t); });
    clock.advance(1999ms);
    EXPECT_EQ(got.size(), 1u);
    clock.advance(1ms);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[1], std::nullopt);

    // A second capture replaces the first, which is never called.
    int firstCalls = 0;
    sync.captureNextRemoteText(2s, [&](std::optional<std::string>) { ++firstCalls; });
    sync.captureNextRemoteText(2s, [&](std::optional<std::string> t) { got.push_back(t); });
    clock.advance(3s);
    EXPECT_EQ(firstCalls, 0);
    EXPECT_EQ(got.size(), 3u);
}

TEST_F(TextSync, AStoppedSyncSendsNothing) {
    sync.stop();
    clipboard.copyText("quiet");
    clock.advance(3s);
    EXPECT_TRUE(sentTexts().empty());
}
