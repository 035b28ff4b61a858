// The real DovrelController against the real DovrelAgent on a private X server: the first launch pairs
// with the agent's code and shows its screen in the window; a second launch, given no code, connects
// by the key the first one left behind and shows the screen again.
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <regex>
#include <string>
#include <thread>

#include <QImage>
#include <QUdpSocket>

#include <gtest/gtest.h>

#include "../../support/ChildProcess.h"
#include "../../support/TempHome.h"
#include "../../support/XTestClient.h"
#include "../../support/XvfbServer.h"

using namespace std::chrono_literals;
using dovrel::test::ChildProcess;
using dovrel::test::TempDir;

namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

template <typename F> bool waitFor(F&& done, std::chrono::seconds deadline) {
    const auto until = std::chrono::steady_clock::now() + deadline;
    while (std::chrono::steady_clock::now() < until) {
        if (done()) return true;
        std::this_thread::sleep_for(100ms);
    }
    return done();
}

uint16_t freeUdpPort() {
    QUdpSocket probe;
    probe.bind(QHostAddress::LocalHost, 0);
    return probe.localPort();
}

// Close to the colour the agent's screen was filled with, after the trip through H.264 and back.
bool near(QRgb pixel, uint32_t rgb) {
    const auto close = [](int a, int b) { return std::abs(a - b) <= 24; };
    return close(qRed(pixel), (rgb >> 16) & 0xff) && close(qGreen(pixel), (rgb >> 8) & 0xff) &&
           close(qBlue(pixel), rgb & 0xff);
}

struct ControllerAgentE2E : ::testing::Test {
    dovrel::test::XvfbServer xvfb{1280, 720};
    TempDir agentHome;
    TempDir controllerHome;
    ChildProcess agent;
    uint16_t videoPort = 0;
    uint16_t controlPort = 0;
    uint16_t inputPort = 0;
    std::string code;

    std::string agentLog() const { return readFile(agentHome.file("agent.out")); }

    // The agent runs on a terminal of its own (script), the only place it prints its pairing code.
    void startAgent() {
        std::filesystem::create_directories(agentHome.path() / ".config/Dovrel");
        std::ofstream(agentHome.file(".config/Dovrel/relay.json")) << "{\"lan\": true}";
        videoPort = freeUdpPort();
        ChildProcess::Options o;
        o.env = {{"HOME", agentHome.str()},
                 {"XDG_CONFIG_HOME", agentHome.file(".config")},
                 {"DISPLAY", xvfb.display()},
                 {"DOVREL_CONTROL_PORT", "0"},
                 {"DOVREL_INPUT_PORT", "0"},
                 {"DOVREL_VIDEO_PORT", std::to_string(videoPort)},
                 {"DBUS_SESSION_BUS_ADDRESS", "disabled:"},
                 {"DBUS_SYSTEM_BUS_ADDRESS", "disabled:"}};
        o.logFile = agentHome.file("agent.out");
        ASSERT_TRUE(agent.start(
            {dovrel::test::findProgram("script"), "-qfec", std::string("'") + DOVREL_AGENT_BINARY + "'", "/dev/null"},
            o));
        static const std::regex ports(R"(CONTROL tcp/(\d+), INPUT udp/(\d+))");
        static const std::regex pairing(R"(PAIRING CODE: (\d+))");
        std::smatch m, c;
        std::string log;
        ASSERT_TRUE(waitFor(
            [&] {
                log = agentLog();
                return std::regex_search(log, m, ports) && std::regex_search(log, c, pairing);
            },
            30s))
            << "the agent did not report its ports and code; its log:\n"
            << log;
        controlPort = static_cast<uint16_t>(std::stoi(m[1]));
        inputPort = static_cast<uint16_t>(std::stoi(m[2]));
        code = c[1];
    }

    // A controller launch, offscreen, saving its window as `snapshot`.
    void launchController(ChildProcess& controller, const std::string& snapshot, bool withCode) {
        ChildProcess::Options o;
        o.env = {{"HOME", controllerHome.str()},
                 {"XDG_CONFIG_HOME", controllerHome.file(".config")},
                 {"XDG_DATA_HOME", controllerHome.file(".local/share")},
                 {"DBUS_SESSION_BUS_ADDRESS", "disabled:"},
                 {"QT_QPA_PLATFORM", "offscreen"},
                 {"QT_QUICK_BACKEND", "software"},
                 {"DOVREL_VIDEO_PORT", std::to_string(videoPort)},
                 {"DOVREL_INPUT_PORT", std::to_string(inputPort)}};
        o.logFile = controllerHome.file("controller.out");
        std::vector<std::string> argv{DOVREL_CONTROLLER_BINARY, "-autoHost", "127.0.0.1:" + std::to_string(controlPort),
                                      "-windowSnapshot", snapshot};
        if (withCode) argv.insert(argv.end(), {"-pairingCode", code});
        ASSERT_TRUE(controller.start(argv, o));
    }

    // What the window showed at the last look at the last look, for the failure message.
    std::string lastSeen = "no picture of the window";

    // The window shows the agent's screen filled with `rgb`.
    bool windowShows(const std::string& snapshot, uint32_t rgb) {
        QImage picture;
        if (!picture.load(QString::fromStdString(snapshot))) return false;
        // Two points of the picture away from the remote pointer, which rests in the middle.
        const QRgb a = picture.pixel(picture.width() / 3, picture.height() / 3);
        const QRgb b = picture.pixel(picture.width() * 2 / 3, picture.height() * 3 / 5);
        lastSeen = QString::asprintf("the window showed #%06x and #%06x", a & 0xffffff, b & 0xffffff).toStdString();
        return near(a, rgb) && near(b, rgb);
    }
};

} // namespace

TEST_F(ControllerAgentE2E, PairsByCodeShowsTheAgentsScreenAndComesBackByKey) {
    if (!xvfb.running()) GTEST_SKIP() << "no X server for the agent: " << xvfb.failure();
    if (dovrel::test::findProgram("script").empty()) GTEST_SKIP() << "no script(1) to give the agent a terminal";
    dovrel::test::XTestClient screen(xvfb.display());
    ASSERT_TRUE(screen.ok());
    constexpr uint32_t first = 0xd0307c, second = 0x2890e0;
    screen.fill(0, 0, screen.width(), screen.height(), first);
    ASSERT_NO_FATAL_FAILURE(startAgent());

    const std::string snapshot = controllerHome.file("window.png");
    {
        ChildProcess controller;
        ASSERT_NO_FATAL_FAILURE(launchController(controller, snapshot, true));
        EXPECT_TRUE(waitFor([&] { return windowShows(snapshot, first); }, 45s))
            << "the agent's screen never showed in the controller's window (" << lastSeen << "); controller:\n"
            << readFile(controllerHome.file("controller.out")) << "\nagent:\n"
            << agentLog();
        // The code paired this controller: the agent keeps its key.
        EXPECT_EQ(std::filesystem::file_size(agentHome.path() / ".dovrel/paired") % 32, 0u);
        EXPECT_GE(std::filesystem::file_size(agentHome.path() / ".dovrel/paired"), 32u);
        controller.stop();
    }

    std::filesystem::remove(snapshot);
    screen.fill(0, 0, screen.width(), screen.height(), second);
    ChildProcess again;
    ASSERT_NO_FATAL_FAILURE(launchController(again, snapshot, false));
    EXPECT_TRUE(waitFor([&] { return windowShows(snapshot, second); }, 45s))
        << "a second launch without a code did not show the agent's screen (" << lastSeen << "); controller:\n"
        << readFile(controllerHome.file("controller.out"));
}
