#pragma once

#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

#include "agent/shell/LogSink.h"

namespace dovrel::agent {

// Crash reports of earlier runs. When the agent dies of a fatal signal it writes its own report (a
// headline, the signal, the stack) into ~/.dovrel/crashes from a signal-safe handler; the system's crash
// collector may also leave one in /var/crash. Nothing is uploaded: at the next start the sweep names the
// reports it has not mentioned yet in the log, so that a person asked for a report knows which file to
// send. A marker file remembers the date of the newest report already mentioned.
namespace CrashReports {

struct Report {
    std::string path;
    double date = 0; // modification time, seconds since 1970
};

// How many new reports the sweep lists by name.
inline constexpr std::size_t listedAtMost = 5;
// How many of its own reports the agent keeps.
inline constexpr std::size_t keptReports = 20;

// "DovrelAgent", "Dovrel Agent", "DovrelAE", "Dovrel" and this process's name when it is none of them.
std::vector<std::string> namePrefixes();
// A report of ours: a prefix, "-", anything, ".crash"; or the crash collector's form of this user's
// report of one of our programs: the program's path with "/" as "_", ".", the user id, ".crash".
bool isReportName(const std::string& name, const std::vector<std::string>& prefixes, uid_t uid);

// The reports in `dirs`, newest first; folders that cannot be listed are skipped.
std::vector<Report> reports(const std::vector<std::string>& dirs);
// The first non-empty line of the report's first 4096 bytes; nothing when it cannot be read or is not
// UTF-8. A character cut by the 4096-byte limit is dropped, not held against the file.
std::optional<std::string> headline(const std::string& path);

// ~/.dovrel/crashes: where the agent writes its own reports.
std::string ownReportsDirectory();
// ~/.dovrel/crashes, then /var/crash.
std::vector<std::string> defaultDirs();
// ~/.dovrel/crash-seen
std::string defaultMarker();
// A date as the marker holds it: the shortest decimal text that reads back as the same double.
std::string markerText(double seconds);

// Logs the reports newer than the marker's date (nothing when there are none), then stores the newest
// one's date in the marker (0600, its folder made 0700 when missing). True when it reported any.
bool sweep(const std::optional<std::vector<std::string>>& dirs = std::nullopt,
           const std::optional<std::string>& seenPath = std::nullopt, const LogSink& log = {});

// The newest report in `dirs`, whether or not the sweep has mentioned it.
std::optional<std::string> newestReportPath(const std::vector<std::string>& dirs = defaultDirs());

// Removes all but the newest `keep` reports in `directory` (the agent's own folder only), so that a
// crash at every start under a restarting supervisor cannot fill the disk.
void pruneReports(const std::string& directory, std::size_t keep = keptReports);

// Installs the process-wide handlers: the fatal signals (SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT)
// write a report into `directory` (made 0700 here, and pruned to the newest reports) and a line into the log, then end
// the process with the signal as before; an uncaught C++ exception logs its type, its message and the stack, then
// aborts (which writes the report). Call once, early, on the main thread.
void installHandlers(const std::string& directory = ownReportsDirectory());

// The path the signal handler will write to, once installHandlers has run; empty before.
std::string pendingReportPath();

} // namespace CrashReports

} // namespace dovrel::agent
