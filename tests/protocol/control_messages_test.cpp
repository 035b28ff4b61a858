#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "RandomValues.h"
#include "TestBytes.h"
#include "protocol/ControlMessages.h"
#include "protocol/ControlType.h"
#include "protocol/SessionCmd.h"

using namespace wex;
using wex::test::asciiBytes;
using wex::test::expectEveryPrefixTruncated;
using wex::test::hexBytes;
using wex::test::thrownError;

namespace {

Bytes concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Golden bytes, a decode that gives the value back, and truncation of every strict prefix.
template <typename M> void expectWire(const M& message, const Bytes& golden) {
    const Bytes b = message.encode();
    EXPECT_EQ(b, golden);
    EXPECT_EQ(M::decode(b), message);
    EXPECT_EQ(M::decode(concat(b, hexBytes("ee ff 00"))), message) << "trailing bytes are ignored";
    expectEveryPrefixTruncated(b, [](const Bytes& p) { M::decode(p); });
}

} // namespace

TEST(ControlType, CatalogueNumbersEveryMessageFromOne) {
    const std::vector<std::pair<uint8_t, std::string>> table = {
        {1, "hello"},         {2, "helloAck"},        {3, "auth"},
        {4, "authOk"},        {5, "authFail"},        {6, "capsRequest"},
        {7, "caps"},          {8, "displayList"},     {9, "streamStart"},
        {10, "streamStop"},   {11, "qualitySet"},     {12, "keyframeRequest"},
        {13, "ping"},         {14, "pong"},           {15, "clipboard"},
        {16, "pause"},        {17, "resume"},         {18, "resumeSession"},
        {19, "bye"},          {20, "error"},          {21, "inputAck"},
        {22, "cursor"},       {23, "sessionCommand"}, {24, "fileOffer"},
        {25, "fileChunk"},    {26, "fileEnd"},        {27, "deckStat"},
        {28, "unpair"},       {29, "clipFilesOffer"}, {30, "clipFilePull"},
        {31, "clipFileData"}, {32, "wakePeer"},       {33, "wakePeerAck"},
    };
    ASSERT_EQ(table.size(), controlTypeCount);
    for (const auto& [raw, name] : table) {
        const auto t = controlTypeFromRaw(raw);
        ASSERT_TRUE(t) << int(raw);
        EXPECT_EQ(static_cast<uint8_t>(*t), raw);
        EXPECT_EQ(controlTypeName(*t), name) << int(raw);
    }
    EXPECT_EQ(controlTypeFromRaw(1), ControlType::hello);
    EXPECT_EQ(controlTypeFromRaw(33), ControlType::wakePeerAck);
    EXPECT_EQ(static_cast<uint8_t>(ControlType::ping), 13);
    EXPECT_EQ(static_cast<uint8_t>(ControlType::fileOffer), 24);
    for (int raw : {0, 34, 35, 128, 255})
        EXPECT_FALSE(controlTypeFromRaw(static_cast<uint8_t>(raw))) << raw;
}

TEST(ControlType, OtherStreamsAndEnumerationsAcceptOnlyTheirValues) {
    EXPECT_EQ(videoTypeFromRaw(1), VideoType::nal);
    EXPECT_EQ(inputMsgTypeFromRaw(1), InputMsgType::batch);
    for (int raw : {0, 2, 255}) {
        EXPECT_FALSE(videoTypeFromRaw(static_cast<uint8_t>(raw)));
        EXPECT_FALSE(inputMsgTypeFromRaw(static_cast<uint8_t>(raw)));
    }
    EXPECT_EQ(audioFrameMsgType, 1);

    EXPECT_EQ(sessionCmdFromRaw(1), SessionCmd::ctrlAltDel);
    EXPECT_EQ(sessionCmdFromRaw(2), SessionCmd::lockWorkstation);
    EXPECT_EQ(sessionCmdFromRaw(3), SessionCmd::signOut);
    EXPECT_EQ(sessionCmdFromRaw(4), SessionCmd::showLaunchpad);
    EXPECT_EQ(sessionCmdFromRaw(5), SessionCmd::restOn);
    EXPECT_EQ(sessionCmdFromRaw(6), SessionCmd::restOff);
    EXPECT_FALSE(sessionCmdFromRaw(0));
    EXPECT_FALSE(sessionCmdFromRaw(7));

    EXPECT_EQ(clipboardFormatFromRaw(1), ClipboardFormat::text);
    EXPECT_FALSE(clipboardFormatFromRaw(0));
    EXPECT_FALSE(clipboardFormatFromRaw(2));
    EXPECT_EQ(static_cast<uint8_t>(ErrCode::unsupported), 1);
    EXPECT_EQ(static_cast<uint8_t>(ErrCode::internalError), 4);
}

