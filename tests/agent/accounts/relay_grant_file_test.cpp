#include <filesystem>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "AccountsTestSupport.h"
#include "agent/accounts/RelayGrant.h"

using namespace dovrel;
using namespace dovrel::agent;
using namespace dovrel::test;
namespace fs = std::filesystem;

namespace {

using Grant = RelayGrant::Grant;

mode_t modeOf(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mode & 0777;
}

std::optional<Grant> decode(const std::string& json, int64_t now = 1'700'000'000) {
    return RelayGrant::decodeFile(wex::ByteView(reinterpret_cast<const uint8_t*>(json.data()), json.size()), now);
}

// grant.json operations only; the API is never called here.
struct GrantFile : ::testing::Test, private QtAppFirst {
    GrantFile() : config(dir.file("nested/Dovrel")), api(AccountApi::Options{}), grants(api, config) {}
    TempDir dir;
    RelayConfig config;
    AccountApi api;
    RelayGrant grants;
};

} // namespace

TEST_F(GrantFile, SaveWritesCompactPrivateJsonThatLoadsBack) {
    const Grant g{"aa.bb.cc.dd.ee.0123456789abcdef.ff", "fedcba9876543210", 0};
    grants.save(g); // the directory does not exist yet
    ASSERT_TRUE(fs::exists(grants.path()));
    EXPECT_EQ(grants.path(), config.directory() + "/grant.json");
    EXPECT_EQ(modeOf(grants.path()), 0600u);
    EXPECT_EQ(readText(grants.path()),
              R"({"expires":0,"jti":"fedcba9876543210","token":"aa.bb.cc.dd.ee.0123456789abcdef.ff"})");
    EXPECT_EQ(grants.load(), g);

    // Rewriting a file that had become readable by others makes it private again, and leaves no
    // temporary file behind.
    ::chmod(grants.path().c_str(), 0644);
    const Grant later{"t2", "", RelayGrant::nowSeconds() + 3600};
    grants.save(later);
    EXPECT_EQ(modeOf(grants.path()), 0600u);
    EXPECT_EQ(grants.load(), later);
    EXPECT_EQ(std::distance(fs::directory_iterator(config.directory()), fs::directory_iterator{}), 1);

    grants.clear();
    EXPECT_FALSE(fs::exists(grants.path()));
    EXPECT_EQ(grants.load(), std::nullopt);
    grants.clear(); // a missing file is no failure
}

TEST_F(GrantFile, LoadRefusesWhatIsNotAUsableGrant) {
    fs::create_directories(config.directory());
    EXPECT_EQ(grants.load(), std::nullopt); // no file
    writeText(grants.path(), "not json");
    EXPECT_EQ(grants.load(), std::nullopt);
    writeText(grants.path(), R"({"token": "x", "expires": 1})"); // expired long ago
    EXPECT_EQ(grants.load(), std::nullopt);
    writeText(grants.path(), R"({"token": "x", "expires": 4102444800, "jti": "j"})");
    EXPECT_EQ(grants.load(), (Grant{"x", "j", 4102444800}));
}

TEST(GrantDecoding, KeysByTypeAndExpiry) {
    const int64_t now = 1'700'000'000;
    EXPECT_EQ(decode("[1, 2]"), std::nullopt);
    EXPECT_EQ(decode("\"token\""), std::nullopt);
    EXPECT_EQ(decode("{}"), std::nullopt);
    EXPECT_EQ(decode(R"({"token": ""})"), std::nullopt);
    EXPECT_EQ(decode(R"({"token": 42})"), std::nullopt);
    EXPECT_EQ(decode(R"({"token": "t"})"), (Grant{"t", "", 0}));
    // A "jti" or "expires" of another type counts as absent.
    EXPECT_EQ(decode(R"({"token": "t", "jti": 7, "expires": "soon"})"), (Grant{"t", "", 0}));
    // Expired means strictly before now.
    EXPECT_EQ(decode(R"({"token": "t", "expires": 1699999999})", now), std::nullopt);
    EXPECT_EQ(decode(R"({"token": "t", "expires": 1700000000})", now), (Grant{"t", "", 1700000000}));
    // Numbers are read as 64-bit integers: fractions cut toward zero, huge values kept exactly.
    EXPECT_EQ(decode(R"({"token": "t", "expires": 1800000000.9})", now)->expires, 1800000000);
    EXPECT_EQ(decode(R"({"token": "t", "expires": 9007199254740993})", now)->expires, 9007199254740993);
    EXPECT_EQ(decode(R"({"token": "t", "expires": 1e300})", now)->expires, std::numeric_limits<int64_t>::max());
    // Unknown keys are ignored; a round trip of every field is exact.
    const Grant g{"a.b", "0123456789ABCDEF", 4102444800};
    EXPECT_EQ(decode(RelayGrant::encodeFile(g), now), g);
    EXPECT_EQ(decode(R"({"token": "t", "other": [1]})", now), (Grant{"t", "", 0}));
}

