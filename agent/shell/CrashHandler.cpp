// The handlers that run when the agent dies. The signal handler may run at any moment, on any thread,
// with the heap corrupted: it uses only async-signal-safe calls (open, write, close, clock_gettime,
// sigaction, raise) and backtrace, whose unwinder is loaded at installation so that it allocates
// nothing here; paths and texts made when it was installed; and the thread's own signal stack, so that
// it still runs after a stack overflow on any thread the agent started.

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <cxxabi.h>
#include <exception>
#include <execinfo.h>
#include <fcntl.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "agent/common/AgentLog.h"
#include "agent/shell/CrashReports.h"
#include "runtime/SignalStack.h"

namespace dovrel::agent::CrashReports {

namespace {

constexpr int fatalSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
constexpr std::size_t pathCapacity = 4096;

// Everything the handler needs, made before any crash.
char reportPath[pathCapacity];
char reportIntro[pathCapacity]; // " in pid N, started YYYY-MM-DD HH:MM:SS\nexecutable: PATH\n"
long utcOffsetSeconds = 0;
std::atomic_flag handling = ATOMIC_FLAG_INIT;
std::atomic<pid_t> handlingThread{0};
std::atomic<bool> installed{false};

// Small, allocation-free writers.
struct Out {
    int fd;
    void text(const char* s) const {
        std::size_t len = 0;
        while (s[len])
            ++len;
        bytes(s, len);
    }
    void bytes(const char* s, std::size_t len) const {
        while (len > 0) {
            const ssize_t n = ::write(fd, s, len);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return;
            s += n;
            len -= static_cast<std::size_t>(n);
        }
    }
    void number(unsigned long long v, int base = 10, int width = 1) const {
        char buf[32];
        int i = sizeof buf;
        do {
            buf[--i] = "0123456789abcdef"[v % static_cast<unsigned>(base)];
            v /= static_cast<unsigned>(base);
            --width;
        } while (v != 0 || width > 0);
        bytes(buf + i, sizeof buf - static_cast<std::size_t>(i));
    }
};

const char* signalName(int sig) {
    switch (sig) {
    case SIGSEGV: return "SIGSEGV";
    case SIGBUS: return "SIGBUS";
    case SIGILL: return "SIGILL";
    case SIGFPE: return "SIGFPE";
    case SIGABRT: return "SIGABRT";
    default: return "signal";
    }
}

// The log's time stamp "MM-dd HH:mm:ss.SSS" from the clock alone (local time through the offset taken
// at installation; localtime is not safe here).
void writeStamp(const Out& out) {
    timespec ts{};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    const long long local = static_cast<long long>(ts.tv_sec) + utcOffsetSeconds;
    long long days = local / 86400;
    long long secs = local % 86400;
    if (secs < 0) secs += 86400, --days;
    // Civil date from days since 1970 (Howard Hinnant's algorithm).
    days += 719468;
    const long long era = (days >= 0 ? days : days - 146096) / 146097;
    const long long doe = days - era * 146097;
    const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long long mp = (5 * doy + 2) / 153;
    const long long day = doy - (153 * mp + 2) / 5 + 1;
    const long long month = mp < 10 ? mp + 3 : mp - 9;
    out.number(static_cast<unsigned long long>(month), 10, 2);
    out.text("-");
    out.number(static_cast<unsigned long long>(day), 10, 2);
    out.text(" ");
    out.number(static_cast<unsigned long long>(secs / 3600), 10, 2);
    out.text(":");
    out.number(static_cast<unsigned long long>(secs / 60 % 60), 10, 2);
    out.text(":");
    out.number(static_cast<unsigned long long>(secs % 60), 10, 2);
    out.text(".");
    out.number(static_cast<unsigned long long>(ts.tv_nsec / 1000000), 10, 3);
}

void onFatalSignal(int sig, siginfo_t* info, void*) {
    const int savedErrno = errno;
    const pid_t self = ::gettid();
    if (handling.test_and_set()) {
        // A fault inside the handler itself: give up on the report and die at once.
        if (handlingThread.load() == self) {
            ::signal(sig, SIG_DFL);
            ::raise(sig);
            return;
        }
        // Another thread is writing the report; it ends the process when done.
        for (;;)
            ::pause();
    }
    handlingThread.store(self);
    void* frames[64];
    const int depth = ::backtrace(frames, 64);

    const int fd = ::open(reportPath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd >= 0) {
        const Out r{fd};
        r.text(program_invocation_short_name);
        r.text(" crashed: ");
        r.text(signalName(sig));
        r.text(" (signal ");
        r.number(static_cast<unsigned>(sig));
        r.text(", code ");
        r.number(static_cast<unsigned>(info ? info->si_code & 0xffff : 0));
        if (info && info->si_code <= 0) {
            // Sent by another process, not raised by a fault: name the sender instead of an address.
            r.text(") sent by pid ");
            r.number(static_cast<unsigned long long>(info->si_pid));
        } else {
            r.text(") at 0x");
            r.number(reinterpret_cast<uintptr_t>(info ? info->si_addr : nullptr), 16);
        }
        r.text(reportIntro);
        timespec ts{};
        ::clock_gettime(CLOCK_REALTIME, &ts);
        r.text("crashed at: ");
        r.number(static_cast<unsigned long long>(ts.tv_sec));
        r.text(" (seconds since 1970)\n\nstack:\n");
        ::backtrace_symbols_fd(frames, depth, fd);
        ::close(fd);
    }
    const Out log{STDERR_FILENO};
    writeStamp(log);
    log.text(" !! FATAL: ");
    log.text(signalName(sig));
    log.text(" — crash report written to ");
    log.text(reportPath);
    log.text("\n");

    // End as the signal would have ended us, so that the supervisor sees a failure.
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    ::sigaction(sig, &dfl, nullptr);
    errno = savedErrno;
    ::raise(sig);
}

void onTerminate() {
    std::string name = "unknown";
    std::string reason;
    if (const std::exception_ptr current = std::current_exception()) {
        if (const std::type_info* type = abi::__cxa_current_exception_type()) {
            int status = 0;
            std::unique_ptr<char, void (*)(void*)> demangled(
                abi::__cxa_demangle(type->name(), nullptr, nullptr, &status), std::free);
            name = status == 0 && demangled ? demangled.get() : type->name();
        }
        try {
            std::rethrow_exception(current);
        } catch (const std::exception& e) {
            reason = e.what();
        } catch (...) {
        }
    }
    print("!! FATAL: uncaught " + name + ": " + (reason.empty() ? std::string("no reason given") : reason));
    void* frames[64];
    const int depth = ::backtrace(frames, 64);
    if (char** symbols = ::backtrace_symbols(frames, depth)) {
        for (int i = 0; i < depth; ++i)
            print(std::string("   ") + symbols[i]);
        std::free(symbols);
    }
    std::fflush(stdout);
    std::abort();
}

} // namespace

void installHandlers(const std::string& directory) {
    if (installed.exchange(true)) return;

    // The folder is private: a report holds addresses and the program's path.
    const std::string parent = directory.substr(0, directory.find_last_of('/'));
    if (!parent.empty()) ::mkdir(parent.c_str(), 0700);
    ::mkdir(directory.c_str(), 0700);
    pruneReports(directory);

    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    utcOffsetSeconds = local.tm_gmtoff;
    char stamp[32], started[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d-%H%M%S", &local);
    std::strftime(started, sizeof started, "%Y-%m-%d %H:%M:%S", &local);
    const std::string path =
        directory + "/" + program_invocation_short_name + "-" + stamp + "-" + std::to_string(::getpid()) + ".crash";
    std::snprintf(reportPath, sizeof reportPath, "%s", path.c_str());
    char exe[pathCapacity / 2] = {};
    const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n > 0) exe[n] = '\0';
    std::snprintf(reportIntro, sizeof reportIntro, " in pid %d, started %s\nexecutable: %s\n",
                  static_cast<int>(::getpid()), started, exe);

    // backtrace() loads its unwinder on first use; do that now, not inside the handler.
    void* warm[2];
    ::backtrace(warm, 2);

    // Its own stack, so that a stack overflow still gets a report: here for the main thread; every
    // thread the agent starts arms one for itself.
    armSignalStack();
    struct sigaction sa {};
    sa.sa_sigaction = onFatalSignal;
    sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&sa.sa_mask);
    for (int sig : fatalSignals)
        ::sigaction(sig, &sa, nullptr);

    std::set_terminate(onTerminate);
}

std::string pendingReportPath() { return installed.load() ? std::string(reportPath) : std::string(); }

} // namespace dovrel::agent::CrashReports
