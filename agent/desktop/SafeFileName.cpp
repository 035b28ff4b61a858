#include "agent/desktop/SafeFileName.h"

#include <cerrno>

#include <fcntl.h>

namespace dovrel::agent {

namespace {

void replaceAll(std::string& s, std::string_view from, std::string_view to) {
    for (std::size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
        s.replace(at, from.size(), to);
}

bool hasControlCharacter(std::string_view s) {
    for (std::size_t i = 0; i < s.size(); ++i) {
        const auto b = static_cast<unsigned char>(s[i]);
        if (b < 0x20 || b == 0x7F) return true;
        // C1 controls, U+0080 to U+009F, are C2 80 to C2 9F in UTF-8.
        if (b == 0xC2 && i + 1 < s.size() && static_cast<unsigned char>(s[i + 1]) <= 0x9F &&
            static_cast<unsigned char>(s[i + 1]) >= 0x80)
            return true;
    }
    return false;
}

} // namespace

std::optional<std::string> safeFileName(std::string_view offered, std::string_view fallback) {
    std::string name(offered);
    replaceAll(name, "/", "_");
    replaceAll(name, "..", "_");
    if (name.empty()) name = fallback;
    if (name == "." || name == ".." || name.size() > maxFileNameBytes || hasControlCharacter(name)) return std::nullopt;
    return name;
}

std::string numberedFileName(const std::string& name, unsigned n) {
    const std::size_t dot = name.rfind('.');
    const std::string suffix = " " + std::to_string(n);
    // A leading dot marks a hidden file, not an extension; a trailing one has nothing after it.
    if (dot == std::string::npos || dot == 0 || dot + 1 == name.size()) return name + suffix;
    return name.substr(0, dot) + suffix + name.substr(dot);
}

CreatedFile createUniqueFile(int dir, const std::string& name, mode_t mode) {
    constexpr unsigned kMostTries = 10000;
    CreatedFile result;
    for (unsigned n = 0; n < kMostTries; ++n) {
        const std::string candidate = n == 0 ? name : numberedFileName(name, n);
        if (candidate.size() > maxFileNameBytes) {
            result.error = ENAMETOOLONG;
            return result;
        }
        const int fd =
            ::openat(dir, candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, mode);
        if (fd >= 0) {
            result.fd.reset(fd);
            result.name = candidate;
            return result;
        }
        if (errno != EEXIST) {
            result.error = errno;
            return result;
        }
    }
    result.error = EEXIST;
    return result;
}

} // namespace dovrel::agent
