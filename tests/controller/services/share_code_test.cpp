// Share codes: what people type, what counts as a code, and claiming one at a relay's account API.
#include <gtest/gtest.h>

#include "ServicesTestSupport.h"
#include "controller/services/RelayLink.h"
#include "controller/services/ShareCode.h"

using namespace dovrel::controller;
using namespace dovrel::controller::test;
using dovrel::test::AccountApiReply;

TEST(ShareCode, NormalisesWhatPeopleType) {
    EXPECT_EQ(ShareCode::normalize("k4m2-9qxr"), "K4M29QXR");
    EXPECT_EQ(ShareCode::normalize("k4m2 \t_9qxr"), "K4M29QXR");
    EXPECT_EQ(ShareCode::normalize("oil"), "011");
    EXPECT_EQ(ShareCode::normalize(QString::fromUtf8("ß")), "SS");
}

TEST(ShareCode, LooksValid) {
    EXPECT_TRUE(ShareCode::looksValid("k4m2-9qxr"));
    EXPECT_TRUE(ShareCode::looksValid("oooo-iiii"));
    EXPECT_FALSE(ShareCode::looksValid("K4M2-9QXU"));
    EXPECT_FALSE(ShareCode::looksValid("K4M2-9QXu"));
    EXPECT_FALSE(ShareCode::looksValid("K4M2-9QX"));
    EXPECT_FALSE(ShareCode::looksValid("K4M2-9QXRR"));
    // Grows to eight once upper-cased, but "S" twice from one sharp s is still two symbols: valid.
    EXPECT_TRUE(ShareCode::looksValid(QString::fromUtf8("K4M2-9Qß")));
    EXPECT_FALSE(ShareCode::looksValid(QString::fromUtf8("K4M2-9QXß")));
    EXPECT_FALSE(ShareCode::looksValid(QString::fromUtf8("K4M2-9QXE\xCC\x81"))); // an accented E
}

TEST(ShareCode, Pretty) {
    EXPECT_EQ(ShareCode::pretty("k4 m29q-xr"), "K4M2-9QXR");
    EXPECT_EQ(ShareCode::pretty("k4m2-9qx"), "K4M29QX");
}

namespace {
struct RelayClaimTest : ::testing::Test, ApiDoubleFixture {
    RelayLink link{http};
    void SetUp() override { app(); }
    std::optional<ApiResult<QString>> claim(const QString& code) {
        return await<QString>([&](auto done) { link.claim(code, "127.0.0.1", api.port(), std::move(done)); });
    }
};
} // namespace

TEST_F(RelayClaimTest, ANormalisedCodeIsClaimed) {
    api.addShare("ann", "K4M29QXR", "dovrel://pair?code=1&host=h");
    EXPECT_EQ(*claim("k4m2 9qxr")->value, "dovrel://pair?code=1&host=h");
    EXPECT_EQ(api.requests("/v1/claim").at(0).json(), (QJsonObject{{"code", "K4M29QXR"}}));
}

TEST_F(RelayClaimTest, AMistypedCodeNeverLeaves) {
    EXPECT_EQ(claim("K4M2-9QU")->failure.message, "A code is eight letters and numbers, like K4M2-9QXR.");
    EXPECT_TRUE(api.requests().empty());
}

TEST_F(RelayClaimTest, Answers) {
    EXPECT_EQ(claim("K4M2-9QXR")->failure.message, "That code is unknown or has expired.");
    api.script("/v1/claim", AccountApiReply::raw(200, "no json"));
    EXPECT_EQ(claim("K4M2-9QXR")->failure.message, "That code has nothing behind it any more.");
    api.script("/v1/claim", AccountApiReply::json(200, {{"error", "gone"}}));
    EXPECT_EQ(claim("K4M2-9QXR")->failure.message, "That code has nothing behind it any more.");
    api.script("/v1/claim", AccountApiReply::raw(500, "<html>"));
    EXPECT_EQ(claim("K4M2-9QXR")->failure.message, "That code didn't work (500).");
}

TEST(RelayClaimUrl, ThePortIsWrittenUnless443) {
    auto fake = std::make_shared<FakeHttpClient>();
    RelayLink link(fake);
    link.claim("K4M29QXR", "relay.example", 443, [](const ApiResult<QString>&) {});
    link.claim("K4M29QXR", "relay.example", 8443, [](const ApiResult<QString>&) {});
    ASSERT_EQ(fake->sent.size(), 2u);
    EXPECT_EQ(fake->sent[0].request.url.toString(), "https://relay.example/v1/claim");
    EXPECT_EQ(fake->sent[1].request.url.toString(), "https://relay.example:8443/v1/claim");
}
