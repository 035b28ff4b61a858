// Two computers on one home network and no relay service, as two network namespaces with no default
// route: the real DovrelAgent in "a" (10.77.0.1, no relay.json, its own X server), the controller's
// real graph in this process, moved into "b" (10.77.0.2). The agent's own link pairs on the local
// network; the saved card reaches a restarted agent by key, says at once that a stopped one is not
// running (as the poll finds too), and wakes an asleep one with the link's hardware address, which the
// agent's side receives. Unpairing a stopped agent says it could not be told; its address typed by hand
// without the code is asked for the code, and with the code its window shows pairs again; unpairing the
// running agent takes this computer out of its paired keys.
#include <filesystem>
#include <regex>

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
#include "../../support/ProcessUtil.h"
#include "../../support/XvfbServer.h"
#include "../views/ViewTestSupport.h"
#include "controller/client/input/RemoteInput.h"
#include "controller/client/session/ClientTexts.h"
#include "controller/client/session/InputBinding.h"
#include "controller/platform/TcpReachabilityProbe.h"
#include "controller/services/ReachabilityPoller.h"
#include "controller/ui/pairing/PairingViewModel.h"
#include "controller/ui/root/RootViewModel.h"
#include "protocol/MagicPacket.h"
#include "protocol/NetAddress.h"
#include "runtime/Scheduler.h"

using namespace std::chrono_literals;
using namespace dovrel::controller;
using namespace dovrel::controller::test;
using dovrel::test::NetNamespace;

