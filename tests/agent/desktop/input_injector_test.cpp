// The injector against a real X server: what an X application sees after injected input.
#include <algorithm>
#include <atomic>
#include <cstdlib>

#include <QString>

#include <gtest/gtest.h>

#include "../../support/FakeScheduler.h"
#include "../../support/ProcessUtil.h"
#include "DesktopTestSupport.h"
#include "XProbe.h"
#include "agent/desktop/HidKeysyms.h"
#include "agent/desktop/X11InputDevice.h"

using namespace dovrel;
using namespace dovrel::agent;
using test::XProbe;

namespace {

constexpr uint16_t kButton1Mask = 0x100, kButton2Mask = 0x200, kButton3Mask = 0x400;
constexpr uint16_t kShiftMask = 0x1, kControlMask = 0x4, kMod4Mask = 0x40;

int32_t q(double v) { return static_cast<int32_t>(v * 65536.0); }

wex::InputEvent move(double x, double y, uint8_t buttons = 0) { return wex::MouseMoveEvent{0, q(x), q(y), buttons}; }
wex::InputEvent button(uint8_t which, bool down, double x = 640, double y = 360, uint8_t clicks = 1) {
    return wex::MouseButtonEvent{0, q(x), q(y), which, static_cast<uint8_t>(down ? 1 : 0), clicks};
}
wex::InputEvent key(uint16_t usageId, bool down, uint16_t modifiers = 0) {
    return wex::KeyEvent{wex::KeyEvent::makeUsage(7, usageId), static_cast<uint8_t>(down ? 1 : 0), modifiers};
}
wex::InputEvent text(const std::string& t) { return wex::TextEvent{t}; }
wex::InputEvent scroll(int16_t dx, int16_t dy) { return wex::ScrollEvent{0, 0, 0, dx, dy, 0}; }
wex::InputEvent pen(wex::PenContact contact, double x, double y) {
    wex::PenEvent p;
    p.x = q(x);
    p.y = q(y);
    p.contact = contact;
    p.pressure = 30000;
    return p;
}

// Keys of the test: usages of a, c, 5, F5 and the left modifiers.
constexpr uint16_t kA = 0x04, kC = 0x06, k5 = 0x22, kF4 = 0x3D, kF5 = 0x3E, kUp = 0x52;
constexpr uint16_t kLeftControl = 0xE0, kLeftShift = 0xE1;

// The desktop's own features the injector opens, recorded.
class FakeDesktop final : public DesktopSession {
public:
    void lockAndTurnDisplayOff(NotLocked) override {}
    void showLauncher() override { ++launchers; }
    void showWindowOverview() override { ++overviews; }
    std::atomic<int> launchers{0};
    std::atomic<int> overviews{0};
};

struct Unsetenv {
    ~Unsetenv() { ::unsetenv("DOVREL_LOG_INPUT"); }
};

class InjectorTest : public ::testing::Test {
protected:
    void SetUp() override {
        DOVREL_REQUIRE_DISPLAY();
        probe = std::make_unique<XProbe>(test::testDisplay()->name());
        ASSERT_TRUE(probe->ok());
        injector = makeX11InputInjector(desktop, test::testDisplay()->name(), clock);
        ASSERT_TRUE(injector->connected());
    }
    void TearDown() override {
        if (injector) {
            injector->releaseAll();
            injector->waitIdle();
        }
    }
    void run(std::initializer_list<wex::InputEvent> events) {
        for (const auto& e : events)
            injector->apply(e);
        injector->waitIdle();
    }
    uint32_t keysymOfPress(const std::vector<XProbe::Key>& keys, std::size_t n) {
        std::size_t seen = 0;
        for (const auto& k : keys)
            if (k.press && seen++ == n) return k.keysym;
        return 0;
    }

    std::shared_ptr<FakeDesktop> desktop = std::make_shared<FakeDesktop>();
    test::FakeScheduler clock;
    std::unique_ptr<XProbe> probe;
    std::unique_ptr<DeviceInjector> injector;
};

} // namespace

