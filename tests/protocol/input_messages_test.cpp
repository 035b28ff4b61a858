#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "RandomValues.h"
#include "TestBytes.h"
#include "protocol/InputMessages.h"
#include "protocol/Q1616.h"
#include "protocol/UTF8.h"

using namespace wex;
using wex::test::expectEveryPrefixTruncated;
using wex::test::hexBytes;
using wex::test::thrownError;

namespace {

using Entry = InputBatch::Entry;

Bytes concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes bodyOf(const InputEvent& e) {
    ByteWriter w;
    e.encodeBody(w);
    return w.bytes;
}

PenEvent samplePen() {
    PenEvent p;
    p.displayId = 1;
    p.x = Q1616::encode(1.5);
    p.y = Q1616::encode(-0.25);
    p.pressure = 0x8000;
    p.tiltX = -9000;
    p.tiltY = 9000;
    p.twist = 0x0102;
    p.contact = PenContact::touching;
    p.buttons = PenButtons{PenButton::barrel, PenButton::eraserEnd};
    p.flags = PenFlags{PenFlag::pressureValid, PenFlag::tiltValid, PenFlag::inverted};
    p.tstampUs = 0xDEADBEEF;
    return p;
}

const char* const penBody = "01 00018000 ffffc000 8000 dcd8 2328 0102 01 03 0b deadbeef";

InputEvent randomEvent(test::RandomValues& rv) {
    switch (rv.below(7)) {
    case 0: return MouseMoveEvent{rv.num<uint8_t>(), rv.num<int32_t>(), rv.num<int32_t>(), rv.num<uint8_t>()};
    case 1: return MouseDragEvent{rv.num<uint8_t>(), rv.num<int32_t>(), rv.num<int32_t>(), rv.num<uint8_t>()};
    case 2:
        return MouseButtonEvent{rv.num<uint8_t>(), rv.num<int32_t>(), rv.num<int32_t>(),
                                rv.num<uint8_t>(), rv.num<uint8_t>(), rv.num<uint8_t>()};
    case 3:
        return ScrollEvent{rv.num<uint8_t>(), rv.num<int32_t>(), rv.num<int32_t>(),
                           rv.num<int16_t>(), rv.num<int16_t>(), rv.num<uint8_t>()};
    case 4: return KeyEvent{rv.num<uint32_t>(), rv.num<uint8_t>(), rv.num<uint16_t>()};
    case 5: {
        PenEvent p{rv.num<uint8_t>(),
                   rv.num<int32_t>(),
                   rv.num<int32_t>(),
                   rv.num<uint16_t>(),
                   rv.num<int16_t>(),
                   rv.num<int16_t>(),
                   rv.num<uint16_t>(),
                   static_cast<PenContact>(rv.below(3)),
                   PenButtons::fromRaw(rv.num<uint8_t>()),
                   PenFlags::fromRaw(rv.num<uint8_t>()),
                   rv.num<uint32_t>()};
        return p;
    }
    default: return TextEvent{rv.text(20)};
    }
}

std::vector<Entry> flatten(const std::vector<InputBatch>& batches) {
    std::vector<Entry> out;
    for (const auto& b : batches)
        out.insert(out.end(), b.events.begin(), b.events.end());
    return out;
}

} // namespace

TEST(InputMessages, EnumerationsAcceptOnlyTheirValues) {
    for (int raw = 1; raw <= 8; ++raw) {
        EXPECT_EQ(static_cast<int>(*inputEventTypeFromRaw(static_cast<uint8_t>(raw))), raw);
    }
    EXPECT_EQ(inputEventTypeFromRaw(6), InputEventType::pen);
    EXPECT_EQ(inputEventTypeFromRaw(8), InputEventType::gesture);
    for (int raw : {0, 9, 255})
        EXPECT_FALSE(inputEventTypeFromRaw(static_cast<uint8_t>(raw))) << raw;
    EXPECT_EQ(penContactFromRaw(0), PenContact::hover);
    EXPECT_EQ(penContactFromRaw(1), PenContact::touching);
    EXPECT_EQ(penContactFromRaw(2), PenContact::leaving);
    EXPECT_FALSE(penContactFromRaw(3));
    EXPECT_FALSE(penContactFromRaw(255));

    EXPECT_EQ(InputEvent(MouseMoveEvent{}).type(), InputEventType::mouseMove);
    EXPECT_EQ(InputEvent(MouseButtonEvent{}).type(), InputEventType::mouseButton);
    EXPECT_EQ(InputEvent(MouseDragEvent{}).type(), InputEventType::mouseDrag);
    EXPECT_EQ(InputEvent(ScrollEvent{}).type(), InputEventType::scroll);
    EXPECT_EQ(InputEvent(KeyEvent{}).type(), InputEventType::key);
    EXPECT_EQ(InputEvent(PenEvent{}).type(), InputEventType::pen);
    EXPECT_EQ(InputEvent(TextEvent{}).type(), InputEventType::text);
}

