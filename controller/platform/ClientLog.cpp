#include "controller/platform/ClientLog.h"

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>

namespace dovrel::controller {

namespace {
void writeLine(std::string_view prefix, std::string_view line) {
    std::string out;
    out.reserve(prefix.size() + line.size() + 1);
    out.append(prefix).append(line).push_back('\n');
    // The one budget of this process's standard error, whichever thread writes.
    static std::mutex lock;
    static LogBudget budget;
    const std::lock_guard guard(lock);
    std::string note;
    if (!budget.admit(out.size(), std::chrono::steady_clock::now(), note)) return;
    if (!note.empty()) out.insert(0, note);
    // One write per line so that lines from the client thread and the main thread never interleave.
    std::fwrite(out.data(), 1, out.size(), stderr);
    std::fflush(stderr);
}
} // namespace

bool LogBudget::admit(std::size_t bytes, Instant now, std::string& note) {
    note.clear();
    if (!started_ || now - minuteStart_ >= std::chrono::minutes(1)) {
        started_ = true;
        minuteStart_ = now;
        spent_ = 0;
    }
    if (spent_ + bytes > bytesPerMinute) {
        ++leftOut_;
        return false;
    }
    spent_ += bytes;
    if (leftOut_ > 0) {
        note = "[dovrel] • " + std::to_string(leftOut_) + " line(s) left out of this log: more came than it takes\n";
        spent_ += note.size();
        leftOut_ = 0;
    }
    return true;
}

void clientLog(std::string_view line) { writeLine("[dovrel] ", line); }

void identityLog(std::string_view line) { writeLine("[dovrel] identity: ", line); }

void clipLog(std::string_view line) { writeLine("[dovrel] clip: ", line); }

} // namespace dovrel::controller
