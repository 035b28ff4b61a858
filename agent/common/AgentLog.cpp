#include "agent/common/AgentLog.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "agent/common/HomeDirectory.h"
#include "runtime/UnlockedLine.h"

namespace dovrel::agent {

namespace AgentLog {

namespace {

// The file openUnderLock put onto standard output, by device and inode: only while descriptor 1 is still
// that file do writes rotate it.
struct Installed {
    std::string file;
    dev_t dev = 0;
    ino_t ino = 0;
};
Installed& installed() { // guarded by lock()
    static Installed i;
    return i;
}
std::atomic<bool> haveInstalled{false};
thread_local bool rotating = false; // the rotation line itself must not rotate again

// Rotates the installed log when a write has taken it over the cap.
void rotateAfterWrite() {
    if (rotating || !haveInstalled.load(std::memory_order_acquire)) return;
    struct stat st {};
    if (::fstat(STDOUT_FILENO, &st) != 0 || static_cast<uint64_t>(st.st_size) <= cap) return;
    std::string file;
    {
        const std::lock_guard guard(lock());
        const Installed& i = installed();
        if (i.dev != st.st_dev || i.ino != st.st_ino) return;
        file = i.file;
    }
    rotating = true;
    rotateIfNeeded(file, file + ".1");
    rotating = false;
}

} // namespace

const std::string& path() {
    static const std::string p = homeDirectory() + "/.dovrel-agent.log";
    return p;
}

const std::string& previousPath() {
    static const std::string p = homeDirectory() + "/.dovrel-agent.log.1";
    return p;
}

std::mutex& lock() {
    static std::mutex m;
    return m;
}

uint64_t size(const std::string& file) {
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0) return 0;
    return static_cast<uint64_t>(st.st_size);
}

bool rotate(const std::string& at, const std::string& to, uint64_t limit) {
    if (size(at) <= limit) return false;
    ::unlink(to.c_str());
    return ::rename(at.c_str(), to.c_str()) == 0;
}

void openUnderLock(const std::string& file) {
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) return;
    ::fchmod(fd, 0600);
    struct stat st {};
    if (::fstat(fd, &st) == 0) {
        installed() = Installed{file, st.st_dev, st.st_ino};
        haveInstalled.store(true, std::memory_order_release);
    }
    std::fflush(stdout);
    std::fflush(stderr);
    ::dup2(fd, STDOUT_FILENO);
    ::dup2(fd, STDERR_FILENO);
    ::close(fd);
    std::setvbuf(stdout, nullptr, _IONBF, 0);
}

void rotateIfNeeded(const std::string& file, const std::string& previous) {
    if (size(file) <= cap) return;
    const std::lock_guard guard(lock());
    if (size(file) <= cap) return; // another thread rotated it
    std::fflush(stdout);
    std::fflush(stderr);
    rotate(file, previous, cap);
    openUnderLock(file);
    const bool was = rotating;
    rotating = true; // a rotation that failed leaves the file large: its line must not try again here
    print("• log rotated at " + std::to_string(cap / (1024 * 1024)) + " MB — the previous one is at " + previous);
    rotating = was;
}

} // namespace AgentLog

namespace {

// Seconds east of UTC as the last time stamp made the usual way found them: the zone of a line that may
// not ask the C library, whose zone lookup takes a lock.
std::atomic<long> zoneOffset{0};

// `at` in the zone `offset` seconds east of UTC, worked out by arithmetic alone.
UnlockedLine& stamp(UnlockedLine& line, timespec at, long offset) {
    using namespace std::chrono;
    const sys_seconds local{seconds(at.tv_sec + offset)};
    const auto day = floor<days>(local);
    const year_month_day date(day);
    const hh_mm_ss time(local - day);
    const auto digits = [&line](long long value, int count) {
        char text[3];
        for (int i = count - 1; i >= 0; --i, value /= 10)
            text[i] = static_cast<char>('0' + value % 10);
        line << std::string_view(text, static_cast<std::size_t>(count));
    };
    digits(unsigned(date.month()), 2);
    line << "-";
    digits(unsigned(date.day()), 2);
    line << " ";
    digits(time.hours().count(), 2);
    line << ":";
    digits(time.minutes().count(), 2);
    line << ":";
    digits(time.seconds().count(), 2);
    line << ".";
    digits(at.tv_nsec / 1000000, 3);
    return line;
}

} // namespace

std::string logTimestamp() {
    timespec ts{};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    tm local{};
    ::localtime_r(&ts.tv_sec, &local);
    zoneOffset.store(local.tm_gmtoff, std::memory_order_relaxed);
    UnlockedLine line;
    return std::string(stamp(line, ts, local.tm_gmtoff).text());
}

void writeLogLineNow(std::initializer_list<std::string_view> parts) {
    timespec ts{};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    UnlockedLine line;
    stamp(line, ts, zoneOffset.load(std::memory_order_relaxed)) << " ";
    for (const std::string_view part : parts)
        line << part;
    line.writeTo(STDOUT_FILENO);
}

void writeLogLine(std::string_view text, std::string_view terminator) {
    std::string line = logTimestamp();
    line.reserve(line.size() + 1 + text.size() + terminator.size());
    line += ' ';
    line += text;
    line += terminator;
    // One write per line: with O_APPEND, lines from different threads never interleave.
    std::size_t done = 0;
    while (done < line.size()) {
        const ssize_t n = ::write(STDOUT_FILENO, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
    // Whoever writes, the log never stays above its cap until the next start or statistics tick.
    AgentLog::rotateAfterWrite();
}

} // namespace dovrel::agent
