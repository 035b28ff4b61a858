// Input through GNOME's remote-desktop session into a Wayland client on a headless GNOME session: the
// pointer lands where the picture says, buttons, wheel, keys and typed text reach the client, and
// what is held when the session ends is let go of.
#include <gtest/gtest.h>

#include "GnomeTestSupport.h"
#include "agent/desktop/GnomeInputDevice.h"

using namespace dovrel;
using namespace dovrel::agent;
using test::GnomeSession;

namespace {

int32_t q(double v) { return static_cast<int32_t>(v * 65536.0); }
wex::InputEvent move(double x, double y) { return wex::MouseMoveEvent{0, q(x), q(y), 0}; }
wex::InputEvent button(uint8_t which, bool down, double x, double y) {
    return wex::MouseButtonEvent{0, q(x), q(y), which, static_cast<uint8_t>(down ? 1 : 0), 1};
}
wex::InputEvent key(uint16_t usageId, bool down, uint16_t modifiers = 0) {
    return wex::KeyEvent{wex::KeyEvent::makeUsage(7, usageId), static_cast<uint8_t>(down ? 1 : 0), modifiers};
}

struct NoDesktop : DesktopSession {
    int launchers = 0;
    void lockAndTurnDisplayOff(NotLocked) override {}
    void showLauncher() override { ++launchers; }
    void showWindowOverview() override {}
};

} // namespace

TEST(GnomeInput, PointerKeysAndTextReachAWaylandClient) {
    GnomeSession gnome;
    if (!gnome.available()) GTEST_SKIP() << "no headless GNOME session here: " << gnome.reason();
    test::WaylandProbe probe(gnome, "2890e0");
    ASSERT_TRUE(probe.ready()) << probe.log();
    MutterSession::Options o;
    o.busAddress = QString::fromStdString(gnome.busAddress());
    auto session = std::make_shared<MutterSession>(o);
    const std::vector<MutterStream> streams = session->open().streams;
    ASSERT_EQ(streams.size(), 1u);
    auto desktop = std::make_shared<NoDesktop>();
    const auto injector = makeGnomeInputInjector(session, desktop);
    EXPECT_EQ(injector->unavailableReason(), "");
    // The controller sees the 1280 × 720 monitor as a 640 × 360 picture.
    injector->setStreamedArea(StreamedArea{0, 0, 1280, 720, 640, 360});

    // Until the compositor has put the full-screen window in place, it sits elsewhere.
    ASSERT_TRUE(test::pollUntil([&] {
        injector->apply(move(160, 88));
        injector->waitIdle();
        return probe.saw("move 320 176", std::chrono::seconds(0));
    })) << probe.log();
    injector->apply(button(wex::MouseButtonEvent::left, true, 160, 88));
    injector->apply(button(wex::MouseButtonEvent::left, false, 160, 88));
    EXPECT_TRUE(probe.saw("press 1 320 176")) << probe.log();
    EXPECT_TRUE(probe.saw("release 1 320 176")) << probe.log();
    injector->apply(button(wex::MouseButtonEvent::right, true, 300, 200));
    injector->apply(button(wex::MouseButtonEvent::right, false, 300, 200));
    EXPECT_TRUE(probe.saw("press 2 600 400")) << probe.log();

    // A wheel notch up, a key, a chord and typed text with a shifted character.
    injector->apply(wex::ScrollEvent{0, 0, 0, 0, wex::ScrollEvent::notch, 0});
    EXPECT_TRUE(probe.saw("wheel 0 120")) << probe.log();
    injector->apply(key(0x0B, true)); // h
    injector->apply(key(0x0B, false));
    EXPECT_TRUE(probe.saw("text h")) << probe.log();
    injector->apply(key(0x04, true, wex::KeyEvent::control)); // Control+A
    EXPECT_TRUE(probe.saw("key 41 4000000")) << probe.log();
    injector->apply(wex::TextEvent{"Hi!"});
    EXPECT_TRUE(probe.saw("text H")) << probe.log();
    EXPECT_TRUE(probe.saw("text i")) << probe.log();
    EXPECT_TRUE(probe.saw("text !")) << probe.log();

    // Shift held as the controller sends it: a key carries it, typed text is as typed, and a key whose
    // modifier byte no longer names Shift lets go of it first.
    injector->apply(key(0xE1, true, wex::KeyEvent::shift));
    injector->apply(key(0x0D, true, wex::KeyEvent::shift)); // j
    EXPECT_TRUE(probe.saw("text J")) << probe.log();
    injector->apply(wex::TextEvent{"kL"});
    EXPECT_TRUE(probe.saw("text L")) << probe.log();
    injector->apply(key(0x10, true)); // m
    injector->apply(key(0x10, false));
    EXPECT_TRUE(probe.saw("text m")) << probe.log();
    EXPECT_NE(probe.log().find("text k"), std::string::npos) << probe.log();

    // F4 alone is the desktop's app grid, not a key.
    injector->apply(key(0x3D, true));
    injector->waitIdle();
    EXPECT_EQ(desktop->launchers, 1);

    // A key and a button held when the session ends are let go of.
    injector->apply(key(0x05, true)); // b, held
    injector->apply(button(wex::MouseButtonEvent::left, true, 10, 10));
    EXPECT_TRUE(probe.saw("press 1 20 20")) << probe.log();
    injector->releaseAll();
    EXPECT_TRUE(probe.saw("release 1 20 20")) << probe.log();
}
