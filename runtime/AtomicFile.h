#pragma once

#include <string>
#include <sys/types.h>

#include "protocol/Bytes.h"

namespace dovrel {

// Writes `data` to a temporary file beside `path`, sets `mode`, flushes it to disk and renames it over
// `path`, so that readers see the old file or the new one, never half of one. A file holding a key or
// a token is never readable by others, not even for a moment. Returns an empty string on success, else
// what failed.
std::string writeFileAtomically(const std::string& path, wex::ByteView data, mode_t mode = 0600);

// The whole file, or nothing when it cannot be read.
bool readWholeFile(const std::string& path, wex::Bytes& out);

} // namespace dovrel
