#include <gtest/gtest.h>

#include "TestBytes.h"
#include "protocol/ByteReader.h"
#include "protocol/ByteWriter.h"
#include "protocol/CRC8.h"
#include "protocol/UTF8.h"
#include "protocol/WEXError.h"

using namespace wex;
using wex::test::hexBytes;

TEST(ByteWriter, WritesBigEndianAndTwosComplement) {
    ByteWriter w(-5); // a negative reservation is harmless
    w.u16(0x1234);
    w.u32(1);
    w.i16(-2);
    w.i32(-1);
    w.u64(0x0102030405060708ULL);
    w.u8(0xAB);
    w.raw(hexBytes("dead"));
    EXPECT_EQ(w.bytes, hexBytes("1234 00000001 fffe ffffffff 0102030405060708 ab dead"));
}

TEST(ByteReader, ReadsWhatTheWriterWrote) {
    ByteWriter w;
    w.u8(7);
    w.u16(0xBEEF);
    w.u32(0xCAFEBABE);
    w.u64(0xFFFFFFFFFFFFFFFEULL);
    w.i16(-300);
    w.i32(-70000);
    w.string("héllo");
    w.blob(hexBytes("010203"));
    ByteReader r(w.bytes);
    EXPECT_EQ(r.u8(), 7);
    EXPECT_EQ(r.u16(), 0xBEEF);
    EXPECT_EQ(r.u32(), 0xCAFEBABEu);
    EXPECT_EQ(r.u64(), 0xFFFFFFFFFFFFFFFEULL);
    EXPECT_EQ(r.i16(), -300);
    EXPECT_EQ(r.i32(), -70000);
    EXPECT_EQ(r.string(), "héllo");
    EXPECT_EQ(r.blob(), hexBytes("010203"));
    EXPECT_EQ(r.remaining(), 0);
}

TEST(ByteReader, ShortReadThrowsAndLeavesOffset) {
    const Bytes three = hexBytes("010203");
    ByteReader r(three);
    EXPECT_EQ(test::thrownError([&] { r.u32(); }), WEXError::truncated());
    EXPECT_EQ(r.offset(), 0);
    EXPECT_EQ(r.u16(), 0x0102);
    EXPECT_THROW(r.u16(), WEXError);
    EXPECT_EQ(r.offset(), 2);
    EXPECT_THROW(r.take(-1), WEXError);
    EXPECT_EQ(r.take(0), Bytes{});
    EXPECT_EQ(r.take(1), hexBytes("03"));
}

TEST(ByteReader, StringAndBlobCountsBeyondInputAreTruncatedWithoutMoving) {
    const Bytes str = hexBytes("0005 414243");
    ByteReader rs(str);
    EXPECT_THROW(rs.string(), WEXError);
    EXPECT_EQ(rs.offset(), 0);
    // A blob announcing 4 GiB must fail at once, not try to allocate it.
    const Bytes blob = hexBytes("ffffffff 00");
    ByteReader rb(blob);
    EXPECT_EQ(test::thrownError([&] { rb.blob(); }), WEXError::truncated());
    EXPECT_EQ(rb.offset(), 0);
}

TEST(ByteReader, OffsetOutsideInputHasNothingRemaining) {
    const Bytes b = hexBytes("0102");
    for (int64_t start : {int64_t{3}, int64_t{1} << 62, int64_t{-1}, INT64_MIN}) {
        ByteReader r(b, start);
        EXPECT_EQ(r.remaining(), 0) << start;
        EXPECT_THROW(r.u8(), WEXError) << start;
        EXPECT_THROW(r.take(1), WEXError) << start;
        EXPECT_THROW(r.take(INT64_MAX), WEXError) << start;
        EXPECT_EQ(r.offset(), start);
    }
    ByteReader atEnd(b, 2);
    EXPECT_EQ(atEnd.remaining(), 0);
    ByteReader mid(b, 1);
    EXPECT_EQ(mid.u8(), 2);
}

