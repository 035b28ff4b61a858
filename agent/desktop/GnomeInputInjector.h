#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "agent/core/DesktopSession.h"
#include "agent/core/InputInjector.h"
#include "agent/gnome/MutterSession.h"
#include "runtime/Scheduler.h"
#include "runtime/SerialQueue.h"

namespace dovrel::agent {

// Injects the controller's input into GNOME's Wayland session through its remote-desktop session: the
// pointer moves absolutely on the stream of the monitor being watched, buttons are the evdev buttons,
// scrolling goes as discrete wheel steps, keys as keysyms (the compositor finds the key on its own
// keyboard map and the level, Shift included, that types it).
//
// The rules are those of the X11 injector: events run in order on the thread "dovrel.input"; the
// modifier keys alone are dropped (a lost key-up would leave one held), a key with modifier bits is a
// chord, a plain key is held until its release; F4 alone shows the app grid and Control+Up the window
// overview through the desktop session; text is typed character by character (a character the
// keyboard map lacks is dropped by the compositor); a pen is the pointer with the left button as its
// tip. `releaseAll` drops what still waits and lets go of everything held.
//
// Typed text, keys, chords and moves reach the log only when DOVREL_LOG_INPUT is set (any value).
class GnomeInputInjector final : public InputInjector {
public:
    GnomeInputInjector(std::shared_ptr<MutterSession> session, std::shared_ptr<DesktopSession> desktop,
                       const Scheduler& clock = realScheduler());
    ~GnomeInputInjector() override;
    GnomeInputInjector(const GnomeInputInjector&) = delete;
    GnomeInputInjector& operator=(const GnomeInputInjector&) = delete;

    void apply(const wex::InputEvent& event) override;
    void releaseAll() override;
    void setStreamedArea(const StreamedArea& area) override;
    std::string unavailableReason() const override;

    // Returns once every event handed over so far has reached the compositor and been handled.
    void waitIdle();

private:
    struct State;
    std::shared_ptr<MutterSession> session_;
    std::unique_ptr<State> state_; // touched only on queue_'s thread after construction
    std::atomic<uint64_t> epoch_{0};
    SerialQueue queue_{"dovrel.input"};
};

} // namespace dovrel::agent