TEST_F(InjectorTest, PointerLandsOnThePicturePixelsOfTheStreamedMonitor) {
    run({move(100.5, 200.75)});
    EXPECT_EQ(probe->pointer().x, 100);
    EXPECT_EQ(probe->pointer().y, 200);

    // A 1600x1200 picture of an 800x600 monitor placed at (100, 50).
    injector->setStreamedArea({100, 50, 800, 600, 1600, 1200});
    run({move(800, 600)});
    EXPECT_EQ(probe->pointer().x, 500);
    EXPECT_EQ(probe->pointer().y, 350);

    // Past the picture's edges the pointer stops at the monitor's.
    run({move(-10, 5000)});
    EXPECT_EQ(probe->pointer().x, 100);
    EXPECT_EQ(probe->pointer().y, 649);
    run({wex::MouseDragEvent{0, q(1e4), q(-3), 0x1}});
    EXPECT_EQ(probe->pointer().x, 899);
    EXPECT_EQ(probe->pointer().y, 50);
}

TEST_F(InjectorTest, ButtonsSetAndClearTheButtonMaskAndEveryPressIsLogged) {
    test::LogCapture log;
    run({button(wex::MouseButtonEvent::left, true, 640, 360)});
    EXPECT_EQ(probe->pointer().mask & 0x700, kButton1Mask);
    EXPECT_EQ(probe->pointer().x, 640);
    run({button(wex::MouseButtonEvent::right, true, 10, 20)});
    EXPECT_EQ(probe->pointer().mask & 0x700, kButton1Mask | kButton3Mask);
    run({button(wex::MouseButtonEvent::middle, true, 10, 20)});
    EXPECT_EQ(probe->pointer().mask & 0x700, kButton1Mask | kButton2Mask | kButton3Mask);
    run({button(wex::MouseButtonEvent::right, false, 10, 20), button(wex::MouseButtonEvent::middle, false, 10, 20)});
    EXPECT_EQ(probe->pointer().mask & 0x700, kButton1Mask);
    // Any state but 1 releases.
    run({wex::MouseButtonEvent{0, q(10), q(20), wex::MouseButtonEvent::left, 2, 1}});
    EXPECT_EQ(probe->pointer().mask & 0x700, 0);

    // Buttons 0 and 9 are the left button; the log shows the click count as received.
    run({button(0, true, 5, 5, 0), button(9, false, 5, 5, 3)});
    const auto buttons = probe->takeButtons();
    ASSERT_GE(buttons.size(), 2u);
    EXPECT_EQ(buttons[buttons.size() - 2].number, 1);
    EXPECT_EQ(buttons.back().number, 1);
    EXPECT_FALSE(buttons.back().press);

    EXPECT_TRUE(log.contains("  [inject] left down×1 @640,360\n"));
    EXPECT_TRUE(log.contains("  [inject] right down×1 @10,20\n"));
    EXPECT_TRUE(log.contains("  [inject] middle up×1 @10,20\n"));
    EXPECT_TRUE(log.contains("  [inject] left down×0 @5,5\n"));
    EXPECT_TRUE(log.contains("  [inject] left up×3 @5,5\n"));
}

TEST_F(InjectorTest, KeysAndShiftedCharactersReachTheFocusedWindow) {
    run({key(kA, true), key(kA, false), key(kF5, true), key(kF5, false), key(k5, true), key(k5, false)});
    const auto keys = probe->takeKeys();
    ASSERT_EQ(keys.size(), 6u);
    EXPECT_TRUE(keys[0].press);
    EXPECT_EQ(keys[0].keysym, 'a');
    EXPECT_FALSE(keys[1].press);
    EXPECT_EQ(keys[2].keysym, 0xffc2u); // F5
    EXPECT_EQ(keys[4].keysym, '5');

    run({text("Hello, World! (#42) ~_~\n\ttab"), text("a\r\nb")});
    EXPECT_EQ(probe->typed(), U"Hello, World! (#42) ~_~\n\ttaba\nb");
    // Nothing stays down after typing.
    EXPECT_TRUE(probe->keysDown().empty());
}