TEST(GrantIdentity, CancellableIdFromJtiOrTheSixthOfSevenSegments) {
    const std::string id = "0123456789abcdef";
    // The jti wins when present, and must itself be 16 hex digits.
    EXPECT_EQ(RelayGrant::cancellableID({"opaque", id, 0}), id);
    EXPECT_EQ(RelayGrant::cancellableID({"opaque", "0123456789ABCDEF", 0}), "0123456789ABCDEF");
    EXPECT_EQ(RelayGrant::cancellableID({"a.b.c.d.e." + id + ".g", "not-hex-sixteen!", 0}), "");
    EXPECT_EQ(RelayGrant::cancellableID({"opaque", "0123456789abcde", 0}), "");
    EXPECT_EQ(RelayGrant::cancellableID({"opaque", "0123456789abcdef0", 0}), "");
    // Without a jti: exactly seven segments, the sixth being 16 hex digits.
    EXPECT_EQ(RelayGrant::cancellableID({"a.b.c.d.e." + id + ".g", "", 0}), id);
    EXPECT_EQ(RelayGrant::cancellableID({"....." + id + ".", "", 0}), id);             // empty segments count
    EXPECT_EQ(RelayGrant::cancellableID({"a.b.c.d." + id + ".g", "", 0}), "");         // six segments
    EXPECT_EQ(RelayGrant::cancellableID({"a.b.c.d.e." + id + ".g.h", "", 0}), "");     // eight
    EXPECT_EQ(RelayGrant::cancellableID({"a.b.c.d.e.0123456789abcdeg.g", "", 0}), ""); // not hex
    EXPECT_EQ(RelayGrant::cancellableID({"a.b.c.d.e.0123456789abcde.g", "", 0}), "");  // 15 digits
    EXPECT_EQ(RelayGrant::cancellableID({"", "", 0}), "");
}

TEST(GrantExpiry, TextsForNeverPastAndALocalDate) {
    const QLocale us("en_US");
    const QTimeZone utc = QTimeZone::utc();
    const int64_t now = 1'700'000'000;
    EXPECT_EQ((Grant{"t", "", 0}).expiryText(now, us, utc), "Never expires");
    EXPECT_EQ((Grant{"t", "", now - 1}).expiryText(now, us, utc), "Expired");
    // 2026-01-05 15:04 UTC: medium date and short time of the locale.
    const std::string us1504 = (Grant{"t", "", 1767625440}).expiryText(now, us, utc);
    EXPECT_TRUE(us1504.starts_with("Expires Jan 5, 2026, 3:04")) << us1504;
    EXPECT_TRUE(us1504.ends_with("PM")) << us1504;
    const std::string de = (Grant{"t", "", 1767625440}).expiryText(now, QLocale("de_DE"), utc);
    EXPECT_TRUE(de.starts_with("Expires 5. Jan")) << de;
    EXPECT_TRUE(de.ends_with("2026, 15:04")) << de;
    // The zone moves the clock time.
    const std::string tokyo = (Grant{"t", "", 1767625440}).expiryText(now, us, QTimeZone("Asia/Tokyo"));
    EXPECT_TRUE(tokyo.starts_with("Expires Jan 6, 2026, 12:04")) << tokyo;
    // Exactly now has not expired yet.
    EXPECT_NE((Grant{"t", "", now}).expiryText(now, us, utc), "Expired");
}

TEST(GrantQuery, AccountAndTokenOnlyWithAGrantAndSignedIn) {
    const Grant g{"ab.c+d/e", "", 0};
    EXPECT_EQ(RelayGrant::relayGrantQuery("", g), "");
    EXPECT_EQ(RelayGrant::relayGrantQuery("amy", std::nullopt), "");
    EXPECT_EQ(RelayGrant::relayGrantQuery("amy", Grant{"", "j", 0}), "");
    EXPECT_EQ(RelayGrant::relayGrantQuery("amy", g), "&account=amy&token=ab.c+d/e");
    // Blanks and non-ASCII are percent-encoded in upper case; "&" and "=" too, so that a value can never
    // end the parameter or start a new one.
    EXPECT_EQ(RelayGrant::relayGrantQuery("amy smith&token=x", g), "&account=amy%20smith%26token%3Dx&token=ab.c+d/e");
    EXPECT_EQ(RelayGrant::relayGrantQuery("zoë", g), "&account=zo%C3%AB&token=ab.c+d/e");
}

TEST(GrantReplaceOutcome, EveryCaseOfTheOldGrant) {
    const RelayGrant::Minted plain{{"new", "1111222233334444", 0}, std::nullopt, ""};
    auto r = RelayGrant::replaceOutcome(false, "", plain);
    EXPECT_TRUE(r.cancelled);
    EXPECT_EQ(r.reason, std::nullopt);
    EXPECT_EQ(r.grant, plain.grant);

    r = RelayGrant::replaceOutcome(true, "", plain);
    EXPECT_FALSE(r.cancelled);
    EXPECT_EQ(r.reason, "the previous QR code had no id on record, so it could not be cancelled");

    auto refused = plain;
    refused.replaced = false;
    r = RelayGrant::replaceOutcome(true, "0123456789abcdef", refused);
    EXPECT_FALSE(r.cancelled);
    EXPECT_EQ(r.reason, "the relay could not cancel the previous QR code");
    refused.replaceError = "grant unknown";
    r = RelayGrant::replaceOutcome(true, "0123456789abcdef", refused);
    EXPECT_EQ(r.reason, "the relay could not cancel the previous QR code (grant unknown)");

    auto confirmed = plain;
    confirmed.replaced = true;
    EXPECT_TRUE(RelayGrant::replaceOutcome(true, "0123456789abcdef", confirmed).cancelled);
    EXPECT_TRUE(RelayGrant::replaceOutcome(true, "0123456789abcdef", plain).cancelled); // not reported
}
