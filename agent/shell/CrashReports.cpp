#include "agent/shell/CrashReports.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

#include "agent/common/HomeDirectory.h"
#include "agent/common/UniqueFd.h"
#include "agent/shell/TextUtil.h"
#include "runtime/AtomicFile.h"

namespace dovrel::agent::CrashReports {

namespace {

// A date that cannot be read sorts as the earliest there is (1 January of the year 1).
constexpr double distantPast = -62135769600.0;

bool endsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

std::vector<std::string> sortedNames(const std::string& dir) {
    std::vector<std::string> names;
    DIR* d = ::opendir(dir.c_str());
    if (!d) return names;
    while (const dirent* e = ::readdir(d))
        names.emplace_back(e->d_name);
    ::closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

std::optional<double> readMarker(const std::string& path) {
    wex::Bytes bytes;
    if (!readWholeFile(path, bytes)) return std::nullopt;
    const std::string text = trimWhite(std::string(bytes.begin(), bytes.end()));
    double value = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || ptr != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

} // namespace

std::vector<std::string> namePrefixes() {
    std::vector<std::string> prefixes = {"DovrelAgent", "Dovrel Agent", "DovrelAE", "Dovrel"};
    const std::string self = program_invocation_short_name ? program_invocation_short_name : "";
    if (!self.empty() && std::find(prefixes.begin(), prefixes.end(), self) == prefixes.end()) prefixes.push_back(self);
    return prefixes;
}

bool isReportName(const std::string& name, const std::vector<std::string>& prefixes, uid_t uid) {
    if (!endsWith(name, ".crash")) return false;
    for (const std::string& prefix : prefixes)
        if (name.rfind(prefix + "-", 0) == 0) return true;
    // The crash collector's name: "_usr_bin_DovrelAgent.1000.crash".
    const std::string userTail = "." + std::to_string(uid) + ".crash";
    if (!endsWith(name, userTail)) return false;
    const std::string program = name.substr(0, name.size() - userTail.size());
    for (const std::string& prefix : prefixes)
        if (endsWith(program, "_" + prefix)) return true;
    return false;
}

std::vector<Report> reports(const std::vector<std::string>& dirs) {
    const auto prefixes = namePrefixes();
    const uid_t uid = ::getuid();
    std::vector<Report> found;
    for (const std::string& dir : dirs) {
        for (const std::string& name : sortedNames(dir)) {
            if (!isReportName(name, prefixes, uid)) continue;
            Report r{dir + "/" + name, distantPast};
            struct stat st {};
            if (::stat(r.path.c_str(), &st) == 0)
                r.date = static_cast<double>(st.st_mtim.tv_sec) + static_cast<double>(st.st_mtim.tv_nsec) / 1e9;
            found.push_back(std::move(r));
        }
    }
    std::stable_sort(found.begin(), found.end(), [](const Report& a, const Report& b) { return a.date > b.date; });
    return found;
}

std::optional<std::string> headline(const std::string& path) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd) return std::nullopt;
    std::string buf(4096, '\0');
    std::size_t got = 0;
    while (got < buf.size()) {
        const ssize_t n = ::read(fd.get(), buf.data() + got, buf.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return std::nullopt;
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    buf.resize(got);
    // Only a full 4096 bytes can have cut a character in two.
    const std::string_view text = got == 4096 ? dropIncompleteUTF8Tail(buf) : std::string_view(buf);
    if (!isValidUTF8(text)) return std::nullopt;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        if (end > at) return std::string(text.substr(at, end - at));
        at = end + 1;
    }
    return std::nullopt;
}

std::string ownReportsDirectory() { return homeDirectory() + "/.dovrel/crashes"; }
std::vector<std::string> defaultDirs() { return {ownReportsDirectory(), "/var/crash"}; }
std::string defaultMarker() { return homeDirectory() + "/.dovrel/crash-seen"; }

std::string markerText(double seconds) {
    char buf[64];
    const auto [ptr, ec] = std::to_chars(buf, buf + sizeof buf, seconds, std::chars_format::fixed);
    std::string text(buf, ec == std::errc() ? ptr : buf);
    if (text.find_first_of(".eEn") == std::string::npos) text += ".0";
    return text;
}

bool sweep(const std::optional<std::vector<std::string>>& dirs, const std::optional<std::string>& seenPath,
           const LogSink& log) {
    const std::vector<Report> all = reports(dirs ? *dirs : defaultDirs());
    if (all.empty()) return false;
    const std::string marker = seenPath ? *seenPath : defaultMarker();
    const double seen = readMarker(marker).value_or(std::numeric_limits<double>::lowest());
    std::vector<Report> fresh;
    for (const Report& r : all)
        if (r.date > seen) fresh.push_back(r);
    if (fresh.empty()) return false;

    const std::size_t n = fresh.size();
    logLine(log, "!! this agent crashed on a previous run — " + std::to_string(n) + " report(s) the OS wrote:");
    for (std::size_t i = 0; i < std::min(n, listedAtMost); ++i) {
        logLine(log, "   " + fresh[i].path);
        if (const auto line = headline(fresh[i].path)) logLine(log, "     " + *line);
    }
    if (n > listedAtMost) logLine(log, "   … and " + std::to_string(n - listedAtMost) + " more");
    logLine(log, "   Please send the newest of those if you are reporting a problem. They contain a");
    logLine(log, "   stack trace and no screen or clipboard contents. Nothing is uploaded from here.");

    // The marker's folder is private like the rest of ~/.dovrel; an existing folder is left as it is.
    const std::string folder = std::filesystem::path(marker).parent_path().string();
    if (!folder.empty()) ::mkdir(folder.c_str(), 0700);
    const std::string text = markerText(fresh.front().date);
    writeFileAtomically(marker, wex::ByteView(reinterpret_cast<const uint8_t*>(text.data()), text.size()), 0600);
    return true;
}

void pruneReports(const std::string& directory, std::size_t keep) {
    const auto all = reports({directory});
    for (std::size_t i = keep; i < all.size(); ++i)
        ::unlink(all[i].path.c_str());
}

std::optional<std::string> newestReportPath(const std::vector<std::string>& dirs) {
    const auto all = reports(dirs);
    if (all.empty()) return std::nullopt;
    return all.front().path;
}

} // namespace dovrel::agent::CrashReports
