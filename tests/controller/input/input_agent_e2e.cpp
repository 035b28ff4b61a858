// End to end: the controller's capture item, the real client and the real DovrelAgent on Xvfb. A click
// in the item lands the agent's pointer on the same place of its screen and presses its button there;
// keys typed into the item arrive as text in the window that has the focus on the agent's display.
#include <gtest/gtest.h>

#include "AgentSession.h"

using namespace dovrel::controller;
using namespace dovrel::controller::test;

namespace {
struct AgentInputTest : ::testing::Test {
    AgentSession s;
    void SetUp() override {
        bool skip = false;
        const std::string failure = s.start(skip);
        if (skip) GTEST_SKIP() << failure;
        ASSERT_TRUE(failure.empty()) << failure;
    }
};
} // namespace

TEST_F(AgentInputTest, AClickInTheItemLandsWhereItWasOnTheAgentsScreen) {
    // (100, 50) of a 640 x 360 item over a 1280 x 720 picture is (200, 100) there.
    s.mouse(QEvent::MouseMove, {100, 50}, Qt::NoButton, Qt::NoButton);
    s.mouse(QEvent::MouseButtonPress, {100, 50}, Qt::LeftButton, Qt::LeftButton);
    s.mouse(QEvent::MouseButtonRelease, {100, 50}, Qt::LeftButton, Qt::NoButton);
    std::vector<dovrel::test::XProbe::Button> buttons;
    ASSERT_TRUE(waitUntil(
        [&] {
            for (const auto& b : s.probe->takeButtons())
                buttons.push_back(b);
            return buttons.size() >= 2;
        },
        std::chrono::seconds(10)))
        << s.agent.tail(20);
    const auto at = s.probe->pointer();
    EXPECT_EQ(at.x, 200);
    EXPECT_EQ(at.y, 100);
    EXPECT_TRUE(buttons[0].press);
    EXPECT_EQ(buttons[0].number, 1);
    EXPECT_FALSE(buttons[1].press);
}

TEST_F(AgentInputTest, TypedKeysArriveAsTextInTheFocusedWindow) {
    const struct {
        int key;
        quint32 scan;
        QString text;
    } keys[] = {{Qt::Key_H, 43, "h"},       {Qt::Key_I, 31, "i"},     {Qt::Key_Space, 65, " "},
                {Qt::Key_Return, 36, "\r"}, {Qt::Key_Eacute, 0, "é"}, {Qt::Key_Semicolon, 47, ";"}};
    for (const auto& k : keys) {
        s.key(QEvent::KeyPress, k.key, k.scan, k.text);
        s.key(QEvent::KeyRelease, k.key, k.scan, k.text);
    }
    std::u32string typed;
    const bool arrived = waitUntil(
        [&] {
            typed += s.probe->typed();
            return typed.size() >= 6;
        },
        std::chrono::seconds(10));
    EXPECT_TRUE(arrived) << s.agent.tail(20);
    EXPECT_EQ(typed, U"hi \né;");
    // Nothing is left held on the agent's keyboard.
    EXPECT_TRUE(waitUntil([&] { return s.probe->keysDown().empty(); }, std::chrono::seconds(5)));
}

TEST_F(AgentInputTest, AControlChordArrivesWithControlHeld) {
    s.key(QEvent::KeyPress, Qt::Key_Control, 37, {}, Qt::ControlModifier);
    s.key(QEvent::KeyPress, Qt::Key_C, 54, QString(QChar(3)), Qt::ControlModifier);
    s.key(QEvent::KeyRelease, Qt::Key_C, 54, QString(QChar(3)), Qt::ControlModifier);
    s.key(QEvent::KeyRelease, Qt::Key_Control, 37, {}, Qt::NoModifier);
    // The probe sees C pressed while control (the X control mask, 4) is down.
    std::vector<dovrel::test::XProbe::Key> keys;
    const auto controlC = [&] {
        for (const auto& k : s.probe->takeKeys())
            keys.push_back(k);
        for (const auto& k : keys)
            if (k.press && k.keysym == 'c') return true;
        return false;
    };
    ASSERT_TRUE(waitUntil(controlC, std::chrono::seconds(10))) << s.agent.tail(20);
    for (const auto& k : keys) {
        if (k.press && k.keysym == 'c') {
            EXPECT_NE(k.state & 0x4, 0) << "C came without control";
        }
    }
    EXPECT_TRUE(waitUntil([&] { return s.probe->keysDown().empty(); }, std::chrono::seconds(5)));
}
