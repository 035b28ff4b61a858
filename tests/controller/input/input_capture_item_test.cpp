// The input capture item in an offscreen window, driven by synthetic Qt events, sending through the
// real RemoteInput into a fake session client: where the pointer lands, how clicks are counted, how
// wheels scale, when a key goes as text and when as a key, that no modifier stays held, and that only
// the user's own moves over an uncovered picture move the remote pointer.
#include <QGuiApplication>
#include <QQuickWindow>
#include <QTest>

#include <gtest/gtest.h>

#include "../client/InputChannelFake.h"
#include "../ui/GuiTestApp.h"
#include "FakeScheduler.h"
#include "controller/ui/session/InputCaptureItem.h"
#include "controller/ui/session/InteractionModel.h"
#include "controller/ui/session/SessionHud.h"

using namespace dovrel;
using namespace dovrel::controller;
using namespace dovrel::controller::test;
using Entry = wex::InputBatch::Entry;
using namespace std::chrono_literals;

namespace {

void settle() {
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

struct ItemFixture : ::testing::Test {
    dovrel::test::FakeScheduler clock;
    InputChannelFake channel;
    RemoteInput input{channel, clock};
    std::unique_ptr<QQuickWindow> window;
    InputCaptureItem* item = nullptr;
    std::vector<QPointF> clicks;
    quint64 now = 100000;

    void SetUp() override {
        guiApp();
        window = std::make_unique<QQuickWindow>();
        window->resize(800, 600);
        item = new InputCaptureItem(window->contentItem());
        item->setSize(QSizeF(800, 600));
        item->setInput(&input);
        QObject::connect(item, &InputCaptureItem::clicked, [this](QPointF p) { clicks.push_back(p); });
        window->show();
        window->requestActivate();
        settle();
        item->forceActiveFocus();
        // Where the pointer rests as the session opens; the platform's own first hover, if any, is not
        // the test's either.
        hover({799, 599});
        channel.batches.clear();
    }
    void TearDown() override { window.reset(); }

    void mouse(QEvent::Type type, QPointF at, Qt::MouseButton button, quint64 t) {
        // For a move, `button` is the one held.
        const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : button;
        QMouseEvent e(type, at, at, window->mapToGlobal(at), type == QEvent::MouseMove ? Qt::NoButton : button, held,
                      Qt::NoModifier);
        e.setTimestamp(t);
        QCoreApplication::sendEvent(window.get(), &e);
        clock.advance(20ms); // past the pointer's frame interval: every move goes
    }
    void hover(QPointF at) { mouse(QEvent::MouseMove, at, Qt::NoButton, now += 10); }
    void clickAt(QPointF at, quint64 t, Qt::MouseButton b = Qt::LeftButton) {
        mouse(QEvent::MouseButtonPress, at, b, t);
        mouse(QEvent::MouseButtonRelease, at, b, t + 5);
    }
    void keyEvent(QEvent::Type type, int key, Qt::KeyboardModifiers mods, quint32 scan, const QString& text = {}) {
        QKeyEvent e(type, key, mods, scan, 0, 0, text);
        QCoreApplication::sendEvent(window.get(), &e);
    }
    void wheel(QPoint pixels, QPoint angle) {
        QWheelEvent e(QPointF(400, 300), window->mapToGlobal(QPointF(400, 300)), pixels, angle, Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(window.get(), &e);
    }
    std::vector<Entry> take() {
        auto e = channel.events();
        channel.batches.clear();
        return e;
    }
};

wex::InputBatch::Entry scroll(int dx, int dy) {
    return {{}, wex::ScrollEvent{0, 0, 0, static_cast<int16_t>(dx), static_cast<int16_t>(dy), 0}};
}

} // namespace

TEST_F(ItemFixture, PointerMapsOntoThePictureWhereverItIsDrawn) {
    struct Row {
        QSizeF remote;
        QPointF at;
        QPointF cursor;
    };
    const Row rows[] = {
        // Before the first picture the item stands for 1470 x 956, held in 1280 x 720.
        {{0, 0}, {400, 300}, {735, 478}},
        {{0, 0}, {799.99, 599.99}, {1279, 719}},
        // 16:9 in 4:3, halved: bars above and below; the first and last pixels over the picture are the
        // screen's first and last, though each shows two of its columns; over a bar, the picture's edge.
        {{1600, 900}, {0, 75}, {0, 0}},
        {{1600, 900}, {799, 524}, {1599, 899}},
        {{1600, 900}, {1, 76}, {2, 2}},
        {{1600, 900}, {400, 20}, {801, 0}},
        // Scaled down by 0.625, the last column and row too.
        {{1280, 720}, {799, 524}, {1279, 719}},
        {{1280, 720}, {0, 75}, {0, 0}},
        // Doubled: two pixels of the window for each of the screen's.
        {{400, 300}, {0, 0}, {0, 0}},
        {{400, 300}, {1, 1}, {0, 0}},
        {{400, 300}, {2, 3}, {1, 1}},
        {{400, 300}, {799, 599}, {399, 299}},
        // 1:1 in 4:3: bars left and right.
        {{600, 600}, {100, 300}, {0, 300}},
        {{600, 600}, {400, 150}, {300, 150}},
        {{600, 600}, {790, 0}, {599, 0}},
    };
    for (const Row& r : rows) {
        channel.size = r.remote;
        hover(r.at);
        EXPECT_EQ(input.cursor(), r.cursor) << r.at.x() << "," << r.at.y() << " over " << r.remote.width();
        const auto sent = take();
        ASSERT_FALSE(sent.empty());
        EXPECT_EQ(sent.back(), move(r.cursor.x(), r.cursor.y()));
    }
    // A drag beyond the item's edge stays on the screen's edge.
    channel.size = QSizeF(1600, 900);
    mouse(QEvent::MouseButtonPress, {400, 300}, Qt::LeftButton, now += 1000);
    mouse(QEvent::MouseMove, {-50, 900}, Qt::LeftButton, now += 10);
    EXPECT_EQ(input.cursor(), QPointF(0, 899));
    const auto sent = take();
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.back(), move(0, 899, 0x01));
}

TEST_F(ItemFixture, ClicksAreCountedAndADoubleClickEndsAtItsSecondPress) {
    channel.size = QSizeF(800, 600);
    const QPointF p(100, 100);
    clickAt(p, 1000);
    EXPECT_EQ(take(), (std::vector<Entry>{move(100, 100), button(100, 100, 1, true), button(100, 100, 1, false)}));
    // Within the double-click time and distance: 2, then 3, then never more than 3.
    mouse(QEvent::MouseButtonPress, p + QPointF(2, 1), Qt::LeftButton, 1200);
    // Qt's double-click event for the same press counts nothing more.
    mouse(QEvent::MouseButtonDblClick, p + QPointF(2, 1), Qt::LeftButton, 1200);
    mouse(QEvent::MouseButtonRelease, p + QPointF(2, 1), Qt::LeftButton, 1210);
    EXPECT_EQ(take(),
              (std::vector<Entry>{move(102, 101), button(102, 101, 1, true, 2), button(102, 101, 1, false, 2)}));
    clickAt(p, 1400);
    clickAt(p, 1600);
    auto e = take();
    EXPECT_EQ(e[1], button(100, 100, 1, true, 3));
    EXPECT_EQ(e.back(), button(100, 100, 1, false, 3));
    // Too late, or too far: a single click again.
    clickAt(p, 3000);
    clickAt(p + QPointF(40, 0), 3100);
    e = take();
    EXPECT_EQ(e[1], button(100, 100, 1, true, 1));
    EXPECT_EQ(e[4], button(140, 100, 1, true, 1));
    // Right and middle presses go down and up at once; the ripple comes for left and right only.
    clicks.clear();
    clickAt(p, 5000, Qt::RightButton);
    clickAt(p, 6000, Qt::MiddleButton);
    EXPECT_EQ(take(), (std::vector<Entry>{move(100, 100), button(100, 100, 2, true), button(100, 100, 2, false),
                                          move(100, 100), button(100, 100, 3, true), button(100, 100, 3, false)}));
    EXPECT_EQ(clicks, (std::vector<QPointF>{p}));
}

TEST_F(ItemFixture, WheelNotchesAndTouchpadPointsScale) {
    wheel({}, {0, 120});
    wheel({}, {-240, 0});
    wheel({0, -3}, {0, -40});
    wheel({0, 5000}, {0, 0});
    wheel({}, {});
    constexpr int notch = wex::ScrollEvent::notch;
    EXPECT_EQ(take(), (std::vector<Entry>{scroll(0, notch), scroll(-2 * notch, 0), scroll(0, -24), scroll(0, 32767)}));
}

TEST_F(ItemFixture, TextGoesAsTextAndChordsAndSpecialKeysByPlace) {
    keyEvent(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, 38, "a");
    keyEvent(QEvent::KeyPress, Qt::Key_Eacute, Qt::NoModifier, 0, QStringLiteral("é"));
    keyEvent(QEvent::KeyPress, Qt::Key_Semicolon, Qt::NoModifier, 47, ";");
    keyEvent(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, 36, "\r");
    keyEvent(QEvent::KeyPress, Qt::Key_Left, Qt::NoModifier, 113);
    clock.advance(50ms);
    EXPECT_EQ(take(), (std::vector<Entry>{text("a"), text("é"), text(";"), key(0x28, true), key(0x50, true),
                                          key(0x28, false), key(0x50, false)}));

    // Control with the key where Q sits on a French keyboard (A on a US one): the key at that place,
    // carrying control with it.
    keyEvent(QEvent::KeyPress, Qt::Key_Control, Qt::ControlModifier, 37);
    keyEvent(QEvent::KeyPress, Qt::Key_A, Qt::ControlModifier, 24, QString(QChar(1)));
    keyEvent(QEvent::KeyRelease, Qt::Key_Control, Qt::ControlModifier, 37);
    clock.advance(50ms);
    EXPECT_EQ(take(), (std::vector<Entry>{key(0xE0, true, 0x02), key(0x14, true, 0x02), key(0xE0, false),
                                          key(0x14, false, 0x02)}));

    // Shift with a special key: Shift+Tab goes as the chord it is.
    keyEvent(QEvent::KeyPress, Qt::Key_Backtab, Qt::ShiftModifier, 23);
    keyEvent(QEvent::KeyRelease, Qt::Key_Shift, Qt::ShiftModifier, 50);
    clock.advance(50ms);
    EXPECT_EQ(take(), (std::vector<Entry>{key(0xE1, true, 0x01), key(0x2B, true, 0x01), key(0xE1, false),
                                          key(0x2B, false, 0x01)}));

    // Super (command), then C, then Super up; a chord on a key without a usage goes as its character.
    keyEvent(QEvent::KeyPress, Qt::Key_Super_L, Qt::NoModifier, 133);
    keyEvent(QEvent::KeyPress, Qt::Key_C, Qt::MetaModifier, 54, "c");
    keyEvent(QEvent::KeyPress, Qt::Key_BracketLeft, Qt::MetaModifier, 34, QString(QChar(0x1b)));
    keyEvent(QEvent::KeyRelease, Qt::Key_Super_L, Qt::MetaModifier, 133);
    clock.advance(50ms);
    EXPECT_EQ(take(), (std::vector<Entry>{key(0xE3, true, 0x08), key(0x06, true, 0x08), text("["), key(0xE3, false),
                                          key(0x06, false, 0x08)}));
}

TEST_F(ItemFixture, HeldModifiersAreLetGoOfWhenFocusGoes) {
    keyEvent(QEvent::KeyPress, Qt::Key_Shift, Qt::NoModifier, 50);
    keyEvent(QEvent::KeyPress, Qt::Key_Alt, Qt::ShiftModifier, 64);
    EXPECT_EQ(take(), (std::vector<Entry>{key(0xE1, true, 0x1), key(0xE2, true, 0x5)}));

    // Another item takes the keyboard.
    auto* other = new QQuickItem(window->contentItem());
    other->forceActiveFocus();
    EXPECT_EQ(take(), (std::vector<Entry>{key(0xE1, false, 0x4), key(0xE2, false, 0x0)}));
    EXPECT_EQ(input.heldModifiers(), 0);

    // The window goes inactive while control and the left button are held.
    item->forceActiveFocus();
    keyEvent(QEvent::KeyPress, Qt::Key_Control, Qt::NoModifier, 37);
    mouse(QEvent::MouseButtonPress, {10, 10}, Qt::LeftButton, now += 1000);
    take();
    QQuickWindow elsewhere;
    elsewhere.resize(100, 100);
    elsewhere.show();
    elsewhere.requestActivate();
    if (!QTest::qWaitFor([&] { return !window->isActive(); }, 2000))
        window->close(); // a platform that keeps both active: closing takes the focus away too
    settle();
    const auto released = take();
    ASSERT_FALSE(released.empty());
    EXPECT_EQ(released[0], key(0xE0, false));
    EXPECT_EQ(released.back().event.get<wex::MouseButtonEvent>()->state, 0);
    EXPECT_EQ(input.heldModifiers(), 0);
    EXPECT_EQ(input.heldButtons(), 0);
}

TEST_F(ItemFixture, GoingAwayLetsGoOfModifiers) {
    keyEvent(QEvent::KeyPress, Qt::Key_Meta, Qt::NoModifier, 133);
    take();
    window.reset();
    EXPECT_EQ(take(), (std::vector<Entry>{key(0xE3, false)}));
}

TEST_F(ItemFixture, AHoverRepeatedInPlaceIsNoMoveAndLetsTheControlsDim) {
    SessionHud hud(clock);
    QObject::connect(item, &InputCaptureItem::pointerMoved, &hud, &SessionHud::interact);
    hover({200, 200});
    ASSERT_EQ(take().size(), 1u);
    // A moving picture under a resting pointer: Qt hovers again at the same place every frame.
    for (int i = 0; i < 400; ++i) {
        QHoverEvent again(QEvent::HoverMove, {200, 200}, window->mapToGlobal(QPointF(200, 200)), {200, 200});
        QCoreApplication::sendEvent(item, &again);
        clock.advance(20ms);
    }
    EXPECT_TRUE(take().empty());
    EXPECT_FALSE(hud.bright());
    hover({201, 200});
    EXPECT_EQ(take().size(), 1u);
    EXPECT_TRUE(hud.bright());

    // Another window is active: the pointer passing over this one moves nothing.
    QQuickWindow elsewhere;
    elsewhere.resize(100, 100);
    elsewhere.show();
    elsewhere.requestActivate();
    if (!QTest::qWaitFor([&] { return !window->isActive(); }, 2000)) GTEST_SKIP() << "both windows stay active here";
    take();
    hover({300, 300});
    EXPECT_TRUE(take().empty());
}

TEST_F(ItemFixture, OnlyAPointerThatMovesOverThePictureMovesTheRemoteOneAndACoverStopsEverything) {
    // A new item under a resting pointer, then moved under it as the picture is fitted: Qt hovers at the
    // resting pointer each time, in the item's coordinates.
    delete item;
    item = new InputCaptureItem(window->contentItem());
    item->setSize(QSizeF(700, 600));
    item->setInput(&input);
    const QPointF resting = window->mapToGlobal(QPointF(300, 200));
    const auto hoverAt = [&](QEvent::Type type, QPointF local, QPointF global) {
        QHoverEvent e(type, local, global, local);
        QCoreApplication::sendEvent(item, &e);
        clock.advance(20ms);
    };
    hoverAt(QEvent::HoverEnter, {300, 200}, resting);
    item->setX(50);
    hoverAt(QEvent::HoverMove, {250, 200}, resting);
    EXPECT_TRUE(take().empty());
    hoverAt(QEvent::HoverMove, {251, 200}, resting + QPointF(1, 0));
    EXPECT_EQ(take().size(), 1u);

    // Covered (a dialog over the picture): held keys go, and nothing of the pointer, keys or wheel
    // reaches the remote machine.
    item->forceActiveFocus();
    keyEvent(QEvent::KeyPress, Qt::Key_Shift, Qt::NoModifier, 50);
    take();
    item->setEnabled(false);
    EXPECT_EQ(take(), (std::vector<Entry>{key(0xE1, false)}));
    hover({410, 320});
    hover({420, 330});
    mouse(QEvent::MouseButtonPress, {420, 330}, Qt::LeftButton, now += 1000);
    mouse(QEvent::MouseButtonRelease, {420, 330}, Qt::LeftButton, now += 10);
    keyEvent(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, 38, "a");
    wheel({}, {0, 120});
    EXPECT_TRUE(take().empty());
    // Uncovered: where the pointer rests is no move, the keyboard is the picture's again, and the next
    // move goes.
    item->setEnabled(true);
    hover({420, 330});
    EXPECT_TRUE(take().empty());
    EXPECT_TRUE(item->hasActiveFocus());
    keyEvent(QEvent::KeyPress, Qt::Key_B, Qt::NoModifier, 56, "b");
    hover({421, 330});
    EXPECT_EQ(take().size(), 2u);
}

TEST(InteractionModelTest, MarkerRippleAndMode) {
    guiApp();
    dovrel::test::FakeScheduler clock;
    InteractionModel model(clock, QColor::fromRgbF(0.063f, 0.725f, 0.506f));
    EXPECT_EQ(model.mode(), "hybrid");
    EXPECT_FALSE(model.showCursorMarker());
    model.setMode("relative");
    model.setMode("sideways");
    EXPECT_EQ(model.mode(), "relative");
    EXPECT_EQ(model.modes(), (QStringList{"direct", "relative", "hybrid"}));

    model.pointerAt({12, 34});
    EXPECT_TRUE(model.showCursorMarker());
    EXPECT_EQ(model.cursorScreen(), QPointF(12, 34));

    model.clickAt({1, 1});
    const QUuid first = model.rippleId();
    clock.advance(300ms);
    model.clickAt({2, 2});
    EXPECT_NE(model.rippleId(), first);
    clock.advance(250ms); // the first ripple's time is up: the second stays
    ASSERT_TRUE(model.hasRipple());
    EXPECT_EQ(model.rippleCenter(), QPointF(2, 2));
    EXPECT_EQ(model.rippleKind(), "left");
    EXPECT_EQ(model.rippleColor(), QColor::fromRgbF(0.063f, 0.725f, 0.506f));
    clock.advance(250ms);
    EXPECT_FALSE(model.hasRipple());
}
