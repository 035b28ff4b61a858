#pragma once

#include <array>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

namespace dovrel::test {

// Runs a shell command and returns what it printed on standard output, with its exit status.
struct CommandResult {
    int status = -1;
    std::string output;
};

inline CommandResult runCommand(const std::string& command) {
    CommandResult r;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    if (!pipe) return r;
    std::array<char, 4096> buf{};
    while (std::size_t n = std::fread(buf.data(), 1, buf.size(), pipe.get())) r.output.append(buf.data(), n);
    const int raw = ::pclose(pipe.release());
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return r;
}

inline bool haveCommand(const std::string& name) {
    return runCommand("command -v " + name + " >/dev/null 2>&1 && echo yes").output == "yes\n";
}

} // namespace dovrel::test
