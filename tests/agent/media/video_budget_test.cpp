#include <cstdlib>
#include <optional>

#include <gtest/gtest.h>

#include "agent/media/VideoBudget.h"

using namespace dovrel::agent;

namespace {

// Sets or clears one environment variable for the scope, and puts the old value back.
class EnvVar {
public:
    EnvVar(const char* name, std::optional<const char*> value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value)
            ::setenv(name, *value, 1);
        else
            ::unsetenv(name);
    }
    ~EnvVar() {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

} // namespace

TEST(VideoBudget, BaseBudgetsOfTheTwoLinks) {
    EXPECT_EQ(VideoBudget::forLink(false), (VideoBudget{12000000, 3000000, 60, 120}));
    EXPECT_EQ(VideoBudget::forLink(true), (VideoBudget{2500000, 625000, 30, 450}));
}

TEST(VideoBudget, OverridesKeepTheKeyframeSpacingInSecondsWithAFloorOf60Frames) {
    struct Case {
        std::optional<std::string_view> bits, fps;
        VideoBudget lan, relay;
    };
    const Case cases[] = {
        {std::nullopt, std::nullopt, {12000000, 3000000, 60, 120}, {2500000, 625000, 30, 450}},
        {std::nullopt, "30", {12000000, 3000000, 30, 60}, {2500000, 625000, 30, 450}},
        {std::nullopt, "10", {12000000, 3000000, 10, 60}, {2500000, 625000, 10, 150}},
        {"100000", std::nullopt, {200000, 50000, 60, 120}, {200000, 50000, 30, 450}},
        {"20000000", "45", {20000000, 5000000, 45, 90}, {20000000, 5000000, 45, 675}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(VideoBudget::lan().withOverrides(c.bits, c.fps), c.lan)
            << c.bits.value_or("-") << " " << c.fps.value_or("-");
        EXPECT_EQ(VideoBudget::relay().withOverrides(c.bits, c.fps), c.relay);
    }
}

TEST(VideoBudget, BadOverridesAreIgnoredAndOutOfRangeOnesClamped) {
    const VideoBudget lan = VideoBudget::lan();
    for (const char* bad : {"abc", "", " 5", "5 ", "1e6", "0x10", "+", "-", "12.5", "99999999999999999999999"}) {
        EXPECT_EQ(lan.withOverrides(bad, std::nullopt).averageBitRate, 12000000) << bad;
        EXPECT_EQ(lan.withOverrides(std::nullopt, bad).expectedFrameRate, 60) << bad;
    }
    EXPECT_EQ(lan.withOverrides("-5", std::nullopt).averageBitRate, 200000);
    EXPECT_EQ(lan.withOverrides("+300000", std::nullopt).averageBitRate, 300000);
    EXPECT_EQ(lan.withOverrides("-9223372036854775808", std::nullopt).averageBitRate, 200000);
    EXPECT_EQ(lan.withOverrides("1000000001", std::nullopt).averageBitRate, 1000000000);
    EXPECT_EQ(lan.withOverrides("9223372036854775807", std::nullopt), lan.withOverrides("1000000000", std::nullopt));
    EXPECT_EQ(lan.withOverrides(std::nullopt, "0").expectedFrameRate, 5);
    EXPECT_EQ(lan.withOverrides(std::nullopt, "120").expectedFrameRate, 60);
    EXPECT_EQ(lan.withOverrides(std::nullopt, "-7").expectedFrameRate, 5);
}

TEST(VideoBudget, ParsesDecimalIntegersOnly) {
    EXPECT_EQ(parseDecimalInteger("0"), 0);
    EXPECT_EQ(parseDecimalInteger("-0"), 0);
    EXPECT_EQ(parseDecimalInteger("9223372036854775807"), INT64_MAX);
    EXPECT_EQ(parseDecimalInteger("-9223372036854775808"), INT64_MIN);
    EXPECT_EQ(parseDecimalInteger("9223372036854775808"), std::nullopt);
    EXPECT_EQ(parseDecimalInteger("--1"), std::nullopt);
    EXPECT_EQ(parseDecimalInteger("٣"), std::nullopt); // digits of other scripts are not decimal here
}

TEST(VideoBudget, ReadsTheEnvironmentOnEveryCall) {
    EnvVar bits("DOVREL_BITRATE", "abc");
    EnvVar fps("DOVREL_FPS", std::nullopt);
    EXPECT_EQ(VideoBudget::lan().withEnvironmentOverrides(), VideoBudget::lan());
    {
        EnvVar moreBits("DOVREL_BITRATE", "8000000");
        EnvVar lowFps("DOVREL_FPS", "10");
        EXPECT_EQ(VideoBudget::relay().withEnvironmentOverrides(), (VideoBudget{8000000, 2000000, 10, 150}));
    }
    EXPECT_EQ(VideoBudget::relay().withEnvironmentOverrides(), VideoBudget::relay());
}

TEST(VideoBudget, LogLineTruncatesToWholeMegabits) {
    EXPECT_EQ(VideoBudget::relay().logLine(), "• encoder budget: 2 Mbit/s, 30 fps, IDR every 450 frames");
    EXPECT_EQ(VideoBudget::lan().logLine(), "• encoder budget: 12 Mbit/s, 60 fps, IDR every 120 frames");
    EXPECT_EQ(VideoBudget::lan().logLine(12), "• encoder budget: 12 Mbit/s, 60 fps, a refresh wave every 12 frames");
    EXPECT_EQ(VideoBudget::lan().withOverrides("999999", "5").logLine(),
              "• encoder budget: 0 Mbit/s, 5 fps, IDR every 60 frames");
}

// Pieces of 1000 bytes travel with 44 bytes of headers and seal: the encoder gets the rest of the link.
TEST(VideoBudget, EncoderShareLeavesRoomForThePiecesHeadersAndSeals) {
    EXPECT_EQ(VideoBudget::encoderShareOf(1044), 1000);
    EXPECT_EQ(VideoBudget::encoderShareOf(12000000), 11494252);
    EXPECT_EQ(VideoBudget::encoderShareOf(0), 0);
    // No overflow near the top of the range.
    EXPECT_GT(VideoBudget::encoderShareOf(INT64_MAX), INT64_MAX / 1044 * 1000 - 1);
}