TEST_F(InjectorTest, CharactersOffTheKeyboardMapAreTypedThroughSpareKeycodes) {
    const std::u32string exotic = U"é€☃😀ĳ Ωx";
    run({text("é€☃😀ĳ Ωx")});
    EXPECT_EQ(probe->typed(), exotic);

    // Typing them again reuses the keycodes already remapped, and a longer run of distinct characters
    // than there are spare keycodes still comes out whole.
    std::string many;
    std::u32string manyScalars;
    for (char32_t c = 0x3041; c < 0x3041 + 60; ++c) {
        manyScalars += c;
        many += QString::fromUcs4(&c, 1).toStdString();
    }
    run({text("€é"), text(many)});
    EXPECT_EQ(probe->typed(), U"€é" + manyScalars);

    // The keyboard map gets its empty keycodes back when the injector goes.
    const uint32_t lastTyped = keysym::unicodeBase | (0x3041 + 59);
    EXPECT_NE(probe->keycodeOf(lastTyped), 0);
    injector.reset();
    XProbe fresh(test::testDisplay()->name());
    EXPECT_EQ(fresh.keycodeOf(0xE9), 0);
    EXPECT_EQ(fresh.keycodeOf(lastTyped), 0);
}

TEST_F(InjectorTest, KeysAndTextFollowTheDesktopsKeyboardLayout) {
    if (!test::haveCommand("setxkbmap")) GTEST_SKIP() << "setxkbmap is not installed";
    const std::string display = test::testDisplay()->name();
    ASSERT_EQ(test::runCommand("setxkbmap -display " + display + " fr 2>&1 && echo done").output, "done\n");
    struct Restore {
        std::string display;
        ~Restore() { test::runCommand("setxkbmap -display " + display + " us"); }
    } restore{display};
    // The injector reads the new map when the display says it changed.
    test::XProbe french(display);
    ASSERT_NE(french.keycodeOf('&'), 0); // the layout did change: & is unshifted on AZERTY
    // On AZERTY the digits need Shift; a key held down must type its digit without it.
    run({key(0x1E, true), key(0x1E, false), key(kA, true), key(kA, false)});
    auto keys = french.takeKeys();
    ASSERT_EQ(keys.size(), 4u);
    EXPECT_EQ(keys[0].keysym, '1');
    EXPECT_EQ(keys[0].state & kShiftMask, 0);
    EXPECT_EQ(keys[2].keysym, 'a');
    run({text("1&éa2Zq")});
    EXPECT_EQ(french.typed(), U"1&éa2Zq");
}

TEST_F(InjectorTest, ChordsPressTheirModifiersAroundOneStroke) {
    // Control+C as a chord: Control down, C down and up with Control in the state, Control up.
    run({key(kC, true, wex::KeyEvent::control), key(kC, false, wex::KeyEvent::control)});
    auto keys = probe->takeKeys();
    ASSERT_EQ(keys.size(), 4u);
    EXPECT_EQ(keys[0].keysym, keysym::controlL);
    EXPECT_TRUE(keys[1].press);
    EXPECT_EQ(keys[1].keysym, 'c');
    EXPECT_EQ(keys[1].state & kControlMask, kControlMask);
    EXPECT_FALSE(keys[3].press);
    EXPECT_EQ(keys[3].keycode, keys[0].keycode);

    // Shift+Command: Super is the Command key; modifiers go down control, option, shift, command and
    // come up in reverse.
    run({key(k5, true, wex::KeyEvent::shift | wex::KeyEvent::command)});
    keys = probe->takeKeys();
    ASSERT_EQ(keys.size(), 6u);
    EXPECT_EQ(keys[0].keysym, keysym::shiftL);
    EXPECT_EQ(keys[1].keycode, probe->keycodeOf(keysym::superL));
    EXPECT_EQ(keys[2].state & (kShiftMask | kMod4Mask), kShiftMask | kMod4Mask);
    EXPECT_FALSE(keys[4].press);
    EXPECT_EQ(keys[4].keycode, keys[1].keycode);
    EXPECT_EQ(keys[5].keycode, keys[0].keycode);
    EXPECT_TRUE(probe->keysDown().empty());

    // The controller holds Control as a key of its own as well: the chord leaves it held, and its
    // release lets go of it.
    run({key(kLeftControl, true, wex::KeyEvent::control), key(kC, true, wex::KeyEvent::control),
         key(kC, false, wex::KeyEvent::control)});
    keys = probe->takeKeys();
    ASSERT_EQ(keys.size(), 3u);
    EXPECT_EQ(keys[0].keysym, keysym::controlL);
    EXPECT_EQ(keys[1].keysym, 'c');
    EXPECT_EQ(keys[1].state & kControlMask, kControlMask);
    run({key(kLeftControl, false)});
    EXPECT_TRUE(probe->keysDown().empty());
    probe->takeKeys();

    // A modifier byte without a modifier's bit still makes a chord: one stroke, nothing held.
    run({key(kA, true, 0x10)});
    keys = probe->takeKeys();
    ASSERT_EQ(keys.size(), 2u);
    EXPECT_EQ(keys[0].keysym, 'a');
    EXPECT_TRUE(probe->keysDown().empty());
}