TEST(InputMessages, BodiesGoldenBytes) {
    EXPECT_EQ(bodyOf(MouseMoveEvent{0, 65536, 131072, 1}), hexBytes("00 00010000 00020000 01"));
    EXPECT_EQ(bodyOf(MouseDragEvent{0, 65536, 131072, 1}), hexBytes("00 00010000 00020000 01"));
    EXPECT_EQ(bodyOf(MouseButtonEvent{0, 0, 0, MouseButtonEvent::right, 1, 2}),
              hexBytes("00 00000000 00000000 02 01 02"));
    EXPECT_EQ(bodyOf(ScrollEvent{1, 0x10000, 0, -3, 120, 2}), hexBytes("01 00010000 00000000 fffd 0078 02"));
    const KeyEvent commandA{KeyEvent::makeUsage(KeyEvent::keyboardUsagePage, 4), 1, KeyEvent::command};
    EXPECT_EQ(bodyOf(commandA), hexBytes("00070004 01 0008"));
    EXPECT_EQ(commandA.usagePage(), 7);
    EXPECT_EQ(commandA.usageId(), 4);
    EXPECT_EQ(bodyOf(TextEvent{"\xC3\xA9"}), hexBytes("0002 c3a9"));
    EXPECT_EQ(bodyOf(samplePen()), hexBytes(penBody));
    EXPECT_EQ(bodyOf(samplePen()).size(), PenEvent::bodySize);

    for (const InputEvent& e : {InputEvent(MouseMoveEvent{}), InputEvent(MouseButtonEvent{}), InputEvent(ScrollEvent{}),
                                InputEvent(KeyEvent{}), InputEvent(PenEvent{}), InputEvent(TextEvent{"abc"})}) {
        EXPECT_EQ(bodyOf(e).size(), e.bodySize()) << static_cast<int>(e.type());
    }
}

TEST(InputBatch, GoldenBytes) {
    const InputBatch one{{{{}, MouseMoveEvent{0, Q1616::encode(1.0), Q1616::encode(2.0), 1}}}};
    const Bytes b = one.encode();
    EXPECT_EQ(b, hexBytes("01 01 00 00 00010000 00020000 01"));
    EXPECT_EQ(b.size(), 13u);
    EXPECT_EQ(InputBatch::decode(b), one);

    const InputBatch all{{
        {EventFlag::reliable, MouseDragEvent{2, 0, -65536, MouseDragEvent::heldLeft}},
        {{}, MouseButtonEvent{0, 0, 0, MouseButtonEvent::right, 1, 2}},
        {EventFlags{EventFlag::reliable, EventFlag::coalesced}, ScrollEvent{1, 0x10000, 0, -3, 120, 2}},
        {{}, KeyEvent{0x00070004, 1, 0x0008}},
        {EventFlag::coalesced, samplePen()},
        {EventFlags::fromRaw(0x80), TextEvent{"\xC3\xA9"}},
    }};
    const Bytes golden = hexBytes(std::string("06"
                                              "03 01 02 00000000 ffff0000 01"
                                              "02 00 00 00000000 00000000 02 01 02"
                                              "04 03 01 00010000 00000000 fffd 0078 02"
                                              "05 00 00070004 01 0008"
                                              "06 02 ") +
                                  penBody + " 07 80 0002 c3a9");
    EXPECT_EQ(all.encode(), golden);
    EXPECT_EQ(InputBatch::decode(golden), all);
    EXPECT_EQ(InputBatch::decode(concat(golden, hexBytes("09 09 09"))), all) << "trailing bytes are ignored";
    expectEveryPrefixTruncated(golden, [](const Bytes& p) { InputBatch::decode(p); });
}

