// The sending side of remote input against a fake session client on a fake clock: typed text cut into
// batches, key timing, shortcuts and commands by the kind of machine, pointer coalescing, modifiers,
// input outside a session, the self-test's script and the demo's numbers.
#include <gtest/gtest.h>

#include "ClientTestSupport.h"
#include "InputChannelFake.h"
#include "controller/client/input/InputSelfTest.h"
#include "controller/client/input/TextTyping.h"
#include "controller/client/session/InputBinding.h"
#include "controller/platform/UserDefaults.h"

using namespace dovrel;
using namespace dovrel::controller;
using namespace dovrel::controller::test;
using Entry = wex::InputBatch::Entry;

namespace {

struct InputFixture : ::testing::Test {
    dovrel::test::FakeScheduler clock;
    InputChannelFake channel;
    RemoteInput input{channel, clock};
    void SetUp() override { app(); }
};

bool validUtf8(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())).toUtf8() == QByteArray::fromStdString(s);
}

} // namespace

TEST(TypedText, LinesBecomeTextEventsWithReturnBetweenThem) {
    auto b = typedTextBatches("a\nb", RemoteInput::maxPayload);
    ASSERT_EQ(b.size(), 1u);
    EXPECT_EQ(b[0].events, (std::vector<Entry>{text("a"), key(0x28, true), key(0x28, false), text("b")}));

    b = typedTextBatches("\n\n", RemoteInput::maxPayload);
    ASSERT_EQ(b.size(), 1u);
    EXPECT_EQ(b[0].events, (std::vector<Entry>{key(0x28, true), key(0x28, false), key(0x28, true), key(0x28, false)}));

    // CR LF is one line break.
    b = typedTextBatches("x\r\ny", RemoteInput::maxPayload);
    ASSERT_EQ(b.size(), 1u);
    EXPECT_EQ(b[0].events.size(), 4u);

    std::string sixty;
    for (int i = 0; i < 60; ++i)
        sixty += "l" + std::to_string(i) + (i < 59 ? "\n" : "");
    b = typedTextBatches(sixty, RemoteInput::maxPayload);
    ASSERT_EQ(b.size(), 2u);
    EXPECT_EQ(b[0].events.size(), 120u); // 40 lines: 40 texts and 80 keys
    EXPECT_EQ(b[1].events.size(), 20u + 19u * 2u);
    EXPECT_TRUE(typedTextBatches("", RemoteInput::maxPayload).empty());
}

TEST(TypedText, LongTextIsCutToFitBetweenCharactersAndNothingIsLost) {
    // Long lines of multi-byte characters, many short lines, CR LF breaks.
    std::string original;
    for (int i = 0; i < 30000; ++i)
        original += "é€😀";
    original += "\r\n";
    for (int i = 0; i < 700; ++i)
        original += "ab\n";
    original += std::string(70000, 'z');

    std::string typed;
    for (const auto& batch : typedTextBatches(original, 1000)) {
        ASSERT_FALSE(batch.events.empty());
        ASSERT_LE(batch.events.size(), 255u);
        ASSERT_LE(batch.encode().size(), 1000u);
        for (const auto& e : batch.events) {
            if (const auto* t = e.event.get<wex::TextEvent>()) {
                ASSERT_FALSE(t->text.empty());
                ASSERT_TRUE(validUtf8(t->text));
                typed += t->text;
            } else if (const auto* k = e.event.get<wex::KeyEvent>(); k && k->pressed()) {
                typed += '\n';
            }
        }
    }
    std::string expected = original;
    expected.erase(expected.find('\r'), 1);
    EXPECT_EQ(typed, expected);
}

