#include <gtest/gtest.h>

#include "controller/client/link/Hexed.h"

using namespace dovrel::controller;

TEST(Hexed, LowerCaseTwoDigitsPerByteAndAgentIdsFromKeys) {
    EXPECT_EQ(wex::hexed(wex::Bytes{0x00, 0xab}), "00ab");
    EXPECT_EQ(wex::hexed(wex::Bytes{}), "");
    wex::Bytes key(32);
    for (std::size_t i = 0; i < key.size(); ++i)
        key[i] = static_cast<uint8_t>(0xf0 + i);
    EXPECT_EQ(wex::deviceIdOfKey(key), "f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff");
    EXPECT_EQ(wex::deviceIdOfKey(wex::Bytes{0x01, 0x02}), "0102");
    EXPECT_EQ(lowercased("AbC-9Z"), "abc-9z");
}

TEST(Hexed, Nonce24IsFreshEachTime) {
    const auto a = nonce24(), b = nonce24();
    EXPECT_EQ(a.size(), 24u);
    EXPECT_NE(a, b);
}
