// End to end: the controller's capture item, the real client and the real DovrelAgent on Xvfb. A click
// in the item lands the agent's pointer on the same place of its screen and presses its button there;
// keys typed into the item arrive as text in the window that has the focus on the agent's display.
#include <algorithm>
#include <functional>

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

    // The agent's button events, once `count` have come (fewer when they did not in time).
    std::vector<dovrel::test::XProbe::Button> buttons(std::size_t count) {
        std::vector<dovrel::test::XProbe::Button> got;
        waitUntil(
            [&] {
                for (const auto& b : s.probe->takeButtons())
                    got.push_back(b);
                return got.size() >= count;
            },
            std::chrono::seconds(10));
        return got;
    }

    // The modifier state of each press of the key `is` picks, once one came (none when none did in time).
    std::vector<uint16_t> pressStates(const std::function<bool(const dovrel::test::XProbe::Key&)>& is) {
        std::vector<dovrel::test::XProbe::Key> keys;
        std::vector<uint16_t> states;
        waitUntil(
            [&] {
                for (const auto& k : s.probe->takeKeys())
                    keys.push_back(k);
                return std::any_of(keys.begin(), keys.end(), [&](const auto& k) { return k.press && is(k); });
            },
            std::chrono::seconds(10));
        for (const auto& k : keys)
            if (k.press && is(k)) states.push_back(k.state);
        return states;
    }
};
} // namespace

TEST_F(AgentInputTest, AClickInTheItemLandsWhereItWasOnTheAgentsScreen) {
    // (100, 50) of a 640 x 360 item over a 1280 x 720 picture is (200, 100) there.
    s.mouse(QEvent::MouseMove, {100, 50}, Qt::NoButton, Qt::NoButton);
    s.mouse(QEvent::MouseButtonPress, {100, 50}, Qt::LeftButton, Qt::LeftButton);
    s.mouse(QEvent::MouseButtonRelease, {100, 50}, Qt::LeftButton, Qt::NoButton);
    const auto buttons = this->buttons(2);
    ASSERT_GE(buttons.size(), 2u) << s.agent.tail(20);
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
    const auto states = pressStates([](const auto& k) { return k.keysym == 'c'; });
    ASSERT_FALSE(states.empty()) << s.agent.tail(20);
    for (const uint16_t state : states)
        EXPECT_NE(state & 0x4, 0) << "C came without control";
    EXPECT_TRUE(waitUntil([&] { return s.probe->keysDown().empty(); }, std::chrono::seconds(5)));
}

namespace {
constexpr uint16_t kXShift = 0x1, kXMod1 = 0x8;
} // namespace

TEST_F(AgentInputTest, ShiftHeldInTheItemIsHeldWithTheClickAndAltWithTheLetter) {
    s.key(QEvent::KeyPress, Qt::Key_Shift, 50);
    s.mouse(QEvent::MouseButtonPress, {100, 50}, Qt::LeftButton, Qt::LeftButton);
    s.mouse(QEvent::MouseButtonRelease, {100, 50}, Qt::LeftButton, Qt::NoButton);
    s.key(QEvent::KeyRelease, Qt::Key_Shift, 50, {}, Qt::ShiftModifier);
    const auto buttons = this->buttons(2);
    ASSERT_GE(buttons.size(), 2u) << s.agent.tail(20);
    EXPECT_EQ(buttons[0].state & kXShift, kXShift) << "the click came without Shift";
    EXPECT_TRUE(waitUntil([&] { return s.probe->keysDown().empty(); }, std::chrono::seconds(5)));

    // Alt and F: the application sees F with Alt down, the way it opens its File menu.
    s.key(QEvent::KeyPress, Qt::Key_Alt, 64);
    s.key(QEvent::KeyPress, Qt::Key_F, 41, "f", Qt::AltModifier);
    s.key(QEvent::KeyRelease, Qt::Key_F, 41, "f", Qt::AltModifier);
    s.key(QEvent::KeyRelease, Qt::Key_Alt, 64, {}, Qt::AltModifier);
    const auto states = pressStates([](const auto& k) { return k.keysym == 'f'; });
    ASSERT_FALSE(states.empty()) << s.agent.tail(20);
    for (const uint16_t state : states)
        EXPECT_EQ(state & kXMod1, kXMod1) << "F came without Alt";
    EXPECT_TRUE(waitUntil([&] { return s.probe->keysDown().empty(); }, std::chrono::seconds(5)));
}

TEST_F(AgentInputTest, ALostShiftReleaseIsMendedByTheNextKey) {
    // Shift goes down on the agent, and its release never arrives: the controller holds nothing.
    s.input->sendInput(
        {{{wex::EventFlag::reliable}, wex::KeyEvent{wex::KeyEvent::makeUsage(7, 0xE1), 1, wex::KeyEvent::shift}}});
    ASSERT_TRUE(waitUntil([&] { return !s.probe->keysDown().empty(); }, std::chrono::seconds(10))) << s.agent.tail(20);
    s.key(QEvent::KeyPress, Qt::Key_Return, 36, "\r");
    const auto states = pressStates([](const auto& k) { return k.keycode == 36; });
    ASSERT_FALSE(states.empty()) << s.agent.tail(20);
    for (const uint16_t state : states)
        EXPECT_EQ(state & kXShift, 0) << "Return came shifted";
    EXPECT_TRUE(waitUntil([&] { return s.probe->keysDown().empty(); }, std::chrono::seconds(5)));
}

TEST_F(AgentInputTest, ASessionThatEndsLeavesNothingHeldAndTypesNoMore) {
    s.key(QEvent::KeyPress, Qt::Key_Shift, 50);
    ASSERT_TRUE(waitUntil([&] { return !s.probe->keysDown().empty(); }, std::chrono::seconds(10))) << s.agent.tail(20);
    // Characters off the keyboard map type slowly, through remapped spare keycodes.
    QString text;
    for (int i = 0; i < 3000; ++i)
        text += QChar(0x4E00 + i % 300);
    s.input->typeText(text);
    std::u32string typed;
    ASSERT_TRUE(waitUntil(
        [&] {
            typed += s.probe->typed();
            return typed.size() >= 10;
        },
        std::chrono::seconds(10)))
        << s.agent.tail(20);

    const uint64_t first = s.f.client->inputSession();
    s.f.client->disconnectSession();
    EXPECT_TRUE(waitUntil([&] { return s.probe->keysDown().empty(); }, std::chrono::seconds(10)))
        << "Shift stayed held after the session ended";
    // The same controller comes back and types a mark: whatever the first session still had to type
    // would come before it.
    s.f.client->connectToHost(QString("127.0.0.1:%1").arg(s.agent.controlPort()));
    ASSERT_TRUE(waitUntil(
        [&] {
            const uint64_t now = s.f.client->inputSession();
            return now != 0 && now != first;
        },
        std::chrono::seconds(15)))
        << s.agent.tail(20);
    s.input->typeText("#");
    ASSERT_TRUE(waitUntil(
        [&] {
            typed += s.probe->typed();
            return typed.find(U'#') != std::u32string::npos;
        },
        std::chrono::seconds(20)))
        << s.agent.tail(20);
    EXPECT_LT(typed.size(), 1000u) << "the text went on being typed after its session ended";
}
