#pragma once

#include <memory>

#include "agent/core/ClipboardSync.h"
#include "runtime/Scheduler.h"

namespace dovrel::agent {

// Keeps clipboard text in step with the controller through the application's QClipboard (the xcb
// platform shares it with every X client). Everything runs on the main thread: the calls queue their
// work there and return at once. The clipboard is looked at every 0.6 s and read only when Qt has
// seen it change; the text a controller sent last is never sent back, not even when copied again here
// later or in a later session.
class QtClipboardSync final : public ClipboardSync {
public:
    static constexpr Duration pollInterval = std::chrono::milliseconds(600);

    // Create and destroy on the main thread. `send`: where local text goes while watching, on the main
    // thread; `scheduler` makes the poll's timer there.
    explicit QtClipboardSync(SendText send, Scheduler& scheduler = realScheduler());
    ~QtClipboardSync() override;
    QtClipboardSync(const QtClipboardSync&) = delete;
    QtClipboardSync& operator=(const QtClipboardSync&) = delete;

    void start() override;
    void stop() override;
    void applyRemote(const std::string& text) override;

private:
    struct State;
    std::shared_ptr<State> state_;
};

} // namespace dovrel::agent