TEST(InputBatch, EmptyBatches) {
    EXPECT_EQ(InputBatch{}.encode(), hexBytes("00"));
    EXPECT_TRUE(InputBatch::decode(hexBytes("00")).events.empty());
    EXPECT_TRUE(InputBatch::decode(hexBytes("00 05 00")).events.empty());
    EXPECT_EQ(thrownError([] { InputBatch::decode({}); }), WEXError::truncated());
}

TEST(InputBatch, DecodeErrorsInTheirOrder) {
    const auto error = [](const char* hex) { return thrownError([&] { InputBatch::decode(hexBytes(hex)); }); };
    const WEXError gesture = WEXError::badEnum("InputEventType.gesture (not yet implemented)", 8);

    EXPECT_EQ(error("01 00 00"), WEXError::badEnum("InputEventType", 0));
    EXPECT_EQ(error("01 09 00 00 00000000 00000000 00"), WEXError::badEnum("InputEventType", 9));
    EXPECT_EQ(error("01 ff 00"), WEXError::badEnum("InputEventType", 255));
    EXPECT_EQ(error("01 08 00"), gesture);
    EXPECT_EQ(error("01 08 00 00 00 00 00 00 00 00 00 00 00"), gesture);
    // The type is judged only once its flags byte is there.
    EXPECT_EQ(error("01 09"), WEXError::truncated());
    EXPECT_EQ(error("01 08"), WEXError::truncated());
    EXPECT_EQ(error("02 01 00 00 00010000 00020000 01 01"), WEXError::truncated());
    // Two announced, one present.
    EXPECT_EQ(error("02 05 00 00070004 01 0008"), WEXError::truncated());
    // A bad second event fails the batch even though the first is whole.
    EXPECT_EQ(error("02 05 00 00070004 01 0008 00 00"), WEXError::badEnum("InputEventType", 0));

    // A pen contact above 2 is refused as soon as it is read, whether or not the rest follows.
    const std::string badPen = "01 06 00 01 00018000 ffffc000 8000 dcd8 2328 0102 03";
    EXPECT_EQ(error((badPen + " 03 0b deadbeef").c_str()), WEXError::badEnum("PenContact", 3));
    EXPECT_EQ(error(badPen.c_str()), WEXError::badEnum("PenContact", 3));
    EXPECT_EQ(error((badPen.substr(0, badPen.size() - 3)).c_str()), WEXError::truncated());
    EXPECT_EQ(error("01 06 00 01 00018000 ffffc000 8000 dcd8 2328 0102 ff 00 00 00000000"),
              WEXError::badEnum("PenContact", 255));

    ByteWriter w;
    w.u8(0);
    ByteReader r(w.bytes);
    EXPECT_EQ(thrownError([&] { InputEvent::decodeBody(InputEventType::gesture, r); }), gesture);
}

TEST(InputBatch, TextIsRepairedNotRefused) {
    const InputBatch b = InputBatch::decode(hexBytes("01 07 00 0003 41 ff 42"));
    ASSERT_EQ(b.events.size(), 1u);
    EXPECT_EQ(b.events[0].event.get<TextEvent>()->text, "A\xEF\xBF\xBD"
                                                        "B");
}

TEST(InputBatch, PenRecordStandsAlone) {
    ByteWriter w;
    samplePen().encode(w);
    EXPECT_EQ(w.bytes, hexBytes(penBody));
    ByteReader r(w.bytes);
    EXPECT_EQ(PenEvent::decode(r), samplePen());
    EXPECT_EQ(r.offset(), 24);
}

TEST(InputBatch, MoreThan255EventsAreRefusedNotWrapped) {
    InputBatch b;
    b.events.assign(255, {{}, KeyEvent{0x00070004, 1, 0}});
    EXPECT_EQ(InputBatch::decode(b.encode()).events.size(), 255u);
    b.events.push_back({{}, KeyEvent{0x00070005, 1, 0}});
    EXPECT_THROW(b.encode(), std::length_error);
    b.events.resize(512);
    EXPECT_THROW(b.encode(), std::length_error); // 512 would wrap to a count of 0
}

