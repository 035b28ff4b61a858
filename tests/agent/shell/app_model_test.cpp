// The application model's state and refreshes, with a stand-in sampler, and the Linux sampler itself.

#include <atomic>
#include <linux/ethtool.h>
#include <linux/ethtool_netlink.h>
#include <linux/netlink.h>
#include <random>

#include <gtest/gtest.h>

#include "../../support/FakeScheduler.h"
#include "../../support/XvfbServer.h"
#include "FakeAgentCommands.h"
#include "ShellTestSupport.h"
#include "agent/shell/AgentPresenter.h"
#include "agent/shell/AppModel.h"
#include "agent/shell/EthtoolNetlink.h"
#include "agent/shell/LinuxSampler.h"

using namespace dovrel::agent;
using namespace dovrel::test;

namespace {

// Counts the emissions of one signal.
template <typename Signal> std::shared_ptr<int> spy(AppModel& m, Signal signal) {
    auto n = std::make_shared<int>(0);
    QObject::connect(&m, signal, [n] { ++*n; });
    return n;
}

class FakeSampler : public AppModelSampler {
public:
    DesktopAccess desktopAccess() override { return access; }
    std::optional<bool> wakeOnMagicPacket() override { return wake; }
    std::optional<bool> onBattery() override { return battery; }
    std::vector<std::string> ipv4Addresses() override {
        ++addressQueries;
        return addresses;
    }
    DesktopAccess access;
    std::optional<bool> wake;
    std::optional<bool> battery;
    std::vector<std::string> addresses;
    std::atomic<int> addressQueries{0};
};

} // namespace

TEST(AppModel, AFreshModelShowsItsPlaceholders) {
    qtApp();
    FakeAgentCommands commands;
    AppModel m(commands, nullptr);
    EXPECT_EQ(m.pairingCode(), "------");
    EXPECT_EQ(m.statusText(), "Starting…");
    EXPECT_EQ(m.videoPath(), "idle");
    EXPECT_EQ(m.deviceName(), "Computer");
    EXPECT_TRUE(m.connectedClient().isEmpty());
    EXPECT_EQ(m.grantTTLHours(), 0.0);
    EXPECT_FALSE(m.shareCodeExpiresAt().isValid());
    EXPECT_FALSE(m.resting() || m.screenRecording() || m.accessibility() || m.wakeReady() || m.grantBusy() ||
                 m.accountBusy() || m.shareInFlight);
    EXPECT_EQ(m.videoFps(), 0);
    // Without a sampler the refreshes change nothing.
    m.refreshPermissions();
    m.refreshWakeStatus();
    m.refreshWGIP();
    waitUntil([] { return false; }, 50ms);
    EXPECT_FALSE(m.screenRecording());
}

TEST(AppModel, AFilesNoteStandsForAWhileAndTheSessionsStatusComesBack) {
    qtApp();
    FakeAgentCommands commands;
    AppModel m(commands, nullptr);
    FakeScheduler clock;
    AgentPresenter presenter(m, clock);
    presenter.sessionChanged(SessionPhase::connected, "Ana's laptop");
    presenter.fileProgress("test3mb.bin", 0.5);
    clock.advance(AgentPresenter::fileNoteFor * 2); // a slow file: its progress stays
    EXPECT_EQ(m.statusText(), "Receiving test3mb.bin… 50%");
    presenter.fileProgress("Received test3mb.bin", 1.0);
    EXPECT_EQ(m.statusText(), "Received test3mb.bin");
    clock.advance(AgentPresenter::fileNoteFor);
    EXPECT_EQ(m.statusText(), "Connected - your device is controlling this computer");
}

TEST(AppModel, TheWindowWritesTheGrantLifetimeAndCallsTheAgentThroughItsCallbacks) {
    qtApp();
    FakeAgentCommands commands;
    AppModel m(commands, nullptr);
    const auto ttl = spy(m, &AppModel::grantTTLHoursChanged);
    EXPECT_TRUE(m.setProperty("grantTTLHours", 24.0));
    EXPECT_EQ(m.grantTTLHours(), 24.0);
    EXPECT_EQ(*ttl, 1);

    // Nothing set: nothing happens.
    m.newGrant(1);
    m.cancelAllAccess();
    m.createShareCode();
    m.signIn("a", "b", true, "c");
    m.signOut();
    m.disconnectSession();

    std::vector<std::string> calls;
    commands.onNewGrant = [&](double h) { calls.push_back("grant " + std::to_string(static_cast<int>(h))); };
    commands.onCancelAllAccess = [&] { calls.push_back("cancel"); };
    commands.onCreateShareCode = [&] { calls.push_back("share"); };
    commands.onSignIn = [&](const std::string& a, const std::string& p, bool create, const std::string& invite) {
        calls.push_back("signin " + a + " " + p + " " + (create ? "create" : "login") + " " + invite);
    };
    commands.onSignOut = [&] { calls.push_back("signout"); };
    commands.onDisconnectSession = [&] { calls.push_back("disconnect"); };
    QMetaObject::invokeMethod(&m, "newGrant", Q_ARG(double, 72.0));
    QMetaObject::invokeMethod(&m, "cancelAllAccess");
    QMetaObject::invokeMethod(&m, "createShareCode");
    QMetaObject::invokeMethod(&m, "signIn", Q_ARG(QString, "ana"), Q_ARG(QString, "pässword"), Q_ARG(bool, true),
                              Q_ARG(QString, "INV"));
    QMetaObject::invokeMethod(&m, "signOut");
    QMetaObject::invokeMethod(&m, "disconnectSession");
    EXPECT_EQ(calls, (std::vector<std::string>{"grant 72", "cancel", "share", "signin ana pässword create INV",
                                               "signout", "disconnect"}));
}

