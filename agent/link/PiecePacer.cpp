#include "agent/link/PiecePacer.h"

#include <algorithm>

#include "agent/common/Diag.h"
#include "agent/common/ThreadName.h"
#include "runtime/SignalStack.h"

namespace dovrel::agent {

void PaceSchedule::setRate(int64_t bitsPerSecond) { rate_ = std::max<int64_t>(bitsPerSecond, 0); }

Instant PaceSchedule::slot(Instant now, std::size_t bytes) {
    if (rate_ <= 0) return now;
    // The bucket is full again at due_; it holds `burst` of the rate, so a piece may leave as soon as
    // the bucket is no more than that short of full.
    const Instant at = std::max(now, due_ - burst);
    const auto cost =
        std::chrono::nanoseconds(static_cast<int64_t>(static_cast<double>(bytes) * 8e9 / static_cast<double>(rate_)));
    due_ = std::max(due_, now) + std::chrono::duration_cast<Duration>(cost);
    return at;
}

Instant PaceSchedule::lastSlot(Instant now, std::size_t bytes) const {
    if (rate_ <= 0) return now;
    const auto cost =
        std::chrono::nanoseconds(static_cast<int64_t>(static_cast<double>(bytes) * 8e9 / static_cast<double>(rate_)));
    return std::max(now, std::max(due_, now) + std::chrono::duration_cast<Duration>(cost) - burst);
}

PiecePacer::PiecePacer(Route route, Current current) : route_(std::move(route)), current_(std::move(current)) {}

PiecePacer::~PiecePacer() {
    {
        const std::lock_guard guard(lock_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void PiecePacer::setBudget(int64_t bitsPerSecond) {
    const std::lock_guard guard(lock_);
    schedule_.setRate(static_cast<int64_t>(static_cast<double>(bitsPerSecond) * aboveBudget));
}

std::size_t PiecePacer::backlog() const {
    const std::lock_guard guard(lock_);
    return waitingBytes_;
}

void PiecePacer::dropOtherSessionsUnderLock(const SendTarget& target) {
    if (waiting_.empty() || waiting_.front().target->session == target.session) return;
    Diag::add(Diag::Counter::videoDropped, static_cast<int64_t>(waiting_.size()));
    waiting_.clear();
    waitingBytes_ = 0;
    schedule_.refill();
}

bool PiecePacer::admits(const std::shared_ptr<const SendTarget>& target, std::size_t bytes, bool keyframe) {
    if (!target) return false;
    const Instant now = std::chrono::steady_clock::now();
    const std::lock_guard guard(lock_);
    dropOtherSessionsUnderLock(*target);
    return (keyframe && waiting_.empty()) || schedule_.lastSlot(now, bytes) - now <= longestWait;
}

PiecePacer::Handed PiecePacer::send(const std::shared_ptr<const SendTarget>& target, std::vector<wex::Bytes> pieces) {
    Handed out;
    if (!target || pieces.empty()) return out;
    const Instant now = std::chrono::steady_clock::now();
    const std::lock_guard guard(lock_);
    if (stopping_) {
        out.dropped = pieces.size();
        return out;
    }
    dropOtherSessionsUnderLock(*target);
    bool queued = false;
    for (auto& piece : pieces) {
        const Instant due = schedule_.slot(now, piece.size());
        const std::size_t size = piece.size();
        if (waiting_.empty() && due <= now) {
            if (route_(*target, std::move(piece))) {
                ++out.pieces;
                out.bytes += size;
            } else {
                ++out.dropped;
            }
            continue;
        }
        waiting_.push_back({target, std::move(piece), due});
        waitingBytes_ += size;
        ++out.pieces;
        out.bytes += size;
        queued = true;
    }
    if (queued) {
        if (!thread_.joinable()) thread_ = std::thread([this] { run(); });
        wake_.notify_one();
    }
    return out;
}

void PiecePacer::sendDueUnderLock(Instant now) {
    int64_t dropped = 0;
    while (!waiting_.empty() && waiting_.front().due <= now) {
        Waiting w = std::move(waiting_.front());
        waiting_.pop_front();
        waitingBytes_ -= w.piece.size();
        if (!current_(*w.target) || !route_(*w.target, std::move(w.piece))) ++dropped;
    }
    if (dropped) Diag::add(Diag::Counter::videoDropped, dropped);
}

void PiecePacer::run() {
    armSignalStack();
    nameCurrentThread("dovrel.pace");
    std::unique_lock lk(lock_);
    while (!stopping_) {
        if (waiting_.empty()) {
            wake_.wait(lk);
            continue;
        }
        const Instant due = waiting_.front().due;
        if (due > std::chrono::steady_clock::now()) {
            wake_.wait_until(lk, due);
            continue;
        }
        sendDueUnderLock(std::chrono::steady_clock::now());
    }
}

} // namespace dovrel::agent
