// Two computers on one home network and no relay service, as two network namespaces the test makes:
// the real DovrelAgent in one (10.77.0.1, with no relay.json, on an X server of its own), the
// controller's real graph in this process, moved into the other (10.77.0.2). The agent's own pairing
// link, pasted into the pairing screen, pairs on the local network; the machine is saved with its host
// and the link's hardware address; a restarted agent is reached by key from the card; a stopped one is
// said at once not to be running; and an asleep card wakes it with the link's hardware address, which
// the agent's side of the network receives.
#include <chrono>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "../../support/ChildProcess.h"
#include "../../support/FileText.h"
#include "../../support/NetNamespace.h"
#include "../../support/TempHome.h"
#include "../../support/XvfbServer.h"
#include "../views/PairingTestSupport.h"
#include "../views/ViewTestSupport.h"
#include "controller/client/ClientTexts.h"
#include "controller/client/RemoteInput.h"
#include "controller/platform/NetworkInterfaces.h"
#include "controller/platform/WakeSender.h"
#include "controller/ui/PairingViewModel.h"
#include "controller/ui/RootViewModel.h"
#include "protocol/MagicPacket.h"
#include "protocol/NetAddress.h"
#include "runtime/Scheduler.h"

using namespace std::chrono_literals;
using namespace dovrel::controller;
using namespace dovrel::controller::test;
using dovrel::test::ChildProcess;
using dovrel::test::NetNamespace;
using dovrel::test::readFile;
using dovrel::test::TempDir;

namespace {

// The agent's side ("a", 10.77.0.1) and the controller's ("b", 10.77.0.2), one veth cable between them
// and each one's default route through the other.
class TwoComputers {
public:
    TwoComputers()
        : a_("dovrel-home-" + std::to_string(::getpid()) + "-a"),
          b_("dovrel-home-" + std::to_string(::getpid()) + "-b") {
        for (const NetNamespace* ns : {&a_, &b_})
            if (!ns->available()) {
                reason_ = ns->reason();
                return;
            }
        const std::pair<const NetNamespace*, std::string> steps[] = {
            {&a_, "link add eth0 type veth peer name eth0 netns " + b_.name()},
            {&a_, "addr add 10.77.0.1/24 brd + dev eth0"},
            {&b_, "addr add 10.77.0.2/24 brd + dev eth0"},
            {&a_, "link set lo up"},
            {&a_, "link set eth0 up"},
            {&b_, "link set lo up"},
            {&b_, "link set eth0 up"},
            {&a_, "route add default via 10.77.0.2 dev eth0"},
            {&b_, "route add default via 10.77.0.1 dev eth0"},
        };
        for (const auto& [ns, args] : steps)
            if (!ns->ip(args, reason_)) return;
        ready_ = true;
    }
    bool ready() const { return ready_; }
    const std::string& reason() const { return reason_; }
    const NetNamespace& agentSide() const { return a_; }
    const NetNamespace& controllerSide() const { return b_; }

private:
    NetNamespace a_, b_;
    bool ready_ = false;
    std::string reason_;
};

// UDP ports 9 and 7 of the agent's side, opened there: what a wake packet puts on its network.
class WakeWatch {
public:
    explicit WakeWatch(const NetNamespace& ns) {
        dovrel::test::onFreshThread([&] {
            ns.enter();
            for (std::size_t i = 0; i < 2; ++i) {
                fds_[i] = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
                sockaddr_in sa{};
                sa.sin_family = AF_INET;
                sa.sin_port = htons(wex::MagicPacket::ports[i]);
                if (::bind(fds_[i], reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) fds_[i] = -1;
            }
            return 0;
        });
    }
    ~WakeWatch() {
        for (int fd : fds_)
            if (fd >= 0) ::close(fd);
    }
    bool ok() const { return fds_[0] >= 0 && fds_[1] >= 0; }
    // The payloads that arrived within `limit`, once one has come on each port.
    std::vector<wex::Bytes> packets(std::chrono::milliseconds limit = 5000ms) {
        std::vector<wex::Bytes> got;
        bool seen[2] = {false, false};
        const auto until = std::chrono::steady_clock::now() + limit;
        while (!(seen[0] && seen[1]) && std::chrono::steady_clock::now() < until) {
            pollfd p[2] = {{fds_[0], POLLIN, 0}, {fds_[1], POLLIN, 0}};
            if (::poll(p, 2, 20) <= 0) continue;
            for (std::size_t i = 0; i < 2; ++i) {
                if (!(p[i].revents & POLLIN)) continue;
                uint8_t buf[256];
                const ssize_t n = ::recv(fds_[i], buf, sizeof buf, 0);
                if (n > 0) got.emplace_back(buf, buf + n), seen[i] = true;
            }
        }
        return got;
    }

private:
    int fds_[2] = {-1, -1};
};

// The calling thread (and the threads it starts from now on) in `ns`; back where it was when it goes.
class InNamespace {
public:
    explicit InNamespace(const NetNamespace& ns) : home_(::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC)) {
        ns.enter();
    }
    ~InNamespace() {
        if (home_ >= 0) {
            ::setns(home_, CLONE_NEWNET);
            ::close(home_);
        }
    }
    InNamespace(const InNamespace&) = delete;
    InNamespace& operator=(const InNamespace&) = delete;

private:
    int home_;
};

// The real agent on the agent's side, on a terminal of its own (where it shows its code), with no
// relay.json: what a fresh install does.
struct AgentOnTheNetwork {
    const TwoComputers& net;
    std::string display;
    TempDir home;
    ChildProcess process;
    std::string log() const { return readFile(home.file("agent.out")); }