TEST(AppModel, PermissionsAreSampledAtOnceAndPublishedOnTheNextTurnOfTheLoop) {
    qtApp();
    auto sampler = std::make_shared<FakeSampler>();
    sampler->access = {true, false};
    FakeAgentCommands commands;
    AppModel m(commands, sampler);
    m.refreshPermissions();
    EXPECT_FALSE(m.screenRecording()) << "posted, even on the main thread";
    EXPECT_TRUE(waitUntil([&] { return m.screenRecording(); }));
    EXPECT_FALSE(m.accessibility());
    // Taken away while running: the next refresh turns it off.
    sampler->access = {false, false};
    m.refreshPermissions();
    EXPECT_TRUE(waitUntil([&] { return !m.screenRecording(); }));
}

TEST(AppModel, WakeAndPowerKeepTheirValueWhenTheyCannotBeRead) {
    qtApp();
    auto sampler = std::make_shared<FakeSampler>();
    FakeAgentCommands commands;
    AppModel m(commands, sampler);
    sampler->wake = true;
    sampler->battery = true;
    m.refreshWakeStatus();
    EXPECT_TRUE(waitUntil([&] { return m.wakeReady() && m.onBattery(); }));
    sampler->wake = std::nullopt;
    sampler->battery = false;
    m.refreshWakeStatus();
    EXPECT_TRUE(waitUntil([&] { return !m.onBattery(); }));
    EXPECT_TRUE(m.wakeReady());
    sampler->wake = false;
    m.refreshWakeStatus();
    EXPECT_TRUE(waitUntil([&] { return !m.wakeReady(); }));
}

TEST(AppModel, TheLastOverlayAddressWinsAndAnUnchangedOneDoesNotNotify) {
    qtApp();
    auto sampler = std::make_shared<FakeSampler>();
    FakeAgentCommands commands;
    AppModel m(commands, sampler);
    const auto changed = spy(m, &AppModel::wgIPChanged);
    sampler->addresses = {"127.0.0.1", "10.13.13.2", "192.168.1.5", "10.13.13.5", "10.13.131.9"};
    m.refreshWGIP();
    EXPECT_TRUE(waitUntil([&] { return m.wgIP() == "10.13.13.5"; }));
    m.refreshWGIP();
    EXPECT_TRUE(waitUntil([&] { return sampler->addressQueries == 2; }));
    waitUntil([] { return false; }, 50ms);
    EXPECT_EQ(*changed, 1);
    sampler->addresses = {"10.13.1.1"};
    m.refreshWGIP();
    EXPECT_TRUE(waitUntil([&] { return m.wgIP().isEmpty(); }));
    EXPECT_EQ(AppModel::overlayAddress({}), "");
}

TEST(AppModel, ARefreshThatLandsAfterTheModelIsGoneIsDropped) {
    qtApp();
    auto sampler = std::make_shared<FakeSampler>();
    sampler->addresses = {"10.13.13.7"};
    {
        FakeAgentCommands commands;
        AppModel m(commands, sampler);
        m.refreshWGIP();
        m.refreshWakeStatus();
        m.refreshPermissions();
    }
    EXPECT_TRUE(waitUntil([&] { return sampler->addressQueries == 1; }));
    waitUntil([] { return false; }, 50ms); // the posted results find no model and do nothing
}

TEST(LinuxSampler, PowerComesFromTheSystemBatteryAndTheMainsSupply) {
    TempDir sys;
    const auto supply = [&](const std::string& name, const std::string& type,
                            std::vector<std::pair<std::string, std::string>> files) {
        writeFile(sys.file(name + "/type"), type + "\n");
        for (const auto& [file, value] : files)
            writeFile(sys.file(name + "/" + file), value + "\n");
    };
    EXPECT_EQ(LinuxSampler::onBattery(sys.file("missing")), std::nullopt);
    EXPECT_EQ(LinuxSampler::onBattery(sys.str()), false) << "no battery: a desktop on mains";
    supply("hidpp_battery_0", "Battery", {{"scope", "Device"}, {"status", "Discharging"}});
    EXPECT_EQ(LinuxSampler::onBattery(sys.str()), false) << "a mouse's battery does not count";
    supply("BAT0", "Battery", {{"status", "Discharging"}});
    EXPECT_EQ(LinuxSampler::onBattery(sys.str()), true);
    supply("AC", "Mains", {{"online", "1"}});
    EXPECT_EQ(LinuxSampler::onBattery(sys.str()), false);
    supply("AC", "Mains", {{"online", "0"}});
    supply("BAT0", "Battery", {{"status", "Not charging"}});
    EXPECT_EQ(LinuxSampler::onBattery(sys.str()), true) << "mains is there but off";
    supply("ucsi-source-psy-USBC000:001", "USB", {{"online", "1"}});
    EXPECT_EQ(LinuxSampler::onBattery(sys.str()), false) << "charging over USB-C";
}

