#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

namespace dovrel::agent {

// What one run of a command-line tool gave.
struct ChildResult {
    bool started = false;  // the program could be started at all
    bool timedOut = false; // it was still running at the time-out and was killed
    int exitStatus = -1;   // its exit status; -1 when a signal ended it or it never ran
    std::string out;       // standard output
    std::string err;       // standard error

    // It ran to its end by itself and exited with status 0. A tool that was killed never succeeds.
    bool succeeded() const { return started && !timedOut && exitStatus == 0; }
};

struct ChildOptions {
    // A tool that hangs (a stuck bus, a prompt) is killed after this and counts as failed.
    std::chrono::milliseconds timeout{5000};
    // Output beyond this is read and dropped, so a chatty tool can neither block nor exhaust memory.
    std::size_t outputLimit = 1 << 20;
};

// Runs `program` (a path, or a name looked up on $PATH) with `args`, standard input from /dev/null and
// both output streams read as they come, so that no pipe ever fills up and blocks the tool. The tool
// runs in its own process group; at the time-out the whole group is killed. Blocks the calling thread
// until the tool has ended. Safe to call from several threads at once.
ChildResult runChildProcess(const std::string& program, const std::vector<std::string>& args,
                            const ChildOptions& options = {});

// Where `name` is on $PATH (or `name` itself when it holds a slash and is executable); empty when not
// found.
std::string findOnPath(const std::string& name);

} // namespace dovrel::agent