    bool start() {
        std::filesystem::remove(home.file("agent.out"));
        ChildProcess::Options o;
        o.env = {{"HOME", home.str()},
                 {"XDG_CONFIG_HOME", home.file(".config")},
                 {"DISPLAY", display},
                 {"DBUS_SESSION_BUS_ADDRESS", "disabled:"},
                 {"DBUS_SYSTEM_BUS_ADDRESS", "disabled:"}};
        o.logFile = home.file("agent.out");
        return process.start({dovrel::test::findProgram("ip"), "netns", "exec", net.agentSide().name(),
                              dovrel::test::findProgram("script"), "-qfec",
                              std::string("'") + DOVREL_AGENT_BINARY + "'", "/dev/null"},
                             o);
    }
};

} // namespace

TEST(HomeNetworkE2E, AFreshAgentsOwnLinkPairsOnTheLocalNetworkAndItsCardReconnectsWakesAndSaysWhenItIsNotRunning) {
    viewApp();
    if (dovrel::test::findProgram("script").empty()) GTEST_SKIP() << "no script(1) to give the agent a terminal";
    TwoComputers net;
    if (!net.ready()) GTEST_SKIP() << "no network namespaces on this machine: " << net.reason();
    dovrel::test::XvfbServer xvfb{1280, 720};
    if (!xvfb.running()) GTEST_SKIP() << "no X server for the agent: " << xvfb.failure();

    AgentOnTheNetwork agent{net, xvfb.display(), {}, {}};
    ASSERT_FALSE(std::filesystem::exists(agent.home.file(".config/Dovrel/relay.json")));
    ASSERT_TRUE(agent.start());
    static const std::regex linkLine(R"(QR/pair URL: (dovrel://pair\?\S+))");
    static const std::regex codeLine(R"(PAIRING CODE: (\d+))");
    std::smatch l, c;
    std::string log;
    ASSERT_TRUE(waitUntil(
        [&] {
            log = agent.log();
            return std::regex_search(log, l, linkLine) && std::regex_search(log, c, codeLine);
        },
        30s))
        << log;
    EXPECT_NE(log.find("Dovrel agent up: relay + LAN (CONTROL tcp/47810, INPUT udp/47812)."), std::string::npos)
        << "with no relay.json the local network is on";
    std::string link = l[1];
    ASSERT_EQ(link.rfind("dovrel://pair?host=10.77.0.1&", 0), 0u) << link;
    link.replace(link.find("…redacted…"), std::string("…redacted…").size(), c[1].str());
    const auto parsed = PairLink::parse(QString::fromStdString(link));
    ASSERT_TRUE(parsed && parsed->mac && parsed->deviceId) << link;

    // The controller, from here on on the other computer. No relay answers there: no name resolves.
    InNamespace onTheController(net.controllerSide());
    RootServices services;
    TempDir controllerHome;
    ClientConfig config;
    config.settingsPath = controllerHome.file("controller.ini");
    config.secrets = std::make_shared<FileSecretStore>(controllerHome.file("secrets"));
    WEXClient client(std::move(config), services.account);
    auto surface = std::make_shared<VideoSurface>();
    client.attachVideoSurface(surface);
    auto input = makeRemoteInput(client, dovrel::realScheduler());
    ClientSessionPort port(client, *input, services.store);
    RootViewModel root(port, services.store, *services.account, LaunchArguments::parse({"p"}), services.startPolling);
    PairingViewModel pairing(services.api, *services.account, root);
    SystemNetworkInterfaces interfaces;
    auto wakeSender = makeUdpWakeSender({wex::MagicPacket::ports[0], wex::MagicPacket::ports[1]});
    MachineWaker waker(*wakeSender, interfaces);
    UsageMeter usage(services.defaults);
    DeckViewModel deck(services.store, usage, waker, false, QLocale(QLocale::English, QLocale::UnitedStates));
    QObject::connect(&deck, &DeckViewModel::openRequested, &root, &RootViewModel::open);

    // Pasted into the pairing screen: paired on the local network, the picture across it.
    root.showPairing();
    pairing.begin();
    pairing.setLink(QString::fromStdString(link));
    pairing.connectFromLink();
    ASSERT_TRUE(waitUntil([&] { return client.hasFirstFrame(); }, 45s))
        << "phase " << client.phaseMessage().toStdString() << "; agent:\n"
        << agent.log();
    EXPECT_FALSE(client.sessionViaRelay());
    EXPECT_NE(agent.log().find("• AUTH OK (paired via code)"), std::string::npos);
    ASSERT_TRUE(waitUntil([&] { return services.store.count() == 1; }));
    const Device saved = DeviceStore(services.defaults, false).devices().at(0);
    EXPECT_EQ(saved.host, "10.77.0.1");
    EXPECT_EQ(saved.mac, parsed->mac);
    EXPECT_EQ(saved.deviceId, parsed->deviceId);
    EXPECT_FALSE(saved.relayHost || saved.relayAccount) << "the relay never carried it";
    EXPECT_EQ(saved.kind, Device::Kind::linux);

    // The agent restarts (a new code that nobody typed): the card reaches it by key.
    root.endSession();
    ASSERT_TRUE(waitUntil([&] { return client.phaseKind() == PhaseKind::disconnected; }));
    agent.process.stop();
    ASSERT_TRUE(agent.start());
    ASSERT_TRUE(waitUntil([&] { return agent.log().find("QR/pair URL") != std::string::npos; }, 30s)) << agent.log();
    deck.open(0);
    ASSERT_TRUE(waitUntil([&] { return client.phaseKind() == PhaseKind::connected; }, 30s))
        << client.phaseMessage().toStdString() << "; agent:\n"
        << agent.log();
    EXPECT_TRUE(waitUntil([&] { return agent.log().find("• AUTH OK (keypair)") != std::string::npos; }));
    EXPECT_EQ(root.activeName(), saved.name);

    // The agent stops; its computer stays on the network: the card says at once why nothing comes.
    root.endSession();
    ASSERT_TRUE(waitUntil([&] { return client.phaseKind() == PhaseKind::disconnected; }));
    agent.process.stop();
    deck.open(0);
    ASSERT_TRUE(waitUntil([&] { return client.phaseKind() == PhaseKind::rejected; }, 5s));
    EXPECT_EQ(client.phaseMessage().toStdString(), texts::notRunning(saved.name.toStdString(), "10.77.0.1"));

    // Asleep, as the poll finds it: the click wakes it with the link's hardware address first.
    root.endSession();
    services.store.setLiveness(saved.id, false);
    WakeWatch watch(net.agentSide());
    ASSERT_TRUE(watch.ok());
    deck.open(0);
    const std::vector<wex::Bytes> packets = watch.packets();
    ASSERT_FALSE(packets.empty()) << "no wake packet reached the agent's network";
    const auto mac = wex::parseMAC(parsed->mac->toStdString());
    ASSERT_TRUE(mac);
    for (const wex::Bytes& p : packets)
        EXPECT_EQ(p, wex::MagicPacket::bytes(*mac));
}
