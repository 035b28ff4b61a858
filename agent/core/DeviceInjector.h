#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "agent/core/DesktopSession.h"
#include "agent/core/InputDevice.h"
#include "agent/core/InputInjector.h"
#include "runtime/Scheduler.h"
#include "runtime/SerialQueue.h"

namespace dovrel::agent {

// The injector of every desktop backend: the rules of the controller's input, acted out through one
// `InputDevice`. A backend supplies the device; everything below is the same on all of them.
//
// Events are handed to the injector's own thread ("dovrel.input") and acted out there in order, so that
// typing a long text never holds up the network queue. `releaseAll` drops what is still waiting from
// before it (typed text included, between two characters) and lets go of everything held.
//
// Held keys. Modifier keys (usages 0xE0-0xE7) are pressed and released as sent, so a click, a drag or a
// scroll while one is held carries it, and typed text with Alt held reaches an application as Alt and
// the letter. A lost key-up must never leave one held, so every key event's modifier byte is taken as
// what the controller holds: before the key, held modifier keys whose bit the byte lacks are let go
// of. A controller that never reports its modifiers in that byte (its modifier keys come with a byte
// of 0) is not second-guessed: the byte counts from the first modifier press that carries its own bit,
// for the rest of the session. Everything held is let go of when the session ends, the controller
// changes, the controller goes quiet or the agent leaves rest (`releaseAll`, `releaseHeld`).
//
// Other keys: a key whose byte names modifiers is a chord, one stroke at its press with the modifiers
// it names that are not already held pressed around it (bits that name no modifier press nothing); a
// key without is held until its release, which lets go of it whatever modifiers the release carries.
// F4 with nothing held shows the desktop's app grid and Control+Up its window overview, through the
// desktop session. Scrolling becomes wheel clicks (`ScrollAccumulator`). A pen drives the pointer and the
// left button.
//
// Typed text, keys, chords and moves reach the log only when DOVREL_LOG_INPUT is set (any value): they
// could spell a password. Buttons, scrolls, dropped keys and the desktop's shortcuts are logged always.
class DeviceInjector final : public InputInjector {
public:
    DeviceInjector(std::unique_ptr<InputDevice> device, std::shared_ptr<DesktopSession> desktop,
                   const Scheduler& clock = realScheduler());
    ~DeviceInjector() override; // drops what waits and lets go of everything held
    DeviceInjector(const DeviceInjector&) = delete;
    DeviceInjector& operator=(const DeviceInjector&) = delete;

    // Whether events reach the desktop.
    bool connected() const;

    void apply(const wex::InputEvent& event) override;
    void releaseAll() override;
    void releaseHeld() override;
    void setStreamedArea(const StreamedArea& area) override;
    std::string unavailableReason() const override { return unavailable_; }

    // Returns once every event handed over so far is acted out and handled by the desktop.
    void waitIdle();

private:
    struct Rules;

    std::unique_ptr<Rules> rules_; // touched only on queue_'s thread after construction
    std::string unavailable_;      // set at construction
    std::atomic<uint64_t> epoch_{0};
    SerialQueue queue_{"dovrel.input"};
};

} // namespace dovrel::agent
