// The controller's own title area on GNOME's Wayland session (a headless mutter of the test's own),
// driven by the compositor's remote-desktop pointer: a drag on the header hands the real
// DovrelController to the compositor to move. A Wayland client cannot see where its window is, but a
// maximised window is at the screen's corner, and the compositor takes a window it moves out of that,
// giving it back its size, which the controller's own pictures of its window (-windowSnapshot) show.
#include <chrono>
#include <optional>

#include <QCoreApplication>
#include <QImage>

#include <gtest/gtest.h>

#include "../../support/FileText.h"
#include "../../support/GnomeSession.h"
#include "../../support/TempHome.h"
#include "../../support/WaylandProbe.h"
#include "agent/gnome/MutterSession.h"

using namespace std::chrono_literals;
using dovrel::test::pollUntil;

TEST(TitleAreaWaylandE2E, ADragOnTheHeaderHandsTheWindowToTheCompositorToMove) {
    dovrel::test::GnomeSession gnome({{1920, 1080, 0}});
    if (!gnome.available()) GTEST_SKIP() << "no headless GNOME session here: " << gnome.reason();
    static int argc = 1;
    static char name[] = "controller_window_wayland", *argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) new QCoreApplication(argc, argv); // Qt's D-Bus wants one

    dovrel::test::TempDir home;
    const std::string snapshot = home.file("window.png");
    dovrel::test::ChildProcess controller;
    dovrel::test::ChildProcess::Options o;
    o.env = gnome.env();
    o.env["HOME"] = home.str();
    o.env["QT_QPA_PLATFORM"] = "wayland";
    o.env["QT_QUICK_BACKEND"] = "software";
    o.logFile = home.file("controller.out");
    ASSERT_TRUE(controller.start({DOVREL_CONTROLLER_BINARY, "-windowSnapshot", snapshot}, o));
    const auto size = [&] { return QImage(QString::fromStdString(snapshot)).size(); };
    ASSERT_TRUE(pollUntil([&] { return size() == QSize(1120, 760); }, 60s))
        << dovrel::test::readFile(home.file("controller.out"));

    dovrel::agent::MutterSession::Options mo;
    mo.busAddress = QString::fromStdString(gnome.busAddress());
    dovrel::agent::MutterSession session(mo);
    const auto streams = session.open().streams;
    ASSERT_EQ(streams.size(), 1u);
    session.setPointerStream(streams[0].path);
    int x = 300, y = 30; // on the maximised window's header, past the wordmark
    const auto pointer = [&](int dx, int dy, std::optional<bool> button = {}) {
        session.pointerMotion(x += dx, y += dy);
        if (button) session.pointerButton(0x110, *button); // evdev's left button
        session.waitIdle();
    };

    // Maximised by the compositor's own keys (Super+Up), the window's header is at the screen's top.
    int tries = 0;
    ASSERT_TRUE(pollUntil([&] {
        if (tries++ % 50 == 0)
            for (const bool down : {true, false})
                for (const uint32_t key : {0xffebu, 0xff52u}) // Super_L, Up
                    session.keysym(key, down);
        return size() == QSize(1920, 1080);
    })) << "the window never took the compositor's maximise keys";

    // A tap on the header (press and release back to back) hands nothing to the compositor: the window
    // answers the pointer after it, its maximise button lighting up under it, and stays maximised.
    pointer(0, 0, true);
    pointer(0, 0, false);
    const auto lit = [&] {
        const QImage picture(QString::fromStdString(snapshot));
        return picture.size() == QSize(1920, 1080) && qGray(picture.pixel(1920 - 82, 40)) * 3 > 127;
    };
    pointer(1920 - 73 - x, 40 - y);
    EXPECT_TRUE(pollUntil(lit)) << "the window did not answer the pointer after a tap on its header";
    EXPECT_EQ(size(), QSize(1920, 1080));
    pointer(300 - x, 30 - y);
    ASSERT_TRUE(pollUntil([&] { return !lit(); }));

    // A drag on the header: the compositor moves the window out of its maximised place.
    pointer(0, 0, true);
    const bool moved = pollUntil([&] {
        pointer(x < 500 ? 4 : 0, y < 180 ? 3 : 0);
        pointer(1, 0);
        pointer(-1, 0);
        return size() == QSize(1120, 760);
    });
    pointer(0, 0, false);
    EXPECT_TRUE(moved) << "a drag on the maximised window's header did not move it";
}
