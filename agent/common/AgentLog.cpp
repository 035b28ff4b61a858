#include "agent/common/AgentLog.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "agent/common/HomeDirectory.h"

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

std::string logTimestamp() {
    timespec ts{};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    tm local{};
    ::localtime_r(&ts.tv_sec, &local);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%02d-%02d %02d:%02d:%02d.%03d", (local.tm_mon + 1) % 100, local.tm_mday % 100,
                  local.tm_hour % 100, local.tm_min % 100, local.tm_sec % 100,
                  static_cast<int>(ts.tv_nsec / 1000000) % 1000);
    return buf;
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
