// The entry point of the desktop test binaries: a Qt application for the code under test (a
// QGuiApplication on the test's own Xvfb for the clipboard tests), Google Test, and the X server
// stopped only after the application that talks to it.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <thread>

#include <QCoreApplication>
#include <QGuiApplication>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "DesktopTestSupport.h"

namespace dovrel::test {

namespace {

std::unique_ptr<XvfbDisplay>& displayHolder() {
    static std::unique_ptr<XvfbDisplay> display;
    return display;
}
bool gDisplayTried = false;
bool gGui = false;
std::string gReason;

} // namespace

XvfbDisplay* testDisplay() {
    if (!gDisplayTried) {
        gDisplayTried = true;
        auto display = std::make_unique<XvfbDisplay>();
        if (display->available())
            displayHolder() = std::move(display);
        else
            gReason = "no X server for this test: " + display->reason();
    }
    return displayHolder().get();
}

std::string displayUnavailableReason() { return gReason.empty() ? "no X server for this test" : gReason; }

bool guiAvailable() { return gGui; }

bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void pumpFor(std::chrono::milliseconds duration) {
    const auto end = std::chrono::steady_clock::now() + duration;
    while (std::chrono::steady_clock::now() < end) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

LogCapture::LogCapture() {
    std::fflush(stdout);
    saved_ = ::dup(1);
    const int fd = ::open(dir_.file("log").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ::dup2(fd, 1);
    ::close(fd);
}

LogCapture::~LogCapture() {
    std::fflush(stdout);
    ::dup2(saved_, 1);
    ::close(saved_);
    const std::string captured = text();
    std::fwrite(captured.data(), 1, captured.size(), stdout);
    std::fflush(stdout);
}

std::string LogCapture::text() const {
    std::fflush(stdout);
    std::ifstream in(dir_.file("log"), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

} // namespace dovrel::test

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    bool listing = false;
    for (int i = 1; i < argc; ++i)
        listing = listing || std::strcmp(argv[i], "--gtest_list_tests") == 0;

    std::unique_ptr<QCoreApplication> app;
#if DOVREL_DESKTOP_TEST_GUI
    if (!listing && dovrel::test::testDisplay()) {
        // The clipboard is shared between processes only on the xcb platform.
        ::setenv("DISPLAY", dovrel::test::testDisplay()->name().c_str(), 1);
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
        app = std::make_unique<QGuiApplication>(argc, argv);
        dovrel::test::gGui = true;
    }
#endif
    if (!app) app = std::make_unique<QCoreApplication>(argc, argv);
    (void)listing;
    const int result = RUN_ALL_TESTS();
    app.reset();
    dovrel::test::displayHolder().reset();
    return result;
}
