#include <random>

#include <gtest/gtest.h>

#include "TestBytes.h"
#include "protocol/LANInterface.h"
#include "protocol/MagicPacket.h"
#include "protocol/NetAddress.h"
#include "protocol/WakeMessages.h"

using namespace wex;
using wex::test::hexBytes;
using wex::test::thrownError;

TEST(MagicPacket, SixFFsThenSixteenCopies) {
    const Bytes p = MagicPacket::bytes({1, 2, 3, 4, 5, 6});
    ASSERT_EQ(p.size(), MagicPacket::size);
    EXPECT_EQ(Bytes(p.begin(), p.begin() + 6), Bytes(6, 0xFF));
    for (std::size_t i = 6; i < p.size(); ++i) EXPECT_EQ(p[i], (i - 6) % 6 + 1) << i;
    EXPECT_EQ(MagicPacket::ports[0], 9);
    EXPECT_EQ(MagicPacket::ports[1], 7);
}

TEST(NetAddress, ParsesHardwareAddressesInAnyGrouping) {
    const MACAddress expected{0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
    for (const char* text : {"aa:bb:cc:dd:ee:ff", "AA-BB-CC-DD-EE-FF", "aabb.ccdd.eeff", "AABB.CCDD.EEFF", "aabbccddeeff",
                             " a a:bbccdd-ee.ff "}) {
        EXPECT_EQ(parseMAC(text), expected) << text;
    }
    for (const char* text : {"aa:bb:cc:dd:ee", "aa:bb:cc:dd:ee:ff:00", "aa:bb:cc:dd:ee:fg", "", "aa_bb_cc_dd_ee_ff",
                             "aa:bb:cc:dd:ee:f\xC3\xA9"}) {
        EXPECT_FALSE(parseMAC(text)) << text;
    }
    EXPECT_EQ(formatMAC(hexBytes("0a0b0c0d0e0f")), "0a:0b:0c:0d:0e:0f");
    EXPECT_EQ(formatMAC({}), "");
}

TEST(NetAddress, ParsesExactlyFourDecimalParts) {
    EXPECT_EQ(parseIPv4("192.168.1.20"), 0xC0A80114u);
    EXPECT_EQ(parseIPv4("0.0.0.0"), 0u);
    EXPECT_EQ(parseIPv4("255.255.255.255"), 0xFFFFFFFFu);
    EXPECT_EQ(parseIPv4("010.001.1.1"), 0x0A010101u); // leading zeros are decimal, not octal
    for (const char* text : {"192.168.1", "192.168..20", "1.2.3.256", "1.2.3.0001", "1.2.3.4.5", "", "1.2.3.4.",
                             ".1.2.3", "0x1.2.3.4", "1.2.3. 4", "+1.2.3.4", "1.2.3.-4", "16909060", "1.2.3.4 "}) {
        EXPECT_FALSE(parseIPv4(text)) << text;
    }
    EXPECT_EQ(formatIPv4(0xC0A80114u), "192.168.1.20");
}

TEST(LANInterface, ChoosesInterfacesBySubnet) {
    const std::vector<LANInterface> one = {{"eth0", 0xC0A80105u, 0xFFFFFF00u}};
    EXPECT_EQ(eligibleInterfaces(one, 0xC0A8014Du, false), one);
    EXPECT_TRUE(eligibleInterfaces(one, 0x0A000007u, false).empty());
    EXPECT_EQ(eligibleInterfaces(one, 0x0A000007u, true), one);
    EXPECT_TRUE(eligibleInterfaces(one, 0, false).empty());
    EXPECT_EQ(eligibleInterfaces(one, 0, true), one);
    EXPECT_TRUE(isOnSameLAN(one, 0xC0A8014Du));
    EXPECT_FALSE(isOnSameLAN(one, 0));
    EXPECT_FALSE(isOnSameLAN(one, 0x0A000007u));
    EXPECT_EQ(one[0].directedBroadcast(), 0xC0A801FFu);

    const std::vector<LANInterface> two = {{"eth0", 0xC0A80105u, 0xFFFFFF00u}, {"wlan0", 0x0A000002u, 0xFF000000u}};
    EXPECT_EQ(eligibleInterfaces(two, 0x0A010203u, false), (std::vector<LANInterface>{two[1]}));
}

TEST(LANInterface, SystemListHasOnlyUsableEntries) {
    for (const auto& i : lanInterfaces()) {
        EXPECT_NE(i.address, 0u);
        EXPECT_NE(i.mask, 0u);
        EXPECT_NE(i.address >> 24, 127u) << i.name;
    }
}

TEST(WakePeerRequest, GoldenBytesRoundTripAndCut) {
    const WakePeerRequest req{0x0102, {1, 2, 3, 4, 5, 6}, 0xC0A80114u, WakePeerRequest::flagAllInterfaces, "Den"};
    const Bytes b = req.encode();
    EXPECT_EQ(b, hexBytes("0102 01 010203040506 c0a80114 01 0003 44656e"));
    EXPECT_EQ(WakePeerRequest::decode(b), req);
    EXPECT_TRUE(req.allInterfaces());
    test::expectEveryPrefixTruncated(b, [](const Bytes& p) { WakePeerRequest::decode(p); });

    WakePeerRequest longName = req;
    longName.name = std::string(70, 'n');
    EXPECT_EQ(WakePeerRequest::decode(longName.encode()).name, std::string(64, 'n'));

    // A cut inside a character leaves a partial sequence that the reader repairs.
    longName.name = std::string(63, 'n') + "\xC3\xA9";
    EXPECT_EQ(WakePeerRequest::decode(longName.encode()).name, std::string(63, 'n') + "\xEF\xBF\xBD");
}

TEST(WakePeerRequest, DecodeOrderChecksVersionBeforeTheRest) {
    EXPECT_EQ(thrownError([] { WakePeerRequest::decode(hexBytes("0102 02 0102")); }),
              WEXError::badEnum("WakePeerRequest.version", 2));
    // Two bytes only: the version is missing, so the error is truncation.
    EXPECT_EQ(thrownError([] { WakePeerRequest::decode(hexBytes("0102")); }), WEXError::truncated());
    EXPECT_EQ(thrownError([] { WakePeerRequest::decode(hexBytes("0102 00")); }),
              WEXError::badEnum("WakePeerRequest.version", 0));
}

TEST(WakePeerAck, GoldenBytesRoundTripAndReasons) {
    const WakePeerAck ack{7, 0, 3, ""};
    const Bytes b = ack.encode();
    EXPECT_EQ(b, hexBytes("0007 01 00 03 0000"));
    EXPECT_EQ(WakePeerAck::decode(b), ack);
    test::expectEveryPrefixTruncated(b, [](const Bytes& p) { WakePeerAck::decode(p); });
    EXPECT_EQ(thrownError([] { WakePeerAck::decode(hexBytes("0007 05 00 03 0000")); }),
              WEXError::badEnum("WakePeerAck.version", 5));

    EXPECT_EQ(ack.humanReason(), "Wake signal sent on 3 networks.");
    EXPECT_EQ((WakePeerAck{7, 0, 1, ""}).humanReason(), "Wake signal sent.");
    EXPECT_EQ((WakePeerAck{7, 0, 0, ""}).humanReason(), "Wake signal sent on 0 networks.");
    EXPECT_EQ((WakePeerAck{7, 1, 0, ""}).humanReason(), "That machine isn't on this one's network.");
    EXPECT_EQ((WakePeerAck{7, 2, 0, ""}).humanReason(), "Couldn't send the wake signal.");
    EXPECT_EQ((WakePeerAck{7, 3, 0, ""}).humanReason(), "Too many wake attempts \u2014 wait a moment.");
    EXPECT_EQ((WakePeerAck{7, 4, 0, ""}).humanReason(), "That machine has no usable hardware address.");
    const WakePeerAck unknown{7, 9, 0, ""};
    EXPECT_EQ(unknown.humanReason(), "That machine answered in a way this app doesn't understand yet.");
    EXPECT_FALSE(unknown.statusCase());
    EXPECT_EQ(WakePeerAck::decode(unknown.encode()).status, 9); // kept as received
    EXPECT_EQ((WakePeerAck{7, 2, 0, "cable unplugged"}).humanReason(), "cable unplugged");

    WakePeerAck longDetail{1, 0, 1, std::string(200, 'd')};
    EXPECT_EQ(WakePeerAck::decode(longDetail.encode()).detail, std::string(160, 'd'));
}

TEST(WakeMessages, RandomRoundTrips) {
    std::mt19937 rng(3);
    for (int i = 0; i < 500; ++i) {
        WakePeerRequest req;
        req.reqId = static_cast<uint16_t>(rng());
        for (auto& b : req.mac) b = static_cast<uint8_t>(rng());
        req.ipv4 = static_cast<uint32_t>(rng());
        req.flags = static_cast<uint8_t>(rng());
        req.name = std::string(rng() % 65, static_cast<char>('a' + rng() % 26));
        ASSERT_EQ(WakePeerRequest::decode(req.encode()), req);
        const WakePeerAck ack{static_cast<uint16_t>(rng()), static_cast<uint8_t>(rng()), static_cast<uint8_t>(rng()),
                              std::string(rng() % 161, 'z')};
        ASSERT_EQ(WakePeerAck::decode(ack.encode()), ack);
    }
}
