#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "RandomValues.h"
#include "TestBytes.h"
#include "protocol/FileMessages.h"

using namespace wex;
using wex::test::expectEveryPrefixTruncated;
using wex::test::hexBytes;
using wex::test::thrownError;

namespace {

template <typename M> void expectWire(const M& message, const Bytes& golden) {
    const Bytes b = message.encode();
    EXPECT_EQ(b, golden);
    EXPECT_EQ(M::decode(b), message);
    Bytes longer = b;
    longer.insert(longer.end(), {0xEE, 0xFF});
    EXPECT_EQ(M::decode(longer), message) << "trailing bytes are ignored";
    expectEveryPrefixTruncated(b, [](const Bytes& p) { M::decode(p); });
}

std::vector<ClipFileEntry> entries(std::size_t n, std::size_t nameBytes) {
    std::vector<ClipFileEntry> out;
    for (std::size_t i = 0; i < n; ++i)
        out.push_back({std::string(nameBytes, static_cast<char>('a' + i % 26)), i});
    return out;
}

} // namespace

TEST(FileMessages, TransferGoldenBytes) {
    expectWire(FileOffer{1, 0x0A0B0C0D, uint64_t{1} << 40, "a.txt"},
               hexBytes("0001 0a0b0c0d 0000010000000000 0005 612e747874"));
    expectWire(FileChunk{1, 2, 0x0102030405060708, hexBytes("aabbcc")},
               hexBytes("0001 00000002 0102030405060708 00000003 aabbcc"));
    const FileChunk empty{1, 2, 0, {}};
    EXPECT_EQ(empty.encode().size(), 18u);
    expectWire(empty, hexBytes("0001 00000002 0000000000000000 00000000"));
    expectWire(FileEnd(1, 2, true), hexBytes("0001 00000002 01"));
    expectWire(FileEnd(1, 2, false), hexBytes("0001 00000002 00"));
}

TEST(FileMessages, ClipboardFileGoldenBytes) {
    // A pull has the layout of a FileEnd.
    expectWire(ClipFilePull{1, 2, 1}, hexBytes("0001 00000002 01"));
    expectWire(ClipFileData(1, 2, 3, 4, true, hexBytes("aabb")),
               hexBytes("0001 00000002 03 0000000000000004 01 00000002 aabb"));
    expectWire(ClipFileData(0, 0, 0, 0, false, {}), hexBytes("0000 00000000 00 0000000000000000 00 00000000"));
    expectWire(ClipFilesOffer{5, 0x01020304, {{"x.png", 10}, {"\xC3\xA9", 0xFFFFFFFFFFFFFFFF}}},
               hexBytes("0005 01020304 02 0005 782e706e67 000000000000000a 0002 c3a9 ffffffffffffffff"));
    expectWire(ClipFilesOffer{0, 7, {}}, hexBytes("0000 00000007 00"));
}

TEST(FileMessages, FlagBytesAreTakenAsTheyAre) {
    const FileEnd five = FileEnd::decode(hexBytes("0001 00000002 05"));
    EXPECT_EQ(five.ok, 5);
    EXPECT_TRUE(five.succeeded());
    EXPECT_FALSE(FileEnd::decode(hexBytes("0001 00000002 00")).succeeded());
    const ClipFileData two = ClipFileData::decode(hexBytes("0001 00000002 03 0000000000000004 02 00000000"));
    EXPECT_EQ(two.last, 2);
    EXPECT_TRUE(two.isLast());
    EXPECT_EQ(two.encode(), hexBytes("0001 00000002 03 0000000000000004 02 00000000"));
}

TEST(FileMessages, ShortCountsAndBlobsFail) {
    // A data count of 10 over 9 bytes.
    Bytes chunk = hexBytes("0001 00000002 0000000000000000 0000000a");
    chunk.resize(chunk.size() + 9, 0x55);
    EXPECT_EQ(thrownError([&] { FileChunk::decode(chunk); }), WEXError::truncated());
    chunk.push_back(0x55);
    EXPECT_EQ(FileChunk::decode(chunk).data, Bytes(10, 0x55));
    EXPECT_EQ(thrownError([] { ClipFileData::decode(hexBytes("0001 00000002 03 0000000000000004 01 ffffffff aa")); }),
              WEXError::truncated());
    // An offer announcing 2 entries with 1 present.
    EXPECT_EQ(thrownError([] { ClipFilesOffer::decode(hexBytes("0000 00000007 02 0001 61 0000000000000001")); }),
              WEXError::truncated());
    EXPECT_EQ(ClipFilesOffer::decode(hexBytes("0000 00000007 00")).files.size(), 0u);
    EXPECT_EQ(FileOffer::decode(hexBytes("0000 00000000 0000000000000000 0002 ff41")).name, "\xEF\xBF\xBD"
                                                                                            "A");
}