TEST(ByteWriter, OverlongStringIsCutAtCharacterBoundaryNotWrapped) {
    // 65534 ASCII bytes then a 2-byte character: 65536 bytes in all. A wrapped count would say 0.
    std::string text(65534, 'a');
    text += "é";
    ByteWriter w;
    w.string(text);
    ASSERT_EQ(w.bytes.size(), 2u + 65534u);
    EXPECT_EQ(w.bytes[0], 0xFF);
    EXPECT_EQ(w.bytes[1], 0xFE);
    ByteReader r(w.bytes);
    EXPECT_EQ(r.string(), std::string(65534, 'a'));

    ByteWriter exact;
    exact.string(std::string(65535, 'b'));
    EXPECT_EQ(exact.bytes.size(), 2u + 65535u);
}

TEST(CRC8, KnownValues) {
    EXPECT_EQ(CRC8::compute(test::asciiBytes("123456789")), 0xF4);
    EXPECT_EQ(CRC8::compute({}), 0x00);
    // Hand-computed: 0x01 shifted through eight rounds of polynomial 0x07.
    EXPECT_EQ(CRC8::compute(hexBytes("01")), 0x07);
    EXPECT_EQ(CRC8::compute(hexBytes("80")), 0x89);
}

TEST(WEXError, EqualityComparesCaseAndPayload) {
    EXPECT_EQ(WEXError::badEnum("WakePeerRequest.version", 2), WEXError::badEnum("WakePeerRequest.version", 2));
    EXPECT_NE(WEXError::badEnum("WakePeerRequest.version", 2), WEXError::badEnum("WakePeerRequest.version", 3));
    EXPECT_NE(WEXError::badEnum("AuthMode", 2), WEXError::badEnum("WakePeerRequest.version", 2));
    EXPECT_NE(WEXError::badVersion(2), WEXError::badStream(2));
    EXPECT_NE(WEXError::badVersion(2), WEXError::badVersion(3));
    EXPECT_EQ(WEXError::truncated(), WEXError::truncated());
    EXPECT_NE(WEXError::truncated(), WEXError::badMagic());
    EXPECT_NE(WEXError::badMagic(), WEXError::badHeaderCRC());
}

struct RepairCase {
    const char* inputHex;
    const char* expectedUtf8Hex;
};

TEST(UTF8, RepairFollowsMaximalSubpartRule) {
    const RepairCase cases[] = {
        {"ff41", "efbfbd41"},                     // a lone invalid byte
        {"c080", "efbfbdefbfbd"},                 // overlong lead: two replacements
        {"e28241", "efbfbd41"},                   // truncated 3-byte sequence: one replacement, then A
        {"e282ac", "e282ac"},                     // the euro sign is kept
        {"eda080", "efbfbdefbfbdefbfbd"},         // a surrogate is three subparts
        {"f0808080", "efbfbdefbfbdefbfbdefbfbd"}, // overlong 4-byte form
        {"f4908080", "efbfbdefbfbdefbfbdefbfbd"}, // above U+10FFFF
        {"f09f9880", "f09f9880"},                 // an emoji is kept
        {"f09f98", "efbfbd"},                     // cut emoji at the end: one replacement
        {"80bf", "efbfbdefbfbd"},                 // stray continuation bytes
        {"", ""},
    };
    for (const auto& c : cases) {
        const Bytes expected = hexBytes(c.expectedUtf8Hex);
        EXPECT_EQ(repairUTF8(hexBytes(c.inputHex)), std::string(expected.begin(), expected.end())) << c.inputHex;
    }
}

TEST(ByteReader, StringRepairsBadUTF8InsteadOfFailing) {
    const Bytes field = hexBytes("0002 ff41");
    ByteReader r(field);
    EXPECT_EQ(r.string(), "\xEF\xBF\xBD"
                          "A");
}

TEST(UTF8, PrefixLengthNeverSplitsACharacter) {
    EXPECT_EQ(utf8PrefixLength("abc", 5), 3u);
    EXPECT_EQ(utf8PrefixLength("a\xE2\x82\xAC", 3), 1u); // the euro sign needs 3 bytes
    EXPECT_EQ(utf8PrefixLength("a\xE2\x82\xAC", 4), 4u);
    EXPECT_EQ(utf8PrefixLength("\xF0\x9F\x98\x80", 3), 0u);
    EXPECT_EQ(utf8PrefixLength("\xFF\xFF\xFF", 2), 2u); // stray bytes count one each
}
