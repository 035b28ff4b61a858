// The controller's own title area on GNOME's Wayland session (a headless mutter of the test's own): the
// real DovrelController, driven by the compositor's remote-desktop pointer, is maximised by a double
// click on its header, taken out of that by a drag on the header (the compositor moves it), resized
// from its right edge and closed by its button. A Wayland client cannot see where its window is: a
// full-screen window of the test's own behind it says which points the controller leaves uncovered,
// and the controller's own pictures of its window (-windowSnapshot) say its size.
#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include <QCoreApplication>
#include <QImage>
#include <QString>

#include <gtest/gtest.h>

#include "../../support/FileText.h"
#include "../../support/GnomeSession.h"
#include "../../support/TempHome.h"
#include "../../support/WaylandProbe.h"
#include "agent/gnome/MutterSession.h"

using namespace std::chrono_literals;
using dovrel::agent::MutterSession;
using dovrel::test::pollUntil;

namespace {

constexpr int32_t leftButton = 0x110; // evdev's BTN_LEFT
constexpr int screenW = 1920, screenH = 1080;
// Where the deck's header and its close button are in the window (as in the X11 test).
constexpr int headerFreeX = 300, headerY = 30, closeFromRight = 37, closeY = 40;

// Qt's D-Bus wants an application object before any connection.
void coreApp() {
    static int argc = 1;
    static char name[] = "controller_window_wayland";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) new QCoreApplication(argc, argv);
}

class Pointer {
public:
    Pointer(MutterSession& session, dovrel::test::WaylandProbe& probe) : session_(session), probe_(probe) {}

    void moveTo(int x, int y) {
        x_ = x;
        y_ = y;
        session_.pointerMotion(x, y);
        session_.waitIdle();
    }
    void button(bool down) {
        session_.pointerButton(leftButton, down);
        session_.waitIdle();
    }
    void click(int x, int y) {
        moveTo(x, y);
        button(true);
        button(false);
    }
    int x() const { return x_; }
    int y() const { return y_; }

    // Whether (x, y) shows the test's window behind the controller: the pointer goes there and a point
    // on, then to a corner the controller leaves uncovered and a point on; once the window behind saw
    // the pointer move at the corner, it saw it move at (x, y) first if it could. (A window the pointer
    // enters sees it move only where it moves within it: hence each point and a point on.)
    bool uncovered(int x, int y) {
        const std::size_t from = probe_.log().size();
        moveTo(x, y);
        moveTo(x + 1, y);
        moveTo(cornerX_, cornerY_);
        moveTo(cornerX_ - 1, cornerY_);
        const std::string here = "move " + std::to_string(x + 1) + " " + std::to_string(y) + "\n";
        const std::string corner = "move " + std::to_string(cornerX_ - 1) + " " + std::to_string(cornerY_) + "\n";
        std::string seen;
        pollUntil([&] {
            seen = probe_.log().substr(from);
            return seen.find(corner) != std::string::npos;
        });
        const std::size_t at = seen.find(here);
        return at != std::string::npos && at < seen.find(corner);
    }
    void useCorner(int x, int y) {
        cornerX_ = x;
        cornerY_ = y;
    }

private:
    MutterSession& session_;
    dovrel::test::WaylandProbe& probe_;
    int x_ = 0, y_ = 0;
    int cornerX_ = 2, cornerY_ = 2;
};

// The first point of [lo, hi] that the window covers along a line, the points before it uncovered.
int firstCovered(int lo, int hi, const std::function<bool(int)>& uncoveredAt) {
    while (lo < hi) {
        const int mid = (lo + hi) / 2;
        (uncoveredAt(mid) ? lo = mid + 1 : hi = mid);
    }
    return lo;
}

} // namespace