TEST(ControlMessages, FixedSizeGoldenBytes) {
    expectWire(Ping{0x0102, 0x1122334455667788}, hexBytes("0102 1122334455667788"));
    // The Pong copies the Ping's identifier and clock and adds the agent's.
    expectWire(Pong{7, 1000, 5}, hexBytes("0007 00000000000003e8 0000000000000005"));
    expectWire(StreamStart{0, 1}, hexBytes("0000 01"));
    expectWire(KeyframeRequest{0, 1}, hexBytes("0000 01"));
    expectWire(KeyframeRequest{0xFFFE, 0xFF}, hexBytes("fffe ff"));
    expectWire(SessionCommand{3, SessionCmd::restOn, 9}, hexBytes("0003 05 09"));
    expectWire(DeckStat{0, 12, 40, -1, DeckStat::flagAwake}, hexBytes("0000 0c 28 ff 01"));
    expectWire(DeckStat{9, 100, 0, 100, 0x06}, hexBytes("0009 64 00 64 06"));
}

TEST(ControlMessages, SessionCommandKeepsUnknownCommands) {
    const SessionCommand known{1, SessionCmd::ctrlAltDel, 0};
    EXPECT_EQ(known.cmd, 1);
    EXPECT_EQ(known.command(), SessionCmd::ctrlAltDel);
    const SessionCommand odd = SessionCommand::decode(hexBytes("0001 ee 07"));
    EXPECT_EQ(odd.cmd, 0xEE);
    EXPECT_FALSE(odd.command());
    EXPECT_EQ(odd, (SessionCommand{1, uint8_t{0xEE}, 7}));
    EXPECT_EQ(odd.encode(), hexBytes("0001 ee 07"));
}

TEST(ControlMessages, DeckStatFlagsReadOneBitEach) {
    const DeckStat awake = DeckStat::decode(hexBytes("0000 0c 28 ff 01"));
    EXPECT_EQ(awake.battery, -1);
    EXPECT_TRUE(awake.awake());
    EXPECT_FALSE(awake.fullControl());
    EXPECT_FALSE(awake.secureDesktop());
    const DeckStat other = DeckStat::decode(hexBytes("0000 00 00 00 fe"));
    EXPECT_FALSE(other.awake());
    EXPECT_TRUE(other.fullControl());
    EXPECT_TRUE(other.secureDesktop());
    EXPECT_EQ(other.flags, 0xFE); // bits nobody reads are kept
}

TEST(CursorMsg, ShapeTravelsOnlyWhenAnnounced) {
    CursorMsg withShape;
    withShape.reqId = 1;
    withShape.displayId = 2;
    withShape.flags = CursorFlags{CursorFlag::visible, CursorFlag::shapeIncluded};
    withShape.x = -1;
    withShape.y = 0x100;
    withShape.hotX = 1;
    withShape.hotY = 2;
    withShape.shapeW = 1;
    withShape.shapeH = 2;
    withShape.shape = hexBytes("0102030405060708");
    expectWire(withShape, hexBytes("0001 02 03 ffffffff 00000100 0001 0002 0001 0002 0102030405060708"));

    // Without the flag the shape's size fields still travel, and whatever follows byte 20 is ignored.
    const Bytes plain = hexBytes("0001 02 01 00000010 00000020 0000 0000 0002 0002 aabbccdd");
    const CursorMsg m = CursorMsg::decode(plain);
    EXPECT_TRUE(m.flags.contains(CursorFlag::visible));
    EXPECT_EQ(m.shapeW, 2);
    EXPECT_TRUE(m.shape.empty());
    EXPECT_EQ(m.encode(), Bytes(plain.begin(), plain.begin() + 20));

    // 2 x 2 pixels need 16 bytes: 15 are not enough, 16 are.
    Bytes twoByTwo = hexBytes("0000 00 02 00000000 00000000 0000 0000 0002 0002");
    twoByTwo.resize(20 + 15, 0x7F);
    EXPECT_EQ(thrownError([&] { CursorMsg::decode(twoByTwo); }), WEXError::truncated());
    twoByTwo.push_back(0x7F);
    EXPECT_EQ(CursorMsg::decode(twoByTwo).shape, Bytes(16, 0x7F));
}

