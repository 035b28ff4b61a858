#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "protocol/FileMessages.h"

namespace dovrel::controller {

// What an offer of the agent's clipboard files may declare.
struct ClipOfferLimits {
    static constexpr std::size_t maxFiles = 64;
    static constexpr uint64_t maxFileBytes = 2147483648ULL;  // 2 GiB, inclusive
    static constexpr uint64_t maxTotalBytes = 4294967296ULL; // 4 GiB, inclusive
};

// Why an offer is refused (the words after "REFUSED: "), or none when it is within the limits. The
// running total is compared after each entry, so an offer whose first entries already pass the total
// is refused before later ones are looked at.
std::optional<std::string> clipOfferRefusal(const std::vector<wex::ClipFileEntry>& files);

// A name the agent sent made safe as one file name: separators and NUL become "_", white space is
// trimmed at both ends, control and format characters go; empty, "." and ".." become "file.bin"; a name
// over 200 UTF-8 bytes keeps its first 150 bytes and up to 20 bytes of its extension, each cut between
// two characters, so that it always fits the 255 bytes a file name may have.
std::string safeClipFileName(const std::string& name);

// The safe names of an offer's files, made distinct: a name met again becomes "name (2).ext", then
// "name (3).ext", and so on, so that no two files are written to one path.
std::vector<std::string> distinctClipFileNames(const std::vector<wex::ClipFileEntry>& files);

} // namespace dovrel::controller
