#pragma once

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <thread>

#include <QCoreApplication>
#include <QGuiApplication>
#include <QQuickStyle>
#include <QRgb>

#include <gtest/gtest.h>

#include "../../support/ChildProcess.h"
#include "../../support/FreeUdpPort.h"
#include "../../support/TempHome.h"
#include "controller/app/CompositionRoot.h"
#include "controller/platform/FileSecretStore.h"

namespace dovrel::test {

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

template <typename F> bool waitFor(F&& done, std::chrono::seconds deadline) {
    const auto until = std::chrono::steady_clock::now() + deadline;
    while (std::chrono::steady_clock::now() < until) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return done();
}

// Waits for `done` while the application runs.
template <typename F> bool runUntil(F&& done, std::chrono::seconds deadline) {
    const auto until = std::chrono::steady_clock::now() + deadline;
    while (std::chrono::steady_clock::now() < until) {
        if (done()) return true;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return done();
}

// Close to the colour the agent's screen was filled with, after the trip through the video codec and back.
inline bool near(QRgb pixel, uint32_t rgb) {
    const auto close = [](int a, int b) { return std::abs(a - b) <= 24; };
    return close(qRed(pixel), (rgb >> 16) & 0xff) && close(qGreen(pixel), (rgb >> 8) & 0xff) &&
           close(qBlue(pixel), rgb & 0xff);
}

// The real DovrelAgent on a terminal of its own (script), the only place it prints its pairing code, with
// HOME in a folder of its own and the local network on. Started again, it takes the ports it had:
// reserved for the test, so that no test beside it takes them while the agent is stopped and the
// controller dials on.
class AgentOnTerminal {
public:
    TempDir home;
    uint16_t videoPort = 0; // where the controller listens for video
    uint16_t controlPort = 0;
    uint16_t inputPort = 0;
    // Where the agent sends its video: videoPort, unless something (a shaper) stands between.
    uint16_t sendsVideoTo = 0;
    std::string code;

    std::string log() const { return readFile(home.file("agent.out")); }

    // `desktop`: the desktop's environment (DISPLAY and the like).
    void start(const std::map<std::string, std::string>& desktop) {
        std::filesystem::create_directories(home.path() / ".config/Dovrel");
        std::ofstream(home.file(".config/Dovrel/relay.json")) << "{\"lan\": true}";
        std::filesystem::remove(home.file("agent.out"));
        if (videoPort == 0) videoPort = freeUdpPort();
        if (controlPort == 0) controlPort = freeTcpPort();
        if (inputPort == 0) inputPort = freeUdpPort();
        ChildProcess::Options o;
        o.env = {{"HOME", home.str()},
                 {"XDG_CONFIG_HOME", home.file(".config")},
                 {"DOVREL_CONTROL_PORT", std::to_string(controlPort)},
                 {"DOVREL_INPUT_PORT", std::to_string(inputPort)},
                 {"DOVREL_VIDEO_PORT", std::to_string(sendsVideoTo ? sendsVideoTo : videoPort)},
                 {"DBUS_SESSION_BUS_ADDRESS", "disabled:"},
                 {"DBUS_SYSTEM_BUS_ADDRESS", "disabled:"}};
        for (const auto& [name, value] : desktop)
            o.env[name] = value;
        o.logFile = home.file("agent.out");
        ASSERT_TRUE(process_.start(
            {findProgram("script"), "-qfec", std::string("'") + DOVREL_AGENT_BINARY + "'", "/dev/null"}, o));
        static const std::regex ports(R"(CONTROL tcp/(\d+), INPUT udp/(\d+))");
        static const std::regex pairing(R"(PAIRING CODE: (\d+))");
        std::smatch m, c;
        std::string text;
        ASSERT_TRUE(waitFor(
            [&] {
                text = log();
                return std::regex_search(text, m, ports) && std::regex_search(text, c, pairing);
            },
            std::chrono::seconds(30)))
            << "the agent did not report its ports and code; its log:\n"
            << text;
        controlPort = static_cast<uint16_t>(std::stoi(m[1]));
        inputPort = static_cast<uint16_t>(std::stoi(m[2]));
        code = c[1];
    }

    // script(1) ends first; the agent, in a session of its own, goes on its terminal's hang-up.
    void stop() {
        process_.stop();
        ASSERT_TRUE(waitFor([&] { return lockFree(home.file(".dovrel/agent.lock")); }, std::chrono::seconds(30)));
    }

private:
    ChildProcess process_;
};

// The controller's program in this process, as its main() makes it: offscreen, drawn by Qt Quick's
// software renderer, its home in `home`, dialling `agent` by its address (with the agent's code when
// `withCode`) as soon as it starts. The first call makes the application.
inline std::unique_ptr<controller::CompositionRoot> launchController(const TempDir& home, const AgentOnTerminal& agent,
                                                                     bool withCode) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_QUICK_BACKEND", "software");
    qputenv("HOME", QByteArray::fromStdString(home.str()));
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(home.file(".config")));
    qputenv("XDG_DATA_HOME", QByteArray::fromStdString(home.file(".local/share")));
    qputenv("DBUS_SESSION_BUS_ADDRESS", "disabled:");
    qputenv("DOVREL_VIDEO_PORT", QByteArray::number(agent.videoPort));
    qputenv("DOVREL_INPUT_PORT", QByteArray::number(agent.inputPort));
    if (!QCoreApplication::instance()) {
        static int argc = 1;
        static char name[] = "DovrelController";
        static char* argv[] = {name, nullptr};
        new QGuiApplication(argc, argv); // for the whole test program
        QQuickStyle::setStyle(QStringLiteral("Basic"));
    }
    QStringList arguments{"DovrelController", "-autoHost", QString("127.0.0.1:%1").arg(agent.controlPort)};
    if (withCode) arguments << "-pairingCode" << QString::fromStdString(agent.code);
    auto root = std::make_unique<controller::CompositionRoot>(controller::CompositionRoot::Options{
        arguments, home.file("controller.ini"), std::make_shared<controller::FileSecretStore>(home.file("secrets"))});
    std::string error;
    EXPECT_TRUE(root->start(error)) << error;
    return root;
}

} // namespace dovrel::test