TEST(InputBatch, SplitKeepsEveryEventInOrder) {
    test::RandomValues rv(1123);
    std::vector<Entry> events;
    for (int i = 0; i < 600; ++i)
        events.push_back({EventFlags::fromRaw(rv.num<uint8_t>()), randomEvent(rv)});
    const auto batches = InputBatch::split(events);
    ASSERT_EQ(batches.size(), 3u);
    EXPECT_EQ(batches[0].events.size(), 255u);
    EXPECT_EQ(batches[1].events.size(), 255u);
    EXPECT_EQ(batches[2].events.size(), 90u);
    std::vector<Entry> received;
    for (const auto& b : batches) {
        const InputBatch back = InputBatch::decode(b.encode());
        received.insert(received.end(), back.events.begin(), back.events.end());
    }
    EXPECT_EQ(received, events);

    EXPECT_TRUE(InputBatch::split({}).empty());
    EXPECT_EQ(InputBatch::split(std::vector<Entry>(3, {{}, KeyEvent{}})).size(), 1u);
}

TEST(InputBatch, SplitKeepsEveryPayloadWithinTheLimit) {
    // 300 text events of 1000 bytes: the count allows 255 per batch, the size only 65.
    const std::vector<Entry> texts(300, {EventFlag::reliable, TextEvent{std::string(1000, 't')}});
    const auto batches = InputBatch::split(texts);
    ASSERT_EQ(batches.size(), 5u);
    EXPECT_EQ(batches[0].events.size(), 65u);
    for (const auto& b : batches)
        EXPECT_LE(b.encode().size(), maxSealablePayload);
    EXPECT_EQ(flatten(batches), texts);

    // Small limits pack as many whole events as fit.
    test::RandomValues rv(5);
    std::vector<Entry> mixed;
    for (int i = 0; i < 200; ++i)
        mixed.push_back({{}, randomEvent(rv)});
    for (std::size_t limit : {40u, 100u, 1000u}) {
        const auto small = InputBatch::split(mixed, limit);
        for (const auto& b : small)
            EXPECT_LE(b.encode().size(), limit) << limit;
        std::string textBefore, textAfter;
        for (const auto& e : mixed)
            if (auto t = e.event.get<TextEvent>()) textBefore += t->text;
        for (const auto& e : flatten(small))
            if (auto t = e.event.get<TextEvent>()) textAfter += t->text;
        EXPECT_EQ(textAfter, textBefore) << limit;
    }
}

TEST(InputBatch, SplitCutsOverlongTextBetweenCharacters) {
    // 100000 bytes of two-byte characters, more than one string and one payload can hold.
    std::string text;
    for (int i = 0; i < 50000; ++i)
        text += "\xC3\xA9";
    text += "\xF0\x9F\x98\x80";
    const std::vector<Entry> one{
        {{}, KeyEvent{1, 1, 0}}, {EventFlag::coalesced, TextEvent{text}}, {{}, KeyEvent{2, 0, 0}}};
    const auto batches = InputBatch::split(one);
    std::string joined;
    std::size_t pieces = 0;
    for (const auto& b : batches) {
        const Bytes wire = b.encode();
        EXPECT_LE(wire.size(), maxSealablePayload);
        for (const auto& e : InputBatch::decode(wire).events) {
            if (const auto* t = e.event.get<TextEvent>()) {
                EXPECT_EQ(e.flags, EventFlags{EventFlag::coalesced});
                EXPECT_EQ(repairUTF8(t->text), t->text) << "a piece ends inside a character";
                joined += t->text;
                ++pieces;
            }
        }
    }
    EXPECT_EQ(pieces, 2u);
    EXPECT_EQ(joined, text);
    EXPECT_EQ(flatten(batches).front(), one.front());
    EXPECT_EQ(flatten(batches).back(), one.back());
}

TEST(InputBatch, RandomRoundTrips) {
    test::RandomValues rv(1124);
    for (int i = 0; i < 500; ++i) {
        InputBatch b;
        for (std::size_t k = rv.below(40); k > 0; --k) {
            b.events.push_back({EventFlags::fromRaw(rv.num<uint8_t>()), randomEvent(rv)});
        }
        const Bytes wire = b.encode();
        std::size_t expected = 1;
        for (const auto& e : b.events)
            expected += 2 + e.event.bodySize();
        ASSERT_EQ(wire.size(), expected);
        ASSERT_EQ(InputBatch::decode(wire), b);
    }
}