TEST(HomeNetworkE2E, AFreshAgentsOwnLinkPairsItsCardReconnectsWakesSaysWhenItIsNotRunningAndUnpairsByHandPairing) {
    viewApp();
    if (dovrel::test::findProgram("script").empty()) GTEST_SKIP() << "no script(1) to give the agent a terminal";
    const std::string tag = "dovrel-home-" + std::to_string(::getpid());
    NetNamespace a(tag + "-a"), b(tag + "-b");
    std::string why = a.available() ? b.reason() : a.reason();
    bool wired = a.available() && b.available();
    for (const auto& [ns, args] : std::vector<std::pair<const NetNamespace*, std::string>>{
             {&a, "link add eth0 type veth peer name eth0 netns " + b.name()},
             {&a, "addr add 10.77.0.1/24 brd + dev eth0"},
             {&b, "addr add 10.77.0.2/24 brd + dev eth0"},
             {&a, "link set eth0 up"},
             {&b, "link set eth0 up"}})
        wired = wired && ns->ip(args, why);
    if (!wired) GTEST_SKIP() << "no network namespaces on this machine: " << why;
    dovrel::test::XvfbServer xvfb{1280, 720};
    if (!xvfb.running()) GTEST_SKIP() << "no X server for the agent: " << xvfb.failure();

    // The agent on its own terminal (where it shows its code), started as a fresh install would be.
    dovrel::test::TempDir home;
    dovrel::test::ChildProcess agent;
    const auto agentLog = [&] { return dovrel::test::readFile(home.file("agent.out")); };
    const auto startAgent = [&] {
        std::filesystem::remove(home.file("agent.out"));
        dovrel::test::ChildProcess::Options o;
        o.env = {{"HOME", home.str()},
                 {"XDG_CONFIG_HOME", home.file(".config")},
                 {"DISPLAY", xvfb.display()},
                 {"DBUS_SESSION_BUS_ADDRESS", "disabled:"},
                 {"DBUS_SYSTEM_BUS_ADDRESS", "disabled:"}};
        o.logFile = home.file("agent.out");
        ASSERT_TRUE(agent.start({dovrel::test::findProgram("ip"), "netns", "exec", a.name(),
                                 dovrel::test::findProgram("script"), "-qfec",
                                 std::string("'") + DOVREL_AGENT_BINARY + "'", "/dev/null"},
                                o));
        ASSERT_TRUE(waitUntil([&] { return agentLog().find("QR/pair URL") != std::string::npos; }, 30s)) << agentLog();
    };
    // The agent runs in script(1)'s own session, out of the child's process group: it ends after script,
    // on its terminal's hang-up, and is gone only when its single-instance lock is free.
    const auto stopAgent = [&] {
        agent.stop();
        ASSERT_TRUE(waitUntil([&] { return dovrel::test::lockFree(home.file(".dovrel/agent.lock")); }, 30s))
            << "the stopped agent still holds its lock";
    };
    ASSERT_NO_FATAL_FAILURE(startAgent());
    const std::string log = agentLog();
    std::smatch l, c;
    ASSERT_TRUE(std::regex_search(log, l, std::regex(R"(QR/pair URL: (dovrel://pair\?host=10\.77\.0\.1&\S+))")) &&
                std::regex_search(log, c, std::regex(R"(PAIRING CODE: (\d+))")))
        << log;
    std::string link = l[1];
    link.replace(link.find("…redacted…"), std::string("…redacted…").size(), c[1].str());
    const auto parsed = PairLink::parse(QString::fromStdString(link));
    // No default route: the hardware address is that of the interface holding the link's address.
    ASSERT_TRUE(parsed && parsed->mac && parsed->deviceId) << link;
    EXPECT_NE(
        dovrel::test::runCommand("ip -n " + a.name() + " -o link show eth0").output.find(parsed->mac->toStdString()),
        std::string::npos);

    // The controller, from here on on the other computer, where no relay can be reached.
    const int rootNamespace = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    b.enter();
    RootServices services;
    ClientConfig config;
    config.settingsPath = services.dir.file("client.ini");
    config.secrets = std::make_shared<FileSecretStore>(services.dir.file("client-secrets"));
    WEXClient client(std::move(config), services.account);
    const auto surface = std::make_shared<VideoSurface>(); // held weakly by the client
    client.attachVideoSurface(surface);
    auto input = makeRemoteInput(client, dovrel::realScheduler());
    ClientSessionPort port(client, *input, services.store);
    RootViewModel root(port, services.store, *services.account, LaunchArguments::parse({"p"}), services.startPolling);
    PairingViewModel pairing(services.api, *services.account, root);
    SystemNetworkInterfaces interfaces;
    auto wakes = makeUdpWakeSender({9, 7});
    MachineWaker waker(*wakes, interfaces);
    UsageMeter usage(services.defaults);
    DeckViewModel deck(root, services.store, usage, waker, false, QLocale(QLocale::English));

    // Pasted into the pairing screen: paired on the local network, the picture across it.
    root.showPairing();
    pairing.setLink(QString::fromStdString(link));
    pairing.connectFromLink();
    ASSERT_TRUE(waitUntil([&] { return client.hasFirstFrame(); }, 45s)) << agentLog();
    EXPECT_FALSE(client.sessionViaRelay());
    ASSERT_TRUE(waitUntil([&] { return services.store.count() == 1; }));
    const Device saved = DeviceStore(services.defaults, false).devices().at(0);
    EXPECT_EQ(saved.host, "10.77.0.1");
    EXPECT_EQ(saved.mac, parsed->mac);
    EXPECT_EQ(saved.deviceId, parsed->deviceId);
    EXPECT_FALSE(saved.relayHost || saved.relayAccount) << "the relay never carried it";

    // Restarted (with a code nobody typed), the agent is reached from the card by key.
    root.endSession();
    ASSERT_NO_FATAL_FAILURE(stopAgent());
    ASSERT_NO_FATAL_FAILURE(startAgent());
    deck.open(0);
    ASSERT_TRUE(waitUntil([&] { return agentLog().find("• AUTH OK (keypair)") != std::string::npos; }, 30s))
        << client.phaseMessage().toStdString() << "\n"
        << agentLog();

    // Stopped on a computer that stays on the network: the card says at once why nothing comes.
    root.endSession();
    ASSERT_NO_FATAL_FAILURE(stopAgent());
    deck.open(0);
    ASSERT_TRUE(waitUntil([&] { return client.phaseKind() == PhaseKind::rejected; }, 5s));
    EXPECT_EQ(client.phaseMessage().toStdString(), texts::notRunning(saved.name.toStdString(), "10.77.0.1"));
    // The poll finds it so too: its card no longer calls it awake.
    root.endSession();
    {
        ReachabilityPoller poller(
            services.store, dovrel::realScheduler(),
            std::make_shared<TcpReachabilityProbe>(dovrel::realScheduler(), dovrel::makeSystemResolver()),
            std::shared_ptr<AccountApi>(std::shared_ptr<void>(), &services.api), services.account, false);
        poller.start();
        EXPECT_TRUE(waitUntil([&] { return deck.machines()->index(0, 0).data(DeckMachines::ToneRole) == "stopped"; }));
    }

    // Asleep, as the poll finds it: the click first wakes it with the link's hardware address.
    services.store.setLiveness(saved.id, DeviceStore::Liveness::asleep);
    const int watch = dovrel::test::onFreshThread([&] {
        a.enter();
        const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_port = htons(9);
        return ::bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0 ? fd : -1;
    });
    ASSERT_GE(watch, 0);
    deck.open(0);
    pollfd p{watch, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 5000), 1) << "no wake packet reached the agent's network";
    uint8_t packet[256];
    const ssize_t n = ::recv(watch, packet, sizeof packet, 0);
    EXPECT_EQ(wex::Bytes(packet, packet + std::max<ssize_t>(n, 0)),
              wex::MagicPacket::bytes(*wex::parseMAC(parsed->mac->toStdString())));
    ::close(watch);

    // Unpaired while stopped: forgotten here, and the window says that computer could not be told.
    root.endSession();
    const auto& ours = client.security().identity().publicKey();
    const auto agentKnowsUs = [&] {
        return dovrel::test::readFile(home.file(".dovrel/paired")).find(std::string(ours.begin(), ours.end())) !=
               std::string::npos;
    };
    root.unpairRequested(0);
    root.answerAlert(true);
    ASSERT_TRUE(waitUntil([&] { return root.alert() == RootViewModel::Alert::UnpairNotTold; }, 30s));
    // Its address refused the connection: that is said, not that it did not answer.
    EXPECT_TRUE(root.alertText().contains("10.77.0.1 refused the connection")) << root.alertText().toStdString();
    EXPECT_FALSE(client.security().trustedAgent(parsed->deviceId->toStdString()));
    EXPECT_TRUE(agentKnowsUs());
    root.answerAlert(true);

    // Started again: its address typed without the code reaches a computer that wants one. The pairing
    // screen says so on the code field, and the controller lets the connection go rather than dial it
    // again; the code its terminal (and window) shows, typed there, pairs.
    ASSERT_NO_FATAL_FAILURE(startAgent());
    const std::string restarted = agentLog();
    ASSERT_TRUE(std::regex_search(restarted, c, std::regex(R"(PAIRING CODE: (\d+))")));
    root.showPairing();
    pairing.setManualAddress("10.77.0.1");
    pairing.connectManual();
    ASSERT_TRUE(waitUntil([&] { return !pairing.manualCodeError().isEmpty(); }, 30s)) << agentLog();
    EXPECT_TRUE(waitUntil([&] { return agentLog().find("control connection closed") != std::string::npos; }))
        << agentLog();
    pairing.editManualCode(QString::fromStdString(c[1].str()));
    pairing.connectManual();
    ASSERT_TRUE(waitUntil([&] { return client.hasFirstFrame(); }, 45s)) << agentLog();
    ASSERT_TRUE(waitUntil([&] { return services.store.count() == 1; }));
    EXPECT_EQ(services.store.devices().at(0).kind, Device::Kind::linux);

    // Unpaired while it runs: the agent there is told, and its paired keys lose this computer.
    root.endSession();
    int ended = 0;
    QObject::connect(&client, &WEXClient::sessionEnded, &client, [&] { ++ended; });
    root.unpairRequested(0);
    root.answerAlert(true);
    ASSERT_TRUE(waitUntil([&] { return !agentKnowsUs(); }, 30s)) << agentLog();
    // The unpair's own session ends after its outcome is known here.
    ASSERT_TRUE(waitUntil([&] { return ended >= 2; }));
    EXPECT_FALSE(client.security().trustedAgent(parsed->deviceId->toStdString()));
    EXPECT_EQ(root.alert(), RootViewModel::Alert::None) << "told: nothing more to say";
    ::setns(rootNamespace, CLONE_NEWNET);
    ::close(rootNamespace);
}