TEST_F(InjectorTest, ModifierKeysAreHeldAsSentAndF4AndControlUpOpenTheDesktopsOverviews) {
    test::LogCapture log;
    // Shift held: a click and a key carry it; its release lets go of it.
    run({key(kLeftShift, true, wex::KeyEvent::shift), button(wex::MouseButtonEvent::left, true),
         button(wex::MouseButtonEvent::left, false), key(kF5, true, wex::KeyEvent::shift)});
    EXPECT_EQ(probe->takeButtons()[0].state & kShiftMask, kShiftMask);
    auto keys = probe->takeKeys();
    ASSERT_EQ(keys.size(), 3u);
    EXPECT_EQ(keys[1].state & kShiftMask, kShiftMask);
    run({key(kLeftShift, false)});
    EXPECT_TRUE(probe->keysDown().empty());
    probe->takeKeys();

    // A lost Shift key-up: the next key's byte says Shift is no longer held, and it is let go of first.
    run({key(kLeftShift, true, wex::KeyEvent::shift),
         key(kLeftControl, true, wex::KeyEvent::shift | wex::KeyEvent::control)});
    EXPECT_EQ(probe->keysDown().size(), 2u);
    run({key(kA, true, wex::KeyEvent::control)});
    keys = probe->takeKeys();
    ASSERT_EQ(keys.size(), 5u);
    EXPECT_FALSE(keys[2].press);
    EXPECT_EQ(keys[2].keycode, keys[0].keycode);
    EXPECT_EQ(keys[3].state & (kShiftMask | kControlMask), kControlMask);
    EXPECT_TRUE(log.contains("  [inject] released shift — the controller no longer holds it\n"));
    injector->releaseAll();
    injector->waitIdle();
    EXPECT_TRUE(probe->keysDown().empty());
    probe->takeKeys();

    // A controller whose modifier keys come with a byte of 0 never reports what it holds: its Shift
    // stays held under keys whose byte is 0 too.
    run({key(kLeftShift, true), key(kA, true), key(kA, false)});
    keys = probe->takeKeys();
    ASSERT_EQ(keys.size(), 3u);
    EXPECT_EQ(keys[1].state & kShiftMask, kShiftMask);
    injector->releaseAll();
    injector->waitIdle();
    EXPECT_TRUE(probe->keysDown().empty());
    probe->takeKeys();

    run({key(0xE8, true)});
    EXPECT_TRUE(log.contains("  [inject] key DROPPED usage=700e8 (no VK mapping)\n"));

    run({key(kF4, true), key(kF4, false)});
    EXPECT_TRUE(probe->takeKeys().empty()) << "F4 alone reaches no window";
    EXPECT_EQ(desktop->launchers.load(), 1);
    run({key(kUp, true, wex::KeyEvent::control), key(kUp, false, wex::KeyEvent::control)});
    EXPECT_TRUE(probe->takeKeys().empty());
    EXPECT_EQ(desktop->overviews.load(), 1);
    EXPECT_TRUE(log.contains("  [inject] launch app grid\n"));
    EXPECT_TRUE(log.contains("  [inject] launch window overview\n"));

    // With other modifiers they are ordinary chords.
    run({key(kF4, true, wex::KeyEvent::shift), key(kUp, true, wex::KeyEvent::control | wex::KeyEvent::shift)});
    keys = probe->takeKeys();
    ASSERT_EQ(keys.size(), 10u);
    EXPECT_EQ(keys[1].keycode, probe->keycodeOf(keysym::f1 + 3));
    EXPECT_EQ(desktop->launchers.load(), 1);
    EXPECT_EQ(desktop->overviews.load(), 1);
}

