// The pure parts of injection: key table, characters to keysyms, wheel clicks, picture to screen.
#include <gtest/gtest.h>

#include "agent/core/ScrollAccumulator.h"
#include "agent/core/StreamedArea.h"
#include "agent/desktop/HidKeysyms.h"
#include "protocol/InputMessages.h"

using namespace dovrel;
using namespace dovrel::agent;
using namespace std::chrono_literals;

TEST(HidKeys, PunctuationKeypadAndUnknownKeysAreDroppedAndModifiersAreKeys) {
    // Controllers send punctuation and keypad keys as text; the key table does not guess at layouts.
    for (uint16_t u : {0x00, 0x01, 0x2D, 0x33, 0x35, 0x38, 0x39, 0x46, 0x53, 0x59, 0x62, 0x68, 0xDF, 0xE8, 0xFFFF})
        EXPECT_FALSE(hidKeyForUsage(u)) << std::hex << u;
    // Each modifier key stands for its bit; a map without the right-hand key falls back to the left.
    EXPECT_EQ(hidKeyForUsage(0xE0), (HidKey{keysym::controlL, keysym::controlR}));
    EXPECT_EQ(hidKeyForUsage(0xE3), (HidKey{keysym::superL, keysym::superR}));
    EXPECT_EQ(hidKeyForUsage(0xE6), (HidKey{keysym::altR, keysym::altL}));
    EXPECT_EQ(hidKeyForUsage(0x58), (HidKey{keysym::keypadEnter, keysym::returnKey}));
    EXPECT_EQ(wex::KeyEvent::modifierBitOf(0xE0), 0x2);
    EXPECT_EQ(wex::KeyEvent::modifierBitOf(0xE3), 0x8);
    EXPECT_EQ(wex::KeyEvent::modifierBitOf(0xE6), 0x4);
    EXPECT_EQ(wex::KeyEvent::modifierBitOf(0x58), 0);
}

TEST(CharacterKeysyms, Latin1IsItselfTheRestIsUnicodeAndControlsTypeNothing) {
    EXPECT_EQ(keysymForCharacter(U'~'), 0x7Eu);
    EXPECT_EQ(keysymForCharacter(U'é'), 0xE9u);
    EXPECT_EQ(keysymForCharacter(U'€'), 0x010020ACu);
    EXPECT_EQ(keysymForCharacter(U'😀'), 0x0101F600u);
    EXPECT_EQ(keysymForCharacter(U'\r'), keysym::returnKey);
    for (char32_t c : {0x00, 0x07, 0x1B, 0x7F, 0x85, 0x9F, 0xD800, 0x110000})
        EXPECT_FALSE(keysymForCharacter(c));
}

TEST(ScrollClicks, OneClickPerNotchWithTheRestCarried) {
    ScrollAccumulator s;
    Instant t{};
    constexpr int notch = wex::ScrollEvent::notch;
    EXPECT_EQ(notch, 384); // 48 pixels in eighths: what the controller sends for one notch
    EXPECT_EQ(s.add(0, notch, t), (ScrollAccumulator::Clicks{1, 0}));
    EXPECT_EQ(s.add(0, notch * 2 + notch / 2, t), (ScrollAccumulator::Clicks{2, 0})); // half a notch carried
    EXPECT_EQ(s.add(0, notch / 2 - 1, t), (ScrollAccumulator::Clicks{0, 0}));
    EXPECT_EQ(s.add(0, 1, t), (ScrollAccumulator::Clicks{1, 0}));
    EXPECT_EQ(s.add(-3 * notch, 0, t), (ScrollAccumulator::Clicks{0, -3}));
    EXPECT_EQ(s.add(0, 0, t), (ScrollAccumulator::Clicks{0, 0}));
    EXPECT_EQ(s.add(INT16_MIN, INT16_MAX, t + 1s), (ScrollAccumulator::Clicks{85, -85}));
}

TEST(ScrollClicks, AFreshGestureClicksAtOnceAndATurnDropsWhatWasCarried) {
    ScrollAccumulator s;
    Instant t{};
    // One Mac wheel notch is a line: 8 units.
    EXPECT_EQ(s.add(0, 8, t).vertical, 1);
    EXPECT_EQ(s.add(0, 8, t + 10ms).vertical, 0);     // the same gesture goes on accumulating
    EXPECT_EQ(s.add(0, 8, t + 400ms).vertical, 1);    // after a pause a notch clicks again
    EXPECT_EQ(s.add(0, 7, t + 800ms).vertical, 0);    // less than a pixel is a trackpad's drift
    EXPECT_EQ(s.add(0, 370, t + 810ms).vertical, 0);  // 7 + 370 carried
    EXPECT_EQ(s.add(0, -10, t + 820ms).vertical, -1); // the turn clicks the new way at once
    EXPECT_EQ(s.add(0, -380, t + 830ms).vertical, 0); // nothing of the old way is carried
    EXPECT_EQ(s.add(0, -10, t + 840ms).vertical, -1);
    // A trackpad swipe of 400 points: one click at once, then one per 48 points.
    ScrollAccumulator swipe;
    int clicks = 0;
    for (int i = 0; i < 50; ++i)
        clicks += swipe.add(0, 64, t + i * 8ms).vertical;
    EXPECT_EQ(clicks, 1 + (49 * 64) / 384);
    swipe.reset();
    EXPECT_EQ(swipe.add(0, 16, t + 401ms).vertical, 1);
}

TEST(StreamedAreaMapping, PicturePixelsScaleOntoTheMonitorAndStayOnIt) {
    const auto q = [](double v) { return static_cast<int32_t>(v * 65536.0); };
    const StreamedArea whole{0, 0, 1920, 1080, 0, 0};
    EXPECT_EQ(whole.toScreen(q(640), q(360)), (ScreenPoint{640, 360}));
    EXPECT_EQ(whole.toScreen(q(639.99), q(0.5)), (ScreenPoint{639, 0}));
    EXPECT_EQ(whole.toScreen(q(-1), q(1080)), (ScreenPoint{0, 1079}));
    EXPECT_EQ(whole.toScreen(INT32_MIN, INT32_MAX), (ScreenPoint{0, 1079}));

    // A second monitor right of the first, streamed at half size.
    const StreamedArea second{1920, 0, 2560, 1440, 1280, 720};
    EXPECT_EQ(second.toScreen(q(0), q(0)), (ScreenPoint{1920, 0}));
    EXPECT_EQ(second.toScreen(q(640), q(360)), (ScreenPoint{1920 + 1280, 720}));
    EXPECT_EQ(second.toScreen(q(1279.9), q(719.9)), (ScreenPoint{1920 + 2559, 1439}));
    // A monitor left of and above the origin.
    const StreamedArea negative{-1024, -768, 1024, 768, 0, 0};
    EXPECT_EQ(negative.toScreen(q(10), q(20)), (ScreenPoint{-1014, -748}));
    EXPECT_TRUE((StreamedArea{0, 0, 0, 10, 0, 0}.empty()));
}
