#include "agent/desktop/SafeFileName.h"

#include <cerrno>
#include <cstdio>
#include <utility>

#include "protocol/LogText.h"

#include <fcntl.h>

namespace dovrel::agent {

namespace {

void replaceAll(std::string& s, std::string_view from, std::string_view to) {
    for (std::size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
        s.replace(at, from.size(), to);
}

bool hasControlCharacter(std::string_view s) {
    for (const char c : s) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7F) return true;
    }
    // C1 controls and line separators (direction marks were replaced before this look).
    return wex::containsLineBreakingOrHidden(s);
}

} // namespace

std::optional<std::string> safeFileName(std::string_view offered, std::string_view fallback) {
    std::string name(offered);
    replaceAll(name, "/", "_");
    replaceAll(name, "..", "_");
    // A direction mark would disguise the name ("invoice\u202Efdp.exe" shows as "invoiceexe.pdf"), but
    // a name may hold one for good reason: the mark goes, the file stays.
    name = wex::replaceDirectionMarks(name, "_");
    if (name.empty()) name = fallback;
    if (name == "." || name == ".." || name.size() > maxFileNameBytes || hasControlCharacter(name)) return std::nullopt;
    // A received file is never hidden: ".bashrc" or ".xsessionrc" would be read at the next login.
    if (name.front() == '.') name.front() = '_';
    return name;
}

std::string numberedFileName(const std::string& name, unsigned n) {
    const std::size_t dot = name.rfind('.');
    const std::string suffix = " " + std::to_string(n);
    // A leading dot marks a hidden file, not an extension; a trailing one has nothing after it.
    if (dot == std::string::npos || dot == 0 || dot + 1 == name.size()) return name + suffix;
    return name.substr(0, dot) + suffix + name.substr(dot);
}

namespace {

// Tries `attempt` with `name` and then its numbered forms until one does not exist yet; the name used,
// or the error that stopped the search.
template <typename Attempt> std::pair<std::string, int> firstFreeName(const std::string& name, Attempt attempt) {
    constexpr unsigned kMostTries = 10000;
    for (unsigned n = 0; n < kMostTries; ++n) {
        const std::string candidate = n == 0 ? name : numberedFileName(name, n);
        if (candidate.size() > maxFileNameBytes) return {{}, ENAMETOOLONG};
        const int error = attempt(candidate);
        if (error == 0) return {candidate, 0};
        if (error != EEXIST) return {{}, error};
    }
    return {{}, EEXIST};
}

} // namespace

CreatedFile createUniqueFile(int dir, const std::string& name, mode_t mode) {
    CreatedFile result;
    auto [used, error] = firstFreeName(name, [&](const std::string& candidate) {
        const int fd =
            ::openat(dir, candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, mode);
        if (fd < 0) return errno;
        result.fd.reset(fd);
        return 0;
    });
    result.name = std::move(used);
    result.error = error;
    return result;
}

std::pair<std::string, int> renameUnique(int dir, const std::string& from, const std::string& name) {
    return firstFreeName(name, [&](const std::string& candidate) {
        if (::renameat2(dir, from.c_str(), dir, candidate.c_str(), RENAME_NOREPLACE) == 0) return 0;
        if (errno != EINVAL && errno != ENOSYS) return errno;
        // A file system without no-replace renames: a hard link fails just as well on an existing name.
        if (::linkat(dir, from.c_str(), dir, candidate.c_str(), 0) != 0) return errno;
        ::unlinkat(dir, from.c_str(), 0);
        return 0;
    });
}

} // namespace dovrel::agent