TEST_F(InputFixture, KeysAreReleasedAfter45msAndSelectAllAndCopyFollowsTheTargetsModifier) {
    input.selectAllAndCopy();
    EXPECT_EQ(channel.events(), (std::vector<Entry>{key(0x04, true, 0x8)}));
    clock.advance(std::chrono::milliseconds(44));
    EXPECT_EQ(channel.events().size(), 1u);
    clock.advance(std::chrono::milliseconds(1));
    EXPECT_EQ(channel.events().back(), key(0x04, false, 0x8));
    clock.advance(std::chrono::milliseconds(15));
    EXPECT_EQ(channel.events().back(), key(0x06, true, 0x8));
    clock.advance(std::chrono::milliseconds(45));
    EXPECT_EQ(channel.events().back(), key(0x06, false, 0x8));

    channel.batches.clear();
    input.setTargetKindName("linux");
    input.selectAllAndCopy();
    clock.advance(std::chrono::milliseconds(200));
    EXPECT_EQ(channel.events(), (std::vector<Entry>{key(0x04, true, 0x2), key(0x04, false, 0x2), key(0x06, true, 0x2),
                                                    key(0x06, false, 0x2)}));
}

TEST_F(InputFixture, CommandsFollowTheKindOfMachine) {
    input.lockScreen();
    input.sendCtrlAltDel();
    input.launchpad();
    input.rest(true);
    clock.advance(std::chrono::milliseconds(100));
    EXPECT_EQ(channel.events(), (std::vector<Entry>{key(0x14, true, 0x0A), key(0x4C, true, 0x06),
                                                    key(0x14, false, 0x0A), key(0x4C, false, 0x06)}));
    EXPECT_EQ(channel.commands, (std::vector{wex::SessionCmd::showLaunchpad, wex::SessionCmd::restOn}));

    channel.batches.clear();
    channel.commands.clear();
    input.setTargetKind(TargetKind::windows);
    input.lockScreen();
    input.sendCtrlAltDel();
    input.launchpad();
    clock.advance(std::chrono::milliseconds(100));
    EXPECT_EQ(channel.commands, (std::vector{wex::SessionCmd::lockWorkstation, wex::SessionCmd::ctrlAltDel}));
    EXPECT_EQ(channel.events(), (std::vector<Entry>{key(0xE3, true), key(0xE3, false)}));

    channel.batches.clear();
    channel.commands.clear();
    input.setTargetKind(TargetKind::linuxDesktop);
    input.lockScreen();
    input.sendCtrlAltDel();
    clock.advance(std::chrono::milliseconds(100));
    EXPECT_EQ(channel.commands, (std::vector{wex::SessionCmd::lockWorkstation}));
    EXPECT_EQ(channel.events(), (std::vector<Entry>{key(0x4C, true, 0x06), key(0x4C, false, 0x06)}));

    input.switchDisplay(2);
    input.switchDisplay(256);
    EXPECT_EQ(channel.displays, (std::vector{2}));
}

TEST_F(InputFixture, NotificationCentreClicksTheTopRightCornerOfAMac) {
    channel.size = QSizeF(2560, 1600);
    input.notificationCenter();
    ASSERT_EQ(channel.batches.size(), 2u);
    EXPECT_EQ(channel.batches[0].events, (std::vector<Entry>{move(2510, 11)}));
    EXPECT_EQ(channel.batches[1].events, (std::vector<Entry>{button(2510, 11, 1, true), button(2510, 11, 1, false)}));
}

TEST_F(InputFixture, AThousandMovesASecondAreCoalescedWithoutPassingClicks) {
    channel.rate = 60;
    for (int ms = 0; ms < 200; ++ms) {
        input.pointerTo({double(ms), 5});
        if (ms == 100) input.click(1, 1);
        clock.advance(std::chrono::milliseconds(1));
    }
    clock.advance(std::chrono::milliseconds(50));
    int moves = 0;
    double lastX = -1;
    const auto events = channel.events();
    for (std::size_t i = 0; i < events.size(); ++i) {
        if (const auto* m = events[i].event.get<wex::MouseMoveEvent>()) {
            ++moves;
            EXPECT_GT(m->x / 65536.0, lastX); // never out of order
            lastX = m->x / 65536.0;
        } else if (const auto* b = events[i].event.get<wex::MouseButtonEvent>(); b && b->pressed()) {
            // The click lands where the pointer was last put: that move goes right before it.
            ASSERT_GT(i, 0u);
            EXPECT_EQ(events[i - 1], move(100, 5));
        }
    }
    EXPECT_LE(moves, 200 / 16 + 3);
    EXPECT_GE(moves, 200 / 17);
    EXPECT_EQ(events.back(), move(199, 5)); // the newest position is never lost
}

