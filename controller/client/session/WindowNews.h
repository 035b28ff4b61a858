#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <utility>

#include "controller/client/session/ControlDispatch.h"
#include "protocol/ControlMessages.h"
#include "protocol/FileMessages.h"

namespace dovrel::controller {

// What the agent's messages change in the window, on its way from the client thread to the main
// thread. State the window shows (the display list, the machine's figures, clipboard text, the agent's
// last error, the files on offer, the latency) keeps only its newest value, and one hop carries all
// that waits: a burst of any size costs one value of each kind and one event. The clipboard-file
// requests and pieces, which are not state but steps, are bounded instead: beyond `maxPulls` waiting
// requests or `maxDataBytes` waiting bytes, more are dropped (a file that loses a piece is then
// incomplete and is not received). Any thread.
class WindowNews {
public:
    static constexpr int maxPulls = 256;
    static constexpr int64_t maxDataBytes = int64_t{32} << 20;

    struct Latest {
        std::optional<ControlDispatch::AgentError> error;
        std::optional<ControlDispatch::Displays> displays;
        std::optional<wex::DeckStat> deckStat;
        std::optional<ControlDispatch::ClipboardText> clipboard;
        std::optional<wex::ClipFilesOffer> offer;
        std::optional<int> latencyMs;
    };

    // Client thread. Each keeps `value` as the newest of its kind; true when the caller should send one
    // hop that takes what waits (none is on its way yet).
    bool keep(ControlDispatch::AgentError value) { return store(&Latest::error, std::move(value)); }
    bool keep(ControlDispatch::Displays value) { return store(&Latest::displays, std::move(value)); }
    bool keep(const wex::DeckStat& value) { return store(&Latest::deckStat, value); }
    bool keep(ControlDispatch::ClipboardText value) { return store(&Latest::clipboard, std::move(value)); }
    bool keep(wex::ClipFilesOffer value) { return store(&Latest::offer, std::move(value)); }
    bool keepLatency(int ms) { return store(&Latest::latencyMs, ms); }
    // Main thread: everything that waits; the next keep asks for a hop again.
    Latest take();

    // Client thread: whether one more request, or piece of `bytes`, may wait; each admitted one is
    // released on the main thread once handled.
    bool admitPull();
    bool admitData(int64_t bytes);
    void pullDone() { pulls_.fetch_sub(1); }
    void dataDone(int64_t bytes) { dataBytes_.fetch_sub(bytes); }

private:
    template <class T, class V> bool store(std::optional<T> Latest::*slot, V&& value) {
        const std::lock_guard g(lock_);
        latest_.*slot = std::forward<V>(value);
        return !std::exchange(hopPending_, true);
    }

    std::mutex lock_;
    Latest latest_;
    bool hopPending_ = false;
    std::atomic<int> pulls_{0};
    std::atomic<int64_t> dataBytes_{0};
};

} // namespace dovrel::controller