TEST(ClipFilesOffer, CountByteNeverWraps) {
    const ClipFilesOffer offer{1, 9, entries(300, 4)};
    EXPECT_EQ(offer.wireEntryCount(), 255u);
    const Bytes b = offer.encode();
    EXPECT_EQ(b[6], 255);
    const ClipFilesOffer back = ClipFilesOffer::decode(b);
    EXPECT_EQ(back.files, std::vector<ClipFileEntry>(offer.files.begin(), offer.files.begin() + 255));
}

TEST(ClipFilesOffer, PayloadAlwaysFitsASealedFrame) {
    // 255 entries of 310 bytes would be 79057 bytes; 211 of them fit in 65527.
    const ClipFilesOffer big{1, 9, entries(255, 300)};
    EXPECT_EQ(big.wireEntryCount(), 211u);
    const Bytes b = big.encode();
    EXPECT_EQ(b.size(), 7u + 211 * 310);
    EXPECT_LE(b.size(), ClipFilesOffer::maxPayloadBytes);
    EXPECT_EQ(ClipFilesOffer::decode(b).files, std::vector<ClipFileEntry>(big.files.begin(), big.files.begin() + 211));

    // Exactly at the limit everything stays; one byte more and the last entry goes.
    ClipFilesOffer exact{1, 9, entries(2, 100)};
    exact.files.push_back({std::string(65527 - 7 - 2 * 110 - 10, 'z'), 3});
    EXPECT_EQ(exact.encode().size(), 65527u);
    EXPECT_EQ(ClipFilesOffer::decode(exact.encode()), exact);
    exact.files.back().name.push_back('z');
    EXPECT_EQ(exact.wireEntryCount(), 2u);
    EXPECT_EQ(ClipFilesOffer::decode(exact.encode()).files, entries(2, 100));

    // Entries after one that does not fit are dropped too, so each index still names its own file.
    const ClipFilesOffer hole{1, 9, {{"a", 1}, {std::string(70000, 'n'), 2}, {"c", 3}}};
    EXPECT_EQ(ClipFilesOffer::decode(hole.encode()).files, (std::vector<ClipFileEntry>{{"a", 1}}));
    // One name too long for any payload leaves an empty, still sendable offer.
    const ClipFilesOffer alone{1, 9, {{std::string(70000, 'n'), 2}}};
    EXPECT_EQ(alone.encode(), hexBytes("0001 00000009 00"));
}

TEST(FileMessages, RandomRoundTrips) {
    test::RandomValues rv(1122);
    for (int i = 0; i < 300; ++i) {
        const FileOffer offer{rv.num<uint16_t>(), rv.num<uint32_t>(), rv.u64(), rv.text(40)};
        ASSERT_EQ(FileOffer::decode(offer.encode()), offer);
        const FileChunk chunk{rv.num<uint16_t>(), rv.num<uint32_t>(), rv.u64(),
                              test::randomBytes(rv.engine(), rv.below(2000))};
        ASSERT_EQ(FileChunk::decode(chunk.encode()), chunk);
        FileEnd end(rv.num<uint16_t>(), rv.num<uint32_t>(), rv.coin());
        end.ok = rv.num<uint8_t>();
        ASSERT_EQ(FileEnd::decode(end.encode()), end);
        ClipFilesOffer clip{rv.num<uint16_t>(), rv.num<uint32_t>(), {}};
        for (std::size_t k = rv.below(20); k > 0; --k)
            clip.files.push_back({rv.text(30), rv.u64()});
        ASSERT_EQ(ClipFilesOffer::decode(clip.encode()), clip);
        const ClipFilePull pull{rv.num<uint16_t>(), rv.num<uint32_t>(), rv.num<uint8_t>()};
        ASSERT_EQ(ClipFilePull::decode(pull.encode()), pull);
        ClipFileData data(rv.num<uint16_t>(), rv.num<uint32_t>(), rv.num<uint8_t>(), rv.u64(), rv.coin(),
                          test::randomBytes(rv.engine(), rv.below(2000)));
        data.last = rv.num<uint8_t>();
        ASSERT_EQ(ClipFileData::decode(data.encode()), data);
    }
}