TEST_F(InputFixture, InputWithoutASessionIsDroppedAndNeverReachesALaterOne) {
    input.sendKey(4, 0); // session 1: the release is due in 45 ms
    channel.session = 0;
    input.typeText("lost");
    input.pointerTo({5, 5});
    input.mouseDown(1);
    input.rest(true);
    channel.session = 2;
    clock.advance(std::chrono::milliseconds(500));
    EXPECT_EQ(channel.events(), (std::vector<Entry>{key(4, true)}));
    EXPECT_TRUE(channel.commands.empty());
    EXPECT_EQ(input.heldButtons(), 0);
}

TEST_F(InputFixture, ModifiersAreMirroredInOrderAndLetGoOf) {
    input.setModifiers(RemoteInput::control | RemoteInput::shift);
    input.setModifiers(RemoteInput::control | RemoteInput::shift); // no change, nothing sent
    input.mouseDown(1);
    input.releaseHeld();
    // Each key event carries what is held once it has gone.
    EXPECT_EQ(channel.events(),
              (std::vector<Entry>{key(0xE1, true, 0x1), key(0xE0, true, 0x3), button(640, 360, 1, true),
                                  key(0xE1, false, 0x2), key(0xE0, false, 0x0), button(640, 360, 1, false)}));

    // A modifier let go of is released again in front of the next press and the next scroll, once.
    channel.batches.clear();
    input.setModifiers(RemoteInput::shift);
    input.setModifiers(RemoteInput::control);
    input.click(1, 1);
    input.scroll(0, 8);
    input.setModifiers(0);
    input.scroll(0, 8);
    EXPECT_EQ(channel.events(),
              (std::vector<Entry>{key(0xE1, true, 0x1), key(0xE1, false, 0x0), key(0xE0, true, 0x2),
                                  key(0xE1, false, 0x2), button(640, 360, 1, true), button(640, 360, 1, false),
                                  Entry{{}, wex::ScrollEvent{0, 0, 0, 0, 8, 0}}, key(0xE0, false, 0x0),
                                  key(0xE0, false, 0x0), Entry{{}, wex::ScrollEvent{0, 0, 0, 0, 8, 0}}}));

    // A new session starts with nothing held: control goes down again.
    channel.session = 3;
    channel.batches.clear();
    input.setModifiers(RemoteInput::control);
    EXPECT_EQ(channel.events(), (std::vector<Entry>{key(0xE0, true, 0x2)}));
}

TEST_F(InputFixture, SelfTestPlaysItsScriptInsideTheRemoteBounds) {
    InputSelfTest test(input, channel, clock);
    channel.size = QSizeF(800, 500);
    test.run();
    EXPECT_EQ(channel.status.toStdString(), "input self-test…");
    clock.advance(std::chrono::milliseconds(499));
    EXPECT_TRUE(channel.batches.empty());
    clock.advance(std::chrono::milliseconds(3220));
    const std::vector<Entry> expected{move(120, 120),
                                      move(640, 360),
                                      move(799, 499),
                                      move(640, 360),
                                      button(640, 360, 1, true),
                                      button(640, 360, 1, false),
                                      button(640, 360, 2, true),
                                      button(640, 360, 2, false),
                                      button(640, 360, 1, true, 2),
                                      button(640, 360, 1, false, 2),
                                      Entry{{}, wex::ScrollEvent{0, 0, 0, 0, -320, 0}},
                                      text("hello from my phone"),
                                      key(0x28, true)};
    EXPECT_EQ(channel.events(), expected);
    clock.advance(std::chrono::milliseconds(100));
    EXPECT_EQ(channel.events().back(), key(0x28, false));
    EXPECT_EQ(channel.batches.size(), 11u);
}

