#pragma once

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <sys/stat.h>

#include "../../support/ChildProcess.h"
#include "../../support/FileText.h"
#include "../../support/TempHome.h"
#include "protocol/Bytes.h"
#include "protocol/Crypto.h"
#include "protocol/DeviceIdentity.h"

namespace dovrel::controller::test {

// The real DovrelAgent as a process of its own, with HOME in a temporary folder: its identity made
// here (so the controller can trust it beforehand), one controller key paired, the local network on,
// and its video sent to the controller's port. Its log is its standard output, kept in HOME.
class AgentUnderTest {
public:
    AgentUnderTest() : seed_(wex::Crypto::randomBytes(32)), identity_(seed_) {}
    ~AgentUnderTest() { process_.stop(); }

    const wex::DeviceIdentity& identity() const { return identity_; }
    wex::Bytes publicKey() const { return wex::Bytes(identity_.publicKey().begin(), identity_.publicKey().end()); }
    // Its relay room: the first 16 bytes of its key in lower-case hex.
    std::string room() const {
        static constexpr char d[] = "0123456789abcdef";
        std::string out;
        for (std::size_t i = 0; i < 16; ++i) {
            out.push_back(d[identity_.publicKey()[i] >> 4]);
            out.push_back(d[identity_.publicKey()[i] & 15]);
        }
        return out;
    }

    // Starts it and waits for its banner (at most 15 s). `env` adds to the environment (DISPLAY is
    // removed unless given); `launcher` goes in front of it on the command line (say, "ip netns exec NS"
    // to start it inside a network namespace). False with the reason in `why`.
    bool start(const std::string& binary, wex::ByteView controllerKey, uint16_t videoPort,
               std::map<std::string, std::string> env, std::string& why, std::vector<std::string> launcher = {}) {
        const auto dir = home_.path() / ".dovrel";
        std::filesystem::create_directories(dir);
        ::chmod(dir.c_str(), 0700);
        write((dir / "agent.key").string(), seed_);
        write((dir / "paired").string(), wex::Bytes(controllerKey.begin(), controllerKey.end()));
        std::filesystem::create_directories(home_.path() / ".config/Dovrel");
        const std::string lan = "{\"lan\": true}";
        write((home_.path() / ".config/Dovrel/relay.json").string(), wex::Bytes(lan.begin(), lan.end()));

        env["HOME"] = home_.str();
        env["XDG_CONFIG_HOME"] = home_.file(".config");
        env["DOVREL_CONTROL_PORT"] = "0";
        env["DOVREL_INPUT_PORT"] = "0";
        env["DOVREL_VIDEO_PORT"] = std::to_string(videoPort);
        if (!env.count("DISPLAY")) env["DISPLAY"] = "";
        dovrel::test::ChildProcess::Options options;
        options.env = std::move(env);
        options.logFile = home_.file("agent.out");
        launcher.push_back(binary);
        if (!process_.start(launcher, options)) {
            why = "DovrelAgent would not start: " + binary;
            return false;
        }
        static const std::regex banner(R"(Dovrel agent up: relay \+ LAN \(CONTROL tcp/(\d+), INPUT udp/(\d+)\)\.)");
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(15);
        while (std::chrono::steady_clock::now() < until) {
            const std::string text = log();
            std::smatch m;
            if (std::regex_search(text, m, banner)) {
                controlPort_ = static_cast<uint16_t>(std::stoi(m[1]));
                inputPort_ = static_cast<uint16_t>(std::stoi(m[2]));
                return true;
            }
            if (!process_.running()) {
                why = "DovrelAgent ended at start-up; its log:\n" + text;
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        why = "DovrelAgent did not report its ports within 15 s; its log:\n" + log();
        return false;
    }

    uint16_t controlPort() const { return controlPort_; }
    // Its HOME.
    std::string home() const { return home_.str(); }
    uint16_t inputPort() const { return inputPort_; }
    pid_t pid() const { return process_.pid(); }

    // Everything it logged so far (its log file, or its standard output when it has none).
    std::string log() const {
        std::string text = dovrel::test::readFile(home_.file(".dovrel-agent.log"));
        const std::string out = dovrel::test::readFile(home_.file("agent.out"));
        return text.empty() ? out : text + out;
    }
    // The last `n` lines of the log.
    std::string tail(std::size_t n) const { return dovrel::test::lastLines(log(), n); }

private:
    static void write(const std::string& path, const wex::Bytes& bytes) {
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        ::chmod(path.c_str(), 0600);
    }

    dovrel::test::TempDir home_;
    wex::Bytes seed_;
    wex::DeviceIdentity identity_;
    dovrel::test::ChildProcess process_;
    uint16_t controlPort_ = 0;
    uint16_t inputPort_ = 0;
};

} // namespace dovrel::controller::test
