#pragma once

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>

#include <sched.h>
#include <sys/types.h>
#include <unistd.h>

namespace dovrel::bench {

// The machine's load average over 1, 5 and 15 minutes, as "1.23 4.56 7.89": printed beside figures
// measured on a machine that other work shares.
inline std::string loadAverage() {
    std::ifstream in("/proc/loadavg");
    double a = 0, b = 0, c = 0;
    in >> a >> b >> c;
    char text[64];
    std::snprintf(text, sizeof text, "%.2f %.2f %.2f", a, b, c);
    return text;
}

// CPU seconds the process or thread whose stat file is `path` has used (user + system).
inline double cpuSecondsIn(const std::string& path) {
    std::ifstream in(path);
    std::string text((std::istreambuf_iterator<char>(in)), {});
    const auto close = text.rfind(')');
    if (close == std::string::npos) return 0;
    std::istringstream rest(text.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i) {
        if (i == 14) utime = std::stoull(field);
        if (i == 15) stime = std::stoull(field);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

// CPU seconds a process has used (user + system).
inline double cpuSecondsOf(pid_t pid) { return cpuSecondsIn("/proc/" + std::to_string(pid) + "/stat"); }

// CPU seconds this process's threads have run so far (the scheduler's own count, in nanoseconds),
// summed by thread name; a real-time thread's name ends in " (real-time)".
inline std::map<std::string, double> cpuSecondsByThread() {
    std::map<std::string, double> out;
    std::error_code ec;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", ec)) {
        std::ifstream comm(task.path() / "comm"), schedstat(task.path() / "schedstat"), stat(task.path() / "stat");
        std::string name;
        std::getline(comm, name);
        unsigned long long ns = 0;
        schedstat >> ns;
        // The scheduling policy is the 41st field of stat, the 39th after the name's closing parenthesis.
        const std::string text((std::istreambuf_iterator<char>(stat)), {});
        const auto close = text.rfind(')');
        std::istringstream rest(close == std::string::npos ? std::string() : text.substr(close + 2));
        std::string field;
        for (int i = 3; i <= 41 && rest >> field; ++i) {
        }
        if (field == "1" || field == "2") name += " (real-time)";
        out[name] += static_cast<double>(ns) / 1e9;
    }
    return out;
}

// Takes a leading "--isolated" off the arguments: then this benchmark and everything it starts run
// before the machine's other work (real-time round robin, inherited by every child; needs the right to
// raise priorities), as on a machine whose only work is the desktop and the remote session; other
// builds and tests on a shared machine otherwise take the cores the encoder's and decoder's threads wait
// for. Call it first, while the process has one thread. Returns how the run is scheduled, for the
// figures' heading.
inline std::string takeIsolatedOption(int& argc, char**& argv) {
    if (argc < 2 || std::string(argv[1]) != "--isolated") return "shared with the machine's other work";
    --argc;
    ++argv;
    sched_param p{};
    p.sched_priority = 10;
    if (::sched_setscheduler(0, SCHED_RR, &p) == 0)
        return "isolated (real-time priority for this benchmark and all it starts)";
    return std::string("shared: real-time priority refused (") + std::strerror(errno) + ")";
}

} // namespace dovrel::bench
