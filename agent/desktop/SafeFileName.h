#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "agent/common/UniqueFd.h"

namespace dovrel::agent {

// The longest file name Linux file systems take, in bytes.
inline constexpr std::size_t maxFileNameBytes = 255;

// A file name from the other side made into one safe path component: every "/" becomes "_", then
// every ".." becomes "_", then every mark that changes the direction of text becomes "_", and an empty
// name becomes `fallback`. A name that is then still unusable is refused: one holding NUL or another
// control character (C0, DEL, C1) or a line separator, ".", or longer than 255 bytes. A leading "."
// becomes "_".
std::optional<std::string> safeFileName(std::string_view offered, std::string_view fallback = "dovrel-file");

// The name with " n" put in before its extension: "report.pdf" and 2 give "report 2.pdf", "notes"
// gives "notes 2", ".profile" gives ".profile 2".
std::string numberedFileName(const std::string& name, unsigned n);

struct CreatedFile {
    UniqueFd fd;      // open for writing
    std::string name; // the name it got in the folder
    int error = 0;    // errno when no file could be made
};

// Makes a new file in the folder `dir` under `name`, or, when that exists, under the first free
// numbered name. Never opens an existing file or follows a link (O_EXCL, O_NOFOLLOW).
CreatedFile createUniqueFile(int dir, const std::string& name, mode_t mode = 0666);

// Renames `from` in the folder `dir` to `name`, or, when that exists, to the first free numbered name;
// never replaces a file or link. The name it got, or empty with the errno.
std::pair<std::string, int> renameUnique(int dir, const std::string& from, const std::string& name);

} // namespace dovrel::agent