TEST_F(InjectorTest, ReleaseAllLetsGoOfHeldKeysButtonsAndThePen) {
    test::LogCapture log;
    run({key(kC, true), key(kA, true), key(kLeftShift, true, wex::KeyEvent::shift),
         button(wex::MouseButtonEvent::right, true)});
    EXPECT_EQ(probe->keysDown().size(), 3u);
    EXPECT_EQ(probe->pointer().mask & 0x700, kButton3Mask);

    injector->releaseAll();
    injector->waitIdle();
    EXPECT_TRUE(probe->keysDown().empty());
    EXPECT_EQ(probe->pointer().mask & 0x701, 0);
    EXPECT_TRUE(log.contains("  [inject] released 3 held key(s)\n"));
    EXPECT_TRUE(log.contains("  [inject] released held mouse button(s)\n"));

    // A second call has nothing to do and says nothing.
    const std::string before = log.text();
    injector->releaseAll();
    injector->waitIdle();
    EXPECT_EQ(log.text(), before);

    // A pen left touching holds the left button; releaseAll lets it go too.
    run({pen(wex::PenContact::touching, 30, 40)});
    EXPECT_EQ(probe->pointer().mask & 0x700, kButton1Mask);
    injector->releaseAll();
    injector->waitIdle();
    EXPECT_EQ(probe->pointer().mask & 0x700, 0);
}

TEST_F(InjectorTest, AKeyIsReleasedEvenWhenItsReleaseCarriesModifiers) {
    run({key(kA, true)});
    EXPECT_EQ(probe->keysDown().size(), 1u);
    run({key(kA, false, wex::KeyEvent::shift)});
    EXPECT_TRUE(probe->keysDown().empty());
}

TEST_F(InjectorTest, InputQueuedBeforeReleaseAllIsDropped) {
    std::string longText(3000, 'x');
    injector->apply(text(longText));
    injector->apply(key(kA, true));
    injector->releaseAll();
    injector->waitIdle();
    const std::u32string typed = probe->typed();
    EXPECT_LE(typed.size(), longText.size());
    EXPECT_EQ(typed, std::u32string(typed.size(), U'x'));
    EXPECT_TRUE(probe->keysDown().empty());
}

TEST_F(InjectorTest, ScrollDeltasBecomeWheelClicks) {
    test::LogCapture log;
    constexpr int16_t notch = wex::ScrollEvent::notch;
    run({scroll(0, notch)});
    auto buttons = probe->takeButtons();
    ASSERT_EQ(buttons.size(), 2u);
    EXPECT_EQ(buttons[0].number, 4);
    EXPECT_TRUE(buttons[0].press);
    EXPECT_FALSE(buttons[1].press);

    clock.advance(std::chrono::seconds(1));
    run({scroll(0, -2 * notch)});
    buttons = probe->takeButtons();
    ASSERT_EQ(buttons.size(), 4u);
    EXPECT_EQ(buttons[0].number, 5);
    EXPECT_EQ(buttons[2].number, 5);

    clock.advance(std::chrono::seconds(1));
    run({scroll(notch, 0), scroll(-1, 0)});
    buttons = probe->takeButtons();
    ASSERT_EQ(buttons.size(), 2u);
    EXPECT_EQ(buttons[0].number, 6);

    // A trackpad's small deltas add up; a lone wheel notch of one line clicks at once.
    clock.advance(std::chrono::seconds(1));
    run({scroll(-8, 0)});
    buttons = probe->takeButtons();
    ASSERT_EQ(buttons.size(), 2u);
    EXPECT_EQ(buttons[0].number, 7);
    clock.advance(std::chrono::seconds(1));
    run({scroll(0, 3), scroll(0, 3)});
    EXPECT_TRUE(probe->takeButtons().empty());

    EXPECT_TRUE(log.contains("  [inject] scroll dx=0 dy=48\n"));
    EXPECT_TRUE(log.contains("  [inject] scroll dx=0 dy=-96\n"));
    EXPECT_TRUE(log.contains("  [inject] scroll dx=-1 dy=0\n"));
    EXPECT_TRUE(log.contains("  [inject] scroll dx=0 dy=0\n"));
}

