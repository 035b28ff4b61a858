// The leak suppressions hide only what libx265 and Qt Quick keep or lose by themselves: an encoder or a
// QML item that our code leaks is still reported.
#include <string>

#include <gtest/gtest.h>

#include "../support/ChildProcess.h"
#include "../support/FileText.h"
#include "../support/TempHome.h"

using namespace dovrel::test;

namespace {

struct Outcome {
    std::optional<int> status;
    std::string output;
};

Outcome leakChild(const std::string& mode) {
    TempDir dir;
    const std::string log = dir.file("output");
    ChildProcess child({LEAK_CHILD, mode}, {{{"ASAN_OPTIONS", "detect_leaks=1:abort_on_error=0:exitcode=23"},
                                             {"LSAN_OPTIONS", "suppressions=" LEAK_SUPPRESSIONS}},
                                            log,
                                            {}});
    Outcome run;
    run.status = child.wait(std::chrono::minutes(2));
    run.output = readFile(log);
    return run;
}

} // namespace

TEST(LeakSuppressions, WhatTheLibrariesKeepIsHiddenWhatOurCodeLeaksIsNot) {
    // What the report names: the function that leaked the encoder; the item's own constructor (Qt Quick
    // keeps no frame pointers, so its stacks end there).
    for (const auto& [library, named] :
         {std::pair{"x265", "leakAnX265Encoder"}, std::pair{"qml", "QQuickRectangle::QQuickRectangle"}}) {
        const Outcome kept = leakChild(std::string(library) + "-kept");
        EXPECT_EQ(kept.status, 0) << kept.output;
        const Outcome leaked = leakChild(std::string(library) + "-leaked");
        EXPECT_EQ(leaked.status, 23) << leaked.output;
        EXPECT_NE(leaked.output.find("LeakSanitizer: detected memory leaks"), std::string::npos) << leaked.output;
        EXPECT_NE(leaked.output.find(named), std::string::npos) << leaked.output;
    }
}