TEST(CursorMsg, ShapeSizeCannotWrapOrAllocateAhead) {
    // 32768 x 32768 x 4 is exactly 2^32: a 32-bit product would be 0 and "succeed" with no shape.
    EXPECT_EQ(CursorMsg::shapeBytes(0x8000, 0x8000), uint64_t{1} << 32);
    EXPECT_EQ(CursorMsg::shapeBytes(0xFFFF, 0xFFFF), uint64_t{0xFFFF} * 0xFFFF * 4);
    for (const char* size : {"8000 8000", "ffff ffff", "4000 0001"}) {
        Bytes b = concat(hexBytes("0000 00 02 00000000 00000000 0000 0000"), hexBytes(size));
        b.resize(b.size() + 64, 0);
        EXPECT_EQ(thrownError([&] { CursorMsg::decode(b); }), WEXError::truncated()) << size;
    }
}

TEST(DisplayList, RecordsBackToBack) {
    const DisplayInfo main{
        1, 2560, 1440, -1920, 0, DisplayFlags{DisplayFlag::primary, DisplayFlag::streaming}, "D\xC3\xBCo"};
    const DisplayInfo side{2, 1920, 1080, 0, -1080, {}, ""};
    expectWire(DisplayList{0, {main, side}}, hexBytes("0000 02"
                                                      "01 0a00 05a0 f880 0000 03 0004 44c3bc6f"
                                                      "02 0780 0438 0000 fbc8 00 0000"));
    expectWire(DisplayList{0, {}}, hexBytes("0000 00"));

    // A count of 2 with one complete record.
    const Bytes short2 = hexBytes("0000 02 01 0a00 05a0 f880 0000 03 0000");
    EXPECT_EQ(thrownError([&] { DisplayList::decode(short2); }), WEXError::truncated());
    // A name whose bytes are not UTF-8 is repaired, not refused.
    EXPECT_EQ(DisplayList::decode(hexBytes("0000 01 01 0001 0001 0000 0000 00 0002 ff41")).displays[0].name,
              "\xEF\xBF\xBD"
              "A");
}

TEST(DisplayList, CountByteNeverWraps) {
    DisplayList many{3, {}};
    for (int i = 0; i < 300; ++i)
        many.displays.push_back({static_cast<uint8_t>(i), 1, 1, 0, 0, {}, "d"});
    const DisplayList back = DisplayList::decode(many.encode());
    ASSERT_EQ(back.displays.size(), 255u);
    EXPECT_EQ(back.displays, std::vector<DisplayInfo>(many.displays.begin(), many.displays.begin() + 255));
}

TEST(Clipboard, TextIsABlobOfUTF8) {
    const Clipboard hi(0, "hi");
    EXPECT_EQ(hi.format, 1);
    expectWire(hi, hexBytes("0000 01 00000002 6869"));
    expectWire(Clipboard(5, 9, hexBytes("ff 00")), hexBytes("0005 09 00000002 ff00"));
    EXPECT_EQ(Clipboard(0, 1, hexBytes("ff 41")).text(), "\xEF\xBF\xBD"
                                                         "A");
    expectWire(Clipboard(1, ""), hexBytes("0001 01 00000000"));

    // A blob count past the end, and the largest count, fail before anything is allocated.
    EXPECT_EQ(thrownError([] { Clipboard::decode(hexBytes("0000 01 00000003 6869")); }), WEXError::truncated());
    EXPECT_EQ(thrownError([] { Clipboard::decode(hexBytes("0000 01 ffffffff 6869")); }), WEXError::truncated());
}

