#include <gtest/gtest.h>

#include "FakeScheduler.h"
#include "controller/client/session/ClientTexts.h"
#include "controller/client/session/ControlDispatch.h"

using namespace dovrel::controller;

namespace {

struct FakeHost : ControlDispatch::Host {
    std::vector<ControlDispatch::News> news;
    int pongs = 0;
    std::vector<std::string> endings;

    void publish(ControlDispatch::News n) override { news.push_back(std::move(n)); }
    void pongArrived(wex::ByteView) override { ++pongs; }
    void endedByAgent(std::string_view text) override { endings.emplace_back(text); }
};

} // namespace

TEST(ControlDispatch, PongsAndGoodbyesGoBackToTheClientAndHandshakeStepsGoNowhere) {
    FakeHost host;
    dovrel::test::FakeScheduler clock;
    ControlDispatch dispatch(host, clock);
    dispatch.dispatch(wex::ControlType::helloAck, {});
    dispatch.dispatch(wex::ControlType::authOk, {});
    dispatch.dispatch(wex::ControlType::authFail, {0, 0, 2, 0, 0});
    dispatch.dispatch(wex::ControlType::pong, {});
    dispatch.dispatch(wex::ControlType::bye, {0, 0, 1});
    dispatch.dispatch(wex::ControlType::bye, {0, 0, 3});
    dispatch.dispatch(wex::ControlType::bye, {0, 0, 9});
    EXPECT_EQ(host.pongs, 1);
    EXPECT_EQ(host.endings, (std::vector<std::string>{std::string(texts::byeTakenOver), std::string(texts::byeIdle),
                                                      std::string(texts::byeEnded)}));
    EXPECT_TRUE(host.news.empty());
}

TEST(ControlDispatch, MessagesBecomeNewsAndWhatDoesNotDecodeChangesNothing) {
    FakeHost host;
    dovrel::test::FakeScheduler clock;
    ControlDispatch dispatch(host, clock);
    wex::DisplayList list;
    list.displays.resize(3);
    list.displays[2].flags = wex::DisplayFlags(wex::DisplayFlag::streaming);
    dispatch.dispatch(wex::ControlType::displayList, list.encode());
    dispatch.dispatch(wex::ControlType::displayList, {1});
    dispatch.dispatch(wex::ControlType::deckStat, {1});
    dispatch.dispatch(wex::ControlType::clipFileData, {1, 2});
    dispatch.dispatch(wex::ControlType::error, {1});
    ASSERT_EQ(host.news.size(), 2u);
    const auto* displays = std::get_if<ControlDispatch::Displays>(&host.news[0]);
    ASSERT_TRUE(displays);
    EXPECT_EQ(displays->list.size(), 3u);
    EXPECT_EQ(displays->streaming, 2);
    // An error that does not decode still tells the user the agent refused.
    const auto* error = std::get_if<ControlDispatch::AgentError>(&host.news[1]);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->text, texts::agentRefused);
    EXPECT_FALSE(error->message);
}