TEST(LinuxSampler, DesktopAccessNeedsAReachableXDisplayWithXTest) {
    EXPECT_FALSE(LinuxSampler::desktopAccess("", "x11").screenCapture);
    const auto unreachable = LinuxSampler::desktopAccess(":65000", "x11");
    EXPECT_FALSE(unreachable.screenCapture || unreachable.inputControl);
    XvfbServer x;
    if (!x.running()) GTEST_SKIP() << (x.available() ? x.failure() : "Xvfb is not installed");
    const auto access = LinuxSampler::desktopAccess(x.display(), "x11");
    EXPECT_TRUE(access.screenCapture);
    EXPECT_TRUE(access.inputControl);
    const auto wayland = LinuxSampler::desktopAccess(x.display(), "wayland");
    EXPECT_FALSE(wayland.screenCapture || wayland.inputControl) << "an X client under Wayland sees X clients only";
}

TEST(LinuxSampler, WakeOnLanOfAnInterfaceThatDoesNotExistIsUnknownOrOff) {
    EXPECT_EQ(LinuxSampler::wakeOnMagicPacket(""), std::nullopt);
    EXPECT_EQ(LinuxSampler::wakeOnMagicPacket(std::string(40, 'x')), std::nullopt);
    EXPECT_NE(LinuxSampler::wakeOnMagicPacket("dovrelnone0"), std::optional<bool>(true));
    // Loopback has no wake-on-LAN: it can never be ready.
    EXPECT_NE(LinuxSampler::wakeOnMagicPacket("lo"), std::optional<bool>(true));
}

TEST(LinuxSampler, TheNetlinkQueryAgreesWithTheIoctlOnThisMachinesInterfaces) {
    int compared = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/sys/class/net")) {
        const std::string name = entry.path().filename().string();
        const auto byIoctl = LinuxSampler::ioctlWakeOnMagicPacket(name);
        const auto byNetlink = ethtoolWakeOnMagicPacket(name);
        if (!byIoctl || !byNetlink) continue;
        EXPECT_EQ(*byIoctl, *byNetlink) << name;
        ++compared;
    }
    if (compared == 0) GTEST_SKIP() << "no interface here answers both queries (the ioctl wants root)";
    std::printf("compared wake-on-LAN of %d interface(s)\n", compared);
}

namespace {
std::vector<uint8_t> attribute(uint16_t type, const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> out(4);
    const auto len = static_cast<uint16_t>(4 + payload.size());
    std::memcpy(out.data(), &len, 2);
    std::memcpy(out.data() + 2, &type, 2);
    out.insert(out.end(), payload.begin(), payload.end());
    while (out.size() % 4)
        out.push_back(0);
    return out;
}
std::vector<uint8_t> u32(uint32_t v) {
    std::vector<uint8_t> out(4);
    std::memcpy(out.data(), &v, 4);
    return out;
}
} // namespace

TEST(EthtoolNetlink, ReadsTheWakeModesOfAReplyAndSurvivesGarbage) {
    std::vector<uint8_t> bitset = attribute(ETHTOOL_A_BITSET_NOMASK, {});
    const auto size = attribute(ETHTOOL_A_BITSET_SIZE, u32(8));
    const auto value = attribute(ETHTOOL_A_BITSET_VALUE, u32(WAKE_MAGIC | WAKE_PHY));
    bitset.insert(bitset.end(), size.begin(), size.end());
    bitset.insert(bitset.end(), value.begin(), value.end());
    std::vector<uint8_t> reply = attribute(ETHTOOL_A_WOL_HEADER | NLA_F_NESTED, attribute(1, {'e', 't', 'h', '0', 0}));
    const auto modes = attribute(ETHTOOL_A_WOL_MODES | NLA_F_NESTED, bitset);
    reply.insert(reply.end(), modes.begin(), modes.end());
    EXPECT_EQ(parseWakeModes(reply), WAKE_MAGIC | WAKE_PHY);

    // Every cut of it stops cleanly; none reads past its end.
    for (std::size_t n = 0; n < reply.size(); ++n)
        parseWakeModes(std::vector<uint8_t>(reply.begin(), reply.begin() + static_cast<long>(n)));
    EXPECT_EQ(parseWakeModes({}), std::nullopt);
    std::mt19937 random(7);
    for (int i = 0; i < 20000; ++i) {
        std::vector<uint8_t> junk(random() % 64);
        for (auto& b : junk)
            b = static_cast<uint8_t>(random());
        if (!junk.empty() && random() % 2) junk[0] = static_cast<uint8_t>(junk.size()); // plausible lengths
        parseWakeModes(junk);
    }
}
