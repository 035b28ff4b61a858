#pragma once

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "ChildProcess.h"
#include "TempHome.h"

namespace dovrel::test {

// A private PulseAudio server with one null sink (48 kHz stereo s16) as the default output, in user
// mode with its own runtime folder, so it works as root and never touches the user's sound. While it
// lives, PULSE_SERVER points this process's PulseAudio clients at it. `available()` is false when
// the machine has no pulseaudio at all; `failure()` says why it did not start otherwise.
class PulseAudioServer {
public:
    explicit PulseAudioServer(std::string sink = "dovrel_test") : sink_(std::move(sink)) {
        const std::string pulseaudio = findProgram("pulseaudio");
        pactl_ = findProgram("pactl");
        if (pulseaudio.empty() || pactl_.empty()) {
            failure_ = "pulseaudio or pactl is not installed";
            available_ = false;
            return;
        }
        const std::string socket = dir_.file("native");
        server_ = "unix:" + socket;
        ChildProcess::Options opts;
        opts.env = {{"XDG_RUNTIME_DIR", dir_.str()}, {"HOME", dir_.str()}, {"PULSE_SERVER", server_}};
        opts.logFile = dir_.file("pulseaudio.log");
        const bool spawned =
            process_.start({pulseaudio, "-n", "--daemonize=no", "--exit-idle-time=-1", "--realtime=no",
                            "--high-priority=no", "--use-pid-file=no", "--disallow-exit", "--log-target=stderr",
                            "--load=module-native-protocol-unix auth-anonymous=1 socket=" + socket,
                            "--load=module-null-sink sink_name=" + sink_ + " rate=48000 channels=2 format=s16le",
                            "--load=module-always-sink"},
                           opts);
        if (!spawned) {
            failure_ = "pulseaudio would not start";
            return;
        }
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        bool up = false;
        while (!up && std::chrono::steady_clock::now() < end && process_.running()) {
            if (std::filesystem::exists(socket))
                up = runProgram({pactl_, "-s", server_, "set-default-sink", sink_}, clientOptions()) == 0;
            if (!up) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (!up) {
            process_.stop();
            failure_ = "pulseaudio did not come up within 10 s (see its log)";
            return;
        }
        ::setenv("PULSE_SERVER", server_.c_str(), 1);
        running_ = true;
    }
    ~PulseAudioServer() {
        if (running_) ::unsetenv("PULSE_SERVER");
        process_.stop();
    }
    PulseAudioServer(const PulseAudioServer&) = delete;
    PulseAudioServer& operator=(const PulseAudioServer&) = delete;

    bool available() const { return available_; }
    bool running() const { return running_; }
    const std::string& failure() const { return failure_; }
    const std::string& server() const { return server_; } // "unix:/…/native"
    const std::string& sink() const { return sink_; }
    std::string monitor() const { return sink_ + ".monitor"; }

    // pactl against this server, e.g. pactl({"suspend-sink", sink(), "1"}); its exit code.
    std::optional<int> pactl(std::vector<std::string> args) const {
        args.insert(args.begin(), {pactl_, "-s", server_});
        return runProgram(args, clientOptions());
    }

private:
    ChildProcess::Options clientOptions() const {
        ChildProcess::Options o;
        o.env = {{"HOME", dir_.str()}, {"XDG_RUNTIME_DIR", dir_.str()}};
        return o;
    }

    TempDir dir_;
    std::string sink_;
    std::string server_;
    std::string pactl_;
    std::string failure_;
    ChildProcess process_;
    bool available_ = true;
    bool running_ = false;
};

} // namespace dovrel::test
