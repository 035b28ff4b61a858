#include <gtest/gtest.h>

#include "protocol/DovrelService.h"

using namespace wex;
using namespace wex::DovrelService;

TEST(DovrelService, BuildsTheFourKeys) {
    const TxtRecord t = txt("abc123", "Studio", false, 1);
    EXPECT_EQ(t, (TxtRecord{{"id", "abc123"}, {"n", "Studio"}, {"r", "0"}, {"v", "1"}}));
    EXPECT_EQ(txt("x", "y", true, 12).at("r"), "1");
    EXPECT_EQ(txt("x", "y", true, 12).at("v"), "12");
    EXPECT_EQ(type, "_dovrel._tcp");
}

TEST(DovrelService, ParsesReadinessStrictly) {
    EXPECT_EQ(parse({{"id", "a"}, {"n", "b"}}), (Advert{"a", "b", true}));
    EXPECT_EQ(parse({{"id", "a"}, {"n", "b"}, {"r", "0"}})->ready, false);
    EXPECT_EQ(parse({{"id", "a"}, {"n", "b"}, {"r", "yes"}})->ready, false);
    EXPECT_EQ(parse({{"id", "a"}, {"n", "b"}, {"r", "1 "}})->ready, false);
    EXPECT_EQ(parse({{"id", "a"}, {"n", "b"}, {"r", "1"}, {"zz", "?"}})->ready, true);
}

TEST(DovrelService, RejectsRecordsWithoutIdOrName) {
    EXPECT_FALSE(parse({}));
    EXPECT_FALSE(parse({{"id", ""}, {"n", "b"}}));
    EXPECT_FALSE(parse({{"id", "a"}}));
    EXPECT_FALSE(parse({{"id", "a"}, {"n", ""}}));
    EXPECT_FALSE(parse({{"n", "b"}, {"r", "1"}}));
}

TEST(DovrelService, RoundTripsAndKeepsEveryEntryWithin255Bytes) {
    EXPECT_EQ(parse(txt("0123456789abcdef0123456789abcdef", "Kitchen Mac", true, 1)),
              (Advert{"0123456789abcdef0123456789abcdef", "Kitchen Mac", true}));

    // 300 bytes of three-byte characters: the name is cut to whole characters within 253 bytes.
    std::string longName;
    for (int i = 0; i < 100; ++i) longName += "\xE2\x82\xAC";
    const TxtRecord t = txt("id", longName, true, 1);
    EXPECT_EQ(t.at("n").size(), 252u);
    EXPECT_EQ(t.at("n"), longName.substr(0, 252));
    for (const auto& [k, v] : t) EXPECT_LE(k.size() + 1 + v.size(), maxTxtEntryBytes);
}