TEST_F(InputFixture, ASelfTestStillPlayingWhenTheNextSessionStartsPlaysToItsEnd) {
    InputSelfTest test(input, channel, clock);
    test.run();
    clock.advance(std::chrono::milliseconds(2000));
    test.run();
    clock.advance(std::chrono::milliseconds(6000));
    int typed = 0;
    for (const auto& e : channel.events())
        typed += e == text("hello from my phone");
    EXPECT_EQ(typed, 2);
}

TEST(SelfTestRequest, IsDecidedAtEachSession) {
    ClientFixture f(true);
    WEXClient& c = f.make();
    auto input = makeRemoteInput(c, *f.fake);
    auto defaults = std::make_shared<UserDefaults>(f.config.settingsPath);
    const auto test = makeInputSelfTest(c, *input, *f.fake, defaults, {"DovrelController"});
    emit c.sessionEstablished();
    EXPECT_NE(f.status(), "input self-test…");
    defaults->setString("inputSelfTest", "yes"); // set while the program runs
    emit c.sessionEstablished();
    EXPECT_EQ(f.status(), "input self-test…");
}

TEST(SelfTestRequest, ComesFromTheLaunchOrTheSetting) {
    dovrel::test::TempDir dir;
    UserDefaults defaults(dir.file("c.ini"));
    EXPECT_FALSE(InputSelfTest::requested(defaults, {"DovrelController"}));
    EXPECT_TRUE(InputSelfTest::requested(defaults, {"DovrelController", "-inputSelfTest"}));
    EXPECT_TRUE(InputSelfTest::requested(defaults, {"DovrelController", "-inputSelfTest", "YES", "-demo"}));
    EXPECT_FALSE(InputSelfTest::requested(defaults, {"DovrelController", "-inputSelfTest", "NO"}));
    defaults.setString("inputSelfTest", "true");
    EXPECT_TRUE(InputSelfTest::requested(defaults, {}));
}

TEST(DemoSession, LatencyWalksItsListEveryTwoSeconds) {
    ClientFixture f(true);
    WEXClient& c = f.make();
    c.startDemo();
    EXPECT_EQ(c.phaseKind(), PhaseKind::connected);
    EXPECT_EQ(c.latencyMs(), 22);
    EXPECT_EQ(c.remoteSize(), QSizeF(1470, 956));
    const auto tick = [&] {
        c.runOnClientThread([&](ClientCore&) { f.fake->advance(std::chrono::seconds(2)); });
        pump(std::chrono::milliseconds(20));
        return c.latencyMs();
    };
    EXPECT_EQ(tick(), 24);
    EXPECT_EQ(tick(), 19);
    for (int i = 0; i < 3; ++i)
        tick();
    EXPECT_EQ(tick(), 22); // the sixth tick starts the list again
    EXPECT_EQ(tick(), 24);
    c.disconnectSession();
    pump(std::chrono::milliseconds(20));
    c.runOnClientThread([&](ClientCore&) { EXPECT_EQ(f.fake->pendingTimers(), 0u); });
}

TEST_F(InputFixture, EveryBatchSentForTheSessionCountsAsActivity) {
    int sent = 0;
    QObject::connect(&input, &RemoteInput::inputSent, [&] { ++sent; });
    input.typeText("hi");
    EXPECT_EQ(sent, 1);
    channel.session = 0; // no session: nothing leaves, nothing counts
    input.typeText("lost");
    EXPECT_EQ(sent, 1);
}