TEST(ErrorMsg, LayoutAndHumanReason) {
    const ErrorMsg malformed(0, ErrCode::refused, "Malformed wake request.");
    expectWire(malformed, concat(hexBytes("0000 03 0017"), asciiBytes("Malformed wake request.")));
    expectWire(ErrorMsg(0x0A0B, uint8_t{200}, ""), hexBytes("0a0b c8 0000"));

    EXPECT_EQ(ErrorMsg(0, ErrCode::unsupported, "").humanReason(), "That machine doesn't support this.");
    EXPECT_EQ(ErrorMsg(0, ErrCode::disabled, "").humanReason(), "That's turned off on that machine.");
    EXPECT_EQ(ErrorMsg(0, ErrCode::refused, "").humanReason(), "That machine refused it.");
    EXPECT_EQ(ErrorMsg(0, ErrCode::internalError, "").humanReason(), "Something went wrong on that machine.");
    for (int code : {0, 5, 9, 255}) {
        EXPECT_EQ(ErrorMsg(0, static_cast<uint8_t>(code), "").humanReason(), "That machine refused it.") << code;
    }
    EXPECT_EQ(ErrorMsg(0, ErrCode::disabled, "Busy").humanReason(), "Busy");
    EXPECT_EQ(ErrorMsg(0, uint8_t{9}, "Busy").humanReason(), "Busy");
    EXPECT_EQ(thrownError([] { ErrorMsg::decode(hexBytes("0000 03 0005 4275")); }), WEXError::truncated());
}

TEST(ControlMessages, RandomRoundTrips) {
    test::RandomValues rv(121);
    for (int i = 0; i < 400; ++i) {
        const auto roundTrips = [](const auto& m) {
            using M = std::decay_t<decltype(m)>;
            const Bytes b = m.encode();
            EXPECT_EQ(M::decode(b), m);
            return b.size();
        };
        EXPECT_EQ(roundTrips(Ping{rv.num<uint16_t>(), rv.u64()}), Ping::size);
        EXPECT_EQ(roundTrips(Pong{rv.num<uint16_t>(), rv.u64(), rv.u64()}), Pong::size);
        EXPECT_EQ(roundTrips(StreamStart{rv.num<uint16_t>(), rv.num<uint8_t>()}), StreamStart::size);
        EXPECT_EQ(roundTrips(KeyframeRequest{rv.num<uint16_t>(), rv.num<uint8_t>()}), KeyframeRequest::size);
        EXPECT_EQ(roundTrips(SessionCommand{rv.num<uint16_t>(), rv.num<uint8_t>(), rv.num<uint8_t>()}),
                  SessionCommand::size);
        EXPECT_EQ(roundTrips(DeckStat{rv.num<uint16_t>(), rv.num<uint8_t>(), rv.num<uint8_t>(), rv.num<int8_t>(),
                                      rv.num<uint8_t>()}),
                  DeckStat::size);

        CursorMsg c;
        c.reqId = rv.num<uint16_t>();
        c.displayId = rv.num<uint8_t>();
        c.flags = CursorFlags::fromRaw(rv.num<uint8_t>());
        c.x = rv.num<int32_t>();
        c.y = rv.num<int32_t>();
        c.hotX = rv.num<uint16_t>();
        c.hotY = rv.num<uint16_t>();
        if (c.flags.contains(CursorFlag::shapeIncluded)) {
            c.shapeW = static_cast<uint16_t>(rv.below(9));
            c.shapeH = static_cast<uint16_t>(rv.below(9));
            c.shape = test::randomBytes(rv.engine(), CursorMsg::shapeBytes(c.shapeW, c.shapeH));
        } else {
            c.shapeW = rv.num<uint16_t>();
            c.shapeH = rv.num<uint16_t>();
        }
        EXPECT_EQ(roundTrips(c), CursorMsg::fixedSize + c.shape.size());

        DisplayList list{rv.num<uint16_t>(), {}};
        for (std::size_t k = rv.below(5); k > 0; --k) {
            list.displays.push_back({rv.num<uint8_t>(), rv.num<uint16_t>(), rv.num<uint16_t>(), rv.num<int16_t>(),
                                     rv.num<int16_t>(), DisplayFlags::fromRaw(rv.num<uint8_t>()), rv.text(12)});
        }
        roundTrips(list);
        roundTrips(Clipboard(rv.num<uint16_t>(), rv.num<uint8_t>(), test::randomBytes(rv.engine(), rv.below(300))));
        roundTrips(Clipboard(rv.num<uint16_t>(), rv.text(40)));
        roundTrips(ErrorMsg(rv.num<uint16_t>(), rv.num<uint8_t>(), rv.text(30)));
    }
}
