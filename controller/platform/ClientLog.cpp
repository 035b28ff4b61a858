#include "controller/platform/ClientLog.h"

#include <cstdio>
#include <string>

namespace dovrel::controller {

namespace {
void writeLine(std::string_view prefix, std::string_view line) {
    std::string out;
    out.reserve(prefix.size() + line.size() + 1);
    out.append(prefix).append(line).push_back('\n');
    // One write per line so that lines from the client thread and the main thread never interleave.
    std::fwrite(out.data(), 1, out.size(), stderr);
    std::fflush(stderr);
}
} // namespace

void clientLog(std::string_view line) { writeLine("[dovrel] ", line); }

void identityLog(std::string_view line) { writeLine("[dovrel] identity: ", line); }

void clipLog(std::string_view line) { writeLine("[dovrel] clip: ", line); }

} // namespace dovrel::controller
