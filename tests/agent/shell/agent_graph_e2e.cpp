// The program's own object graph, as main builds it, on a private X server with a private home and
// free ports: every port of the agent is filled and each reaches what the program needs.
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "../desktop/DesktopTestSupport.h"
#include "agent/desktop/ClipFileSender.h"
#include "agent/shell/AgentGraph.h"
#include "tests/support/ScopedEnv.h"

using namespace dovrel;
using namespace dovrel::agent;
using namespace std::chrono_literals;

namespace {

// A controller's connection that reads only when told to, with a small receive buffer so that the
// agent's writes back up quickly.
class SlowPeer {
public:
    explicit SlowPeer(uint16_t port) : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        const int small = 4096;
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0;
    }
    ~SlowPeer() { ::close(fd_); }
    bool connected() const { return connected_; }
    // One byte: a connection that has said nothing is no device connecting.
    bool speak() { return ::send(fd_, "", 1, MSG_NOSIGNAL) == 1; }
    // Reads what is there without waiting; false once the agent has closed the connection.
    bool readSome() {
        char buffer[65536];
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0) received_ += static_cast<std::size_t>(n);
        return !(n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR));
    }
    std::size_t received() const { return received_; }

private:
    int fd_;
    bool connected_ = false;
    std::size_t received_ = 0;
};

} // namespace

TEST(AgentGraph, TheProgramsGraphIsWiredFromTheWindowToTheLink) {
    DOVREL_REQUIRE_GUI();
    test::TempDir home;
    std::filesystem::create_directories(home.file(".config/Dovrel"));
    std::ofstream(home.file(".config/Dovrel/relay.json")) << R"({"lan": true, "host": "127.0.0.1", "port": 9})";
    test::ScopedEnv env;
    env.set("HOME", home.str());
    env.set("XDG_CONFIG_HOME", home.file(".config"));
    env.set("XDG_CACHE_HOME", home.file(".cache"));

    AgentGraphOptions options;
    options.settings.stateDirectory = home.file(".dovrel");
    options.settings.configDirectory = home.file(".config/Dovrel");
    options.ports = {0, 0, 9};
    options.listenAddress = QHostAddress::LocalHost;
    options.settings.deviceName = "Graph Box";
    options.haveDisplay = true;
    options.backend.kind = DesktopKind::x11;
    AgentGraph graph(std::move(options));
    graph.run();
    Agent& agent = graph.agent();
    AppModel& model = graph.model();

    // The agent reports through the presenter into the window's model.
    ASSERT_TRUE(test::pumpUntil(
        [&] {
            return model.deviceId() == QString::fromStdString(agent.deviceId()) &&
                   model.statusText() == "Waiting for your device to pair…";
        },
        10000ms));
    EXPECT_EQ(model.pairingCode(), QString::fromStdString(agent.pairingCode()));
    EXPECT_EQ(model.deviceName(), "Graph Box");
    EXPECT_FALSE(model.pairingURL().isEmpty());

    // The clipboard files were made over the agent's own link to the controller.
    const std::shared_ptr<ControllerLink> link = graph.clipFilesLink();
    ASSERT_TRUE(link);
    EXPECT_EQ(link->backlog(), 0u);

    SlowPeer peer(agent.transport().controlPort());
    ASSERT_TRUE(peer.connected() && peer.speak());
    ASSERT_TRUE(test::pumpUntil([&] { return model.statusText() == "Device connecting…"; }, 10000ms));

    // A controller that does not read: what goes out piles up in the backlog the clipboard files read
    // ahead of, well past the sender's window, so a pulled file would wait for the link.
    const wex::Bytes piece(60000, 0x5A);
    for (int i = 0; i < 200; ++i)
        link->send(wex::ControlType::clipFileData, piece);
    ASSERT_TRUE(test::pumpUntil([&] { return link->backlog() > ClipFileSender::backlogWindow; }, 10000ms));
    // Once it reads, the backlog falls to nothing.
    ASSERT_TRUE(test::pumpUntil(
        [&] {
            peer.readSome();
            return link->backlog() == 0;
        },
        30000ms));
    EXPECT_GT(peer.received(), 0u);

    // The window's command reaches the agent: disconnecting closes the controller's connection.
    model.disconnectSession();
    ASSERT_TRUE(test::pumpUntil([&] { return !peer.readSome(); }, 10000ms));
    ASSERT_TRUE(test::pumpUntil([&] { return model.statusText() == "Waiting for your device to pair…"; }, 10000ms));
}