TEST(TitleAreaWaylandE2E, TheHeaderMaximisesAndMovesTheWindowItsEdgeResizesItAndCloseEndsIt) {
    dovrel::test::GnomeSession gnome({{screenW, screenH, 0}});
    if (!gnome.available()) GTEST_SKIP() << "no headless GNOME session here: " << gnome.reason();
    coreApp();
    dovrel::test::WaylandProbe probe(gnome, "2890e0");
    ASSERT_TRUE(probe.ready()) << probe.log();

    dovrel::test::TempDir home;
    const std::string snapshot = home.file("window.png");
    dovrel::test::ChildProcess controller;
    dovrel::test::ChildProcess::Options o;
    o.env = gnome.env();
    o.env.insert_or_assign("HOME", home.str());
    o.env.insert_or_assign("XDG_CONFIG_HOME", home.file(".config"));
    o.env.insert_or_assign("XDG_DATA_HOME", home.file(".local/share"));
    o.env.insert_or_assign("QT_QPA_PLATFORM", "wayland");
    o.env.insert_or_assign("QT_QUICK_BACKEND", "software");
    o.logFile = home.file("controller.out");
    ASSERT_TRUE(controller.start({DOVREL_CONTROLLER_BINARY, "-windowSnapshot", snapshot}, o));
    const auto size = [&] { return QImage(QString::fromStdString(snapshot)).size(); };
    ASSERT_TRUE(pollUntil([&] { return size() == QSize(1120, 760); }, 60s))
        << "the controller's window did not come up; its output:\n"
        << dovrel::test::readFile(home.file("controller.out"));

    MutterSession::Options mo;
    mo.busAddress = QString::fromStdString(gnome.busAddress());
    MutterSession session(mo);
    const auto streams = session.open().streams;
    ASSERT_EQ(streams.size(), 1u);
    session.setPointerStream(streams[0].path);
    Pointer pointer(session, probe);

    // Where the window is: it covers the middle of the screen, and one corner at most.
    pointer.useCorner(screenW - 3, screenH - 3);
    if (!pointer.uncovered(screenW - 6, screenH - 3)) pointer.useCorner(3, 3);
    ASSERT_TRUE(pollUntil([&] { return !pointer.uncovered(screenW / 2, screenH / 2); }))
        << "the controller's window never covered the middle of the screen";
    const int left = firstCovered(0, screenW / 2, [&](int x) { return pointer.uncovered(x, screenH / 2); });
    const int top = firstCovered(0, screenH / 2, [&](int y) { return pointer.uncovered(screenW / 2, y); });

    // A double click on the header maximises it.
    pointer.click(left + headerFreeX, top + headerY);
    pointer.click(left + headerFreeX, top + headerY);
    EXPECT_TRUE(pollUntil([&] { return size() == QSize(screenW, screenH); }))
        << "a double click on the header did not maximise: " << size().width();

    // A drag on the header takes it out of that: the compositor moves it, giving it back its size.
    pointer.moveTo(headerFreeX, headerY);
    pointer.button(true);
    bool rock = false;
    const bool unmaximised = pollUntil([&] {
        if (pointer.x() < headerFreeX + 200)
            pointer.moveTo(pointer.x() + 4, pointer.y() + 3);
        else
            pointer.moveTo(pointer.x() + ((rock = !rock) ? 1 : -1), pointer.y());
        return size() == QSize(1120, 760);
    });
    pointer.button(false);
    EXPECT_TRUE(unmaximised) << "a drag on the header of the maximised window did not move it: " << size().width();

    // Its right edge makes it wider.
    // Let go where the header is, the pointer stands over the window moved out of the maximised place.
    const int letGoX = pointer.x(), letGoY = pointer.y();
    const int movedLeft = firstCovered(0, letGoX, [&](int x) { return pointer.uncovered(x, letGoY); });
    const int movedTop = firstCovered(0, letGoY, [&](int y) { return pointer.uncovered(letGoX, y); });
    EXPECT_GT(movedLeft, 0) << "the window stayed where the maximised one was";
    pointer.moveTo(movedLeft + 1120 - 2, movedTop + 380);
    pointer.button(true);
    const int edge = pointer.x();
    const bool wider = pollUntil([&] {
        if (pointer.x() < edge + 100)
            pointer.moveTo(pointer.x() + 4, pointer.y());
        else
            pointer.moveTo(pointer.x() + ((rock = !rock) ? 1 : -1), pointer.y());
        return size().width() > 1120;
    });
    pointer.button(false);
    EXPECT_TRUE(wider) << "the right edge did not resize the window";
    EXPECT_LE(size().width(), 1120 + 110);

    // Its close button ends the program.
    const int width = size().width();
    pointer.click(movedLeft + width - closeFromRight, movedTop + closeY);
    EXPECT_TRUE(controller.wait(20s).has_value()) << "the close button did not end the program";
}
