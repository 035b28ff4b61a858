#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "agent/core/DesktopSession.h"
#include "agent/core/InputInjector.h"
#include "runtime/Scheduler.h"
#include "runtime/SerialQueue.h"

namespace dovrel::agent {

// Injects the controller's input into an X display through the XTest extension.
//
// Events are handed to the injector's own thread ("dovrel.input") and injected there in order, so that
// typing a long text (which may have to wait for keyboard remaps) never holds up the network queue.
// `releaseAll` drops events still waiting from before it and then lets go of everything held.
//
// Pointer positions are pixels of the streamed picture, placed on the streamed monitor. Keys go from
// HID usage to keysym to the keycode of the live keyboard map. The modifier keys themselves are
// dropped: a lost key-up would leave one held. A key event with any modifier bits is a chord: the
// modifiers go down around one stroke of the key and up again. F4 alone shows the desktop's app grid
// and Control+Up its window overview, through the desktop session. Text is typed character by
// character, through spare keycodes for characters the map lacks. Scrolling becomes wheel clicks. A
// pen drives the pointer and the left button (XTest carries no pressure or tilt).
//
// Typed text, keys, chords and moves reach the log only when DOVREL_LOG_INPUT is set (any value): they
// could spell a password. Dropped keys and the desktop's shortcuts are logged always.
class X11InputInjector final : public InputInjector {
public:
    // Connects to `display` (empty: $DISPLAY). Without a display or the XTest extension the injector
    // logs why once and drops every event.
    explicit X11InputInjector(std::shared_ptr<DesktopSession> desktop, const std::string& display = {},
                              const Scheduler& clock = realScheduler());
    ~X11InputInjector() override;
    X11InputInjector(const X11InputInjector&) = delete;
    X11InputInjector& operator=(const X11InputInjector&) = delete;

    // Whether events reach the display.
    bool connected() const;

    void apply(const wex::InputEvent& event) override;
    void releaseAll() override;
    void setStreamedArea(const StreamedArea& area) override;
    std::string unavailableReason() const override { return unavailable_; }

    // Returns once every event handed over so far has been injected and flushed to the display.
    void waitIdle();

private:
    struct State;

    std::unique_ptr<State> state_; // touched only on queue_'s thread after construction
    std::string unavailable_;      // set at construction
    std::atomic<uint64_t> epoch_{0};
    SerialQueue queue_{"dovrel.input"};
};

} // namespace dovrel::agent
