#pragma once

#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <sstream>
#include <string>
#include <string_view>

namespace dovrel::agent {

// The agent's one log file, ~/.dovrel-agent.log, kept under 8 MiB by rotation to a single older
// generation (~/.dovrel-agent.log.1). Once opened it replaces standard output and standard error.
namespace AgentLog {

inline constexpr uint64_t cap = 0x800000; // 8 MiB

const std::string& path();         // $HOME/.dovrel-agent.log, computed once
const std::string& previousPath(); // $HOME/.dovrel-agent.log.1, computed once
// Serialises rotation and reopening; nothing else.
std::mutex& lock();

// The file's size, 0 when it is missing or unreadable.
uint64_t size(const std::string& file);
// Moves `at` to `to` (replacing it) when `at` is larger than `cap`; true when moved. Hold lock().
bool rotate(const std::string& at, const std::string& to, uint64_t cap);
// Opens `file` (append, 0600, tightened if it was wider) onto descriptors 1 and 2. Hold lock(). From
// then on a line that takes the file over the cap rotates it (to `file` + ".1") as it is written.
void openUnderLock(const std::string& file = path());
// Rotates while the program runs and logs the rotation into the fresh file; takes the lock itself.
void rotateIfNeeded(const std::string& file = path(), const std::string& previous = previousPath());

} // namespace AgentLog

// "MM-dd HH:mm:ss.SSS" in local time.
std::string logTimestamp();

// Writes the time stamp, one blank and `text`, then `terminator`, as one write to standard output.
void writeLogLine(std::string_view text, std::string_view terminator = "\n");

// The same line of `parts` for a thread that must not wait on a lock the program may hold (a stop that
// cuts a hung start-up short): UnlockedLine's, in the zone the last time stamp found, and never rotating.
void writeLogLineNow(std::initializer_list<std::string_view> parts);

// The agent's print: each item as text, joined by `separator`, behind the time stamp.
template <typename... Items>
void printWith(std::string_view separator, std::string_view terminator, const Items&... items) {
    std::ostringstream out;
    bool first = true;
    ((out << (first ? "" : separator) << items, first = false), ...);
    writeLogLine(out.str(), terminator);
}

template <typename... Items> void print(const Items&... items) { printWith(" ", "\n", items...); }

} // namespace dovrel::agent
