#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "../../support/TempHome.h"
#include "../../support/XvfbDisplay.h"

namespace dovrel::test {

// The test binary's own X server, started on first use and stopped when the binary ends. Null when
// the machine cannot run one; `displayUnavailableReason()` then says why.
XvfbDisplay* testDisplay();
std::string displayUnavailableReason();

// Whether the binary runs a QGuiApplication on that display (clipboard tests need one).
bool guiAvailable();

// Runs the main thread's Qt events until `done` holds or `timeout` passes; false on time-out.
bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = std::chrono::seconds(10));
// Runs the main thread's Qt events for a while.
void pumpFor(std::chrono::milliseconds duration);

// Captures what the code under test logs (standard output) while it lives, and passes it on to the
// real standard output when it goes, so that nothing a failing test printed is lost.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::string text() const;
    bool contains(const std::string& part) const { return text().find(part) != std::string::npos; }

private:
    TempDir dir_;
    int saved_ = -1;
};

} // namespace dovrel::test

#define DOVREL_REQUIRE_DISPLAY()                                                                                       \
    do {                                                                                                               \
        if (!::dovrel::test::testDisplay()) GTEST_SKIP() << ::dovrel::test::displayUnavailableReason();                \
    } while (0)

#define DOVREL_REQUIRE_GUI()                                                                                           \
    do {                                                                                                               \
        if (!::dovrel::test::guiAvailable()) GTEST_SKIP() << ::dovrel::test::displayUnavailableReason();               \
    } while (0)
