#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <sys/types.h>

namespace dovrel::test {

// Runs the relay double (dovrel-test-relay) as a child process for one test: starts it on a free
// loopback port, collects the event lines it prints and ends it when the object goes.
//
// Events, one a line ("<who>" is "role=agent|client version=1|2 [account=A] room=R"):
//   listening port=N          registered <who>          waiting <who> (a controller with no agent yet)
//   challenged <who>          proved <who>              spliced <agent's who>
//   redirected <who> target=T refused <who> reason=R   (bad-magic, bad-version, bad-role, bad-token,
//                                                        no-key, room-key-mismatch, bad-signature,
//                                                        preamble-timeout)
//   ended <who> by=agent|client (a spliced pair ended; the other side is closed too)
//   closed <who> (a registered, unspliced peer left)     replaced <who> (an idle agent re-registered)
class RelayDouble {
public:
    struct Options {
        std::string certFile;
        std::string keyFile;
        bool challenge = false;
        std::vector<std::string> redirects; // "ROOM=host:port" ("*" for every room)
        std::vector<std::string> tokens;
        bool tokenShape = false;
        bool roomKeyCheck = false;
        std::vector<std::string> extraArgs;
    };

    // Throws std::runtime_error when the relay cannot be started or does not listen within 10 s.
    explicit RelayDouble(const Options& options);
    ~RelayDouble(); // SIGTERM, then waits for the child
    RelayDouble(const RelayDouble&) = delete;
    RelayDouble& operator=(const RelayDouble&) = delete;

    uint16_t port() const { return port_; }

    // Waits until at least `count` lines containing `needle` have been printed; false on time-out.
    bool waitForEvent(const std::string& needle, std::chrono::milliseconds timeout = std::chrono::seconds(10),
                      std::size_t count = 1) const;
    std::size_t countEvents(const std::string& needle) const;
    std::vector<std::string> events() const;

    // The built program's path.
    static std::string executable();
    // The command line for `options`, without the program name.
    static std::vector<std::string> arguments(const Options& options);

private:
    void readLines();
    void stop();

    pid_t pid_ = -1;
    int out_ = -1;
    uint16_t port_ = 0;
    std::thread reader_;
    mutable std::mutex lock_;
    mutable std::condition_variable changed_;
    std::vector<std::string> lines_;
    bool eof_ = false;
};

} // namespace dovrel::test
