// A second stop signal while start-up hangs ends the program at once, after its clean-up and with status
// 0, however long the hold would wait for a first one alone. In a process of its own.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "runtime/StopSignal.h"

using namespace std::chrono_literals;

TEST(StopSignalHold, ASecondSignalEndsAHangingStartUpAtOnceAfterItsCleanUp) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const auto startUpThatHangs = [] {
        dovrel::StopSignalHold hold(1h);
        hold.onCutShort([](const std::string&) { std::fputs("cleaned up\n", stderr); });
        std::raise(SIGINT);
        std::raise(SIGTERM);
        std::this_thread::sleep_for(60s);
        std::exit(1);
    };
    EXPECT_EXIT(startUpThatHangs(), ::testing::ExitedWithCode(0), "cleaned up");
}
