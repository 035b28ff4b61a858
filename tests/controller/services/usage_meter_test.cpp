// The usage meter: tokens per MiB, the stored total across restarts, and what it refuses.
#include <gtest/gtest.h>

#include "../client/ClientTestSupport.h"
#include "controller/services/UsageMeter.h"

using namespace dovrel::controller;

namespace {
constexpr double MiB = 1048576.0;

struct MeterFixture : ::testing::Test {
    dovrel::test::TempDir dir;
    std::shared_ptr<UserDefaults> defaults() {
        test::app();
        return std::make_shared<UserDefaults>(dir.file("DovrelController.ini"));
    }
};
} // namespace

TEST_F(MeterFixture, LocalTokensAreMiBRoundedHalvesUp) {
    struct Case {
        double bytes;
        qint64 tokens;
    };
    for (const Case c : {Case{0, 0}, Case{MiB / 2 - 1, 0}, Case{MiB / 2, 1}, Case{MiB, 1}, Case{1.5 * MiB, 2},
                         Case{2.5 * MiB - 1, 2}, Case{1e12, 953674}}) {
        auto d = defaults();
        d->setNumber(UsageMeter::key, c.bytes);
        UsageMeter meter(d);
        EXPECT_EQ(meter.totalBytes(), c.bytes);
        EXPECT_EQ(meter.localTokens(), c.tokens) << c.bytes;
    }
}

TEST_F(MeterFixture, ReceivedBytesAddUpAndSurviveARestart) {
    auto d = defaults();
    {
        UsageMeter meter(d);
        EXPECT_EQ(meter.totalBytes(), 0);
        int changes = 0;
        QObject::connect(&meter, &UsageMeter::totalBytesChanged, [&] { ++changes; });
        meter.addReceived(1000);
        meter.addReceived(0);
        meter.addReceived(-50);
        meter.addReceived(MiB);
        EXPECT_EQ(meter.totalBytes(), 1000 + MiB);
        EXPECT_EQ(changes, 2);
    }
    UsageMeter again(std::make_shared<UserDefaults>(d->path()));
    EXPECT_EQ(again.totalBytes(), 1000 + MiB);
    // Counts beyond 2^53 stay whole enough to keep growing.
    again.addReceived(int64_t{1} << 40);
    EXPECT_EQ(UsageMeter(std::make_shared<UserDefaults>(d->path())).totalBytes(), 1000 + MiB + std::ldexp(1.0, 40));
}

TEST_F(MeterFixture, NothingWrittenForNothingReceivedAndABadStoredValueStartsAtZero) {
    auto d = defaults();
    {
        UsageMeter meter(d);
        meter.addReceived(0);
        EXPECT_FALSE(d->number(UsageMeter::key));
    }
    for (const char* bad : {"lots", "", "-5", "nan", "inf"}) {
        d->setString(UsageMeter::key, bad);
        EXPECT_EQ(UsageMeter(d).totalBytes(), 0) << bad;
    }
    d->setString(UsageMeter::key, "2048");
    EXPECT_EQ(UsageMeter(d).totalBytes(), 2048);
}

TEST_F(MeterFixture, AnAccountCountIsKeptBesideTheLocalOne) {
    UsageMeter meter(defaults());
    EXPECT_FALSE(meter.accountTokensForView().isValid());
    meter.setAccountTokens(42);
    EXPECT_EQ(meter.accountTokensForView().toLongLong(), 42);
    meter.setAccountTokens(std::nullopt);
    EXPECT_FALSE(meter.accountTokens());
}

TEST_F(MeterFixture, TheClientsReportsFeedTheMeter) {
    test::ClientFixture f;
    WEXClient& client = f.make();
    UsageMeter meter(defaults());
    QObject::connect(&client, &WEXClient::receivedBytes, &meter, &UsageMeter::addReceived);
    emit client.receivedBytes(4096);
    EXPECT_EQ(meter.totalBytes(), 4096);
}