TEST_F(InjectorTest, PenTouchPressesTheLeftButtonAndLeavingReleasesIt) {
    run({pen(wex::PenContact::leaving, 50, 60)}); // leaving while not touching: a plain move
    EXPECT_EQ(probe->pointer().mask & 0x700, 0);
    EXPECT_EQ(probe->pointer().x, 50);
    run({pen(wex::PenContact::hover, 70, 80)});
    EXPECT_EQ(probe->pointer().mask & 0x700, 0);
    run({pen(wex::PenContact::touching, 90, 100), pen(wex::PenContact::hover, 95, 105)});
    EXPECT_EQ(probe->pointer().mask & 0x700, kButton1Mask); // a drag
    EXPECT_EQ(probe->pointer().x, 95);
    run({pen(wex::PenContact::leaving, 96, 106)});
    EXPECT_EQ(probe->pointer().mask & 0x700, 0);
}

TEST_F(InjectorTest, TypedTextAndKeysReachTheLogOnlyWhenAskedFor) {
    {
        test::LogCapture log;
        run({text("secret password"), key(kA, true), key(kA, false), key(0x35, true),
             key(kC, true, wex::KeyEvent::control), move(3, 4)});
        EXPECT_FALSE(log.contains("secret"));
        EXPECT_FALSE(log.contains("key down"));
        EXPECT_FALSE(log.contains("key up"));
        EXPECT_TRUE(log.contains("key DROPPED usage=70035")) << "a key that did nothing spells nothing";
        EXPECT_FALSE(log.contains("chord"));
        EXPECT_FALSE(log.contains("move"));
    }
    Unsetenv restore;
    ::setenv("DOVREL_LOG_INPUT", "", 1);
    const auto logging = makeX11InputInjector(desktop, test::testDisplay()->name(), clock);
    test::LogCapture log;
    logging->apply(text("secret password"));
    logging->apply(key(kA, true));
    logging->apply(key(kA, false));
    logging->apply(key(0x35, true)); // the grave accent has no key here
    logging->apply(wex::KeyEvent{wex::KeyEvent::makeUsage(12, 0xE9), 1, 0});
    logging->apply(key(kC, true, wex::KeyEvent::control));
    logging->apply(move(3, 4, 0x2));
    logging->apply(text(std::string(50, 'y')));
    logging->waitIdle();
    EXPECT_TRUE(log.contains("  [inject] text \"secret password\"\n"));
    EXPECT_TRUE(log.contains("  [inject] key down usage=70004\n"));
    EXPECT_TRUE(log.contains("  [inject] key up usage=70004\n"));
    EXPECT_TRUE(log.contains("  [inject] key DROPPED usage=70035 (no VK mapping)\n"));
    EXPECT_TRUE(log.contains("  [inject] key DROPPED usage=c00e9 (no VK mapping)\n"));
    EXPECT_TRUE(log.contains(" mods=2\n"));
    EXPECT_TRUE(log.contains("  [inject] move @3,4 held=2\n"));
    EXPECT_TRUE(log.contains("  [inject] text \"" + std::string(40, 'y') + "\"\n"));
}

TEST(InjectorWithoutDisplay, DropsEverythingAndSaysWhyOnce) {
    test::LogCapture log;
    const auto injector = makeX11InputInjector(std::make_shared<FakeDesktop>(), ":9999");
    EXPECT_FALSE(injector->connected());
    injector->apply(wex::TextEvent{"x"});
    injector->releaseAll();
    injector->waitIdle();
    EXPECT_TRUE(log.contains("⚠︎ input injection unavailable — cannot reach the X display\n"));
}
