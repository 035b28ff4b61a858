#pragma once

#include <functional>
#include <memory>
#include <string>

#include <QString>

#include "agent/core/SessionPipeline.h"
#include "runtime/SerialQueue.h"

namespace dovrel::agent {

struct LinuxPowerOptions {
    QString systemBusAddress; // empty: the system bus
    std::string displayName;  // empty: $DISPLAY
    int dbusTimeoutMs = 3000;
};

// Keeps a Linux desktop reachable: logind's "idle:sleep" inhibitor, held as the descriptor logind
// hands out for as long as the agent runs, keeps the machine from suspending; suspending the X
// screensaver (which also holds off DPMS) keeps the display from blanking. Rest mode lifts the
// suspension and turns the display off through DPMS; leaving rest resets the screensaver as user input
// would, which wakes the display, and suspends it again. logind's PrepareForSleep(false) says when the
// machine has woken. A failure is logged and changes nothing else: the agent works, only the machine
// may sleep. The work runs on the thread "dovrel.power"; every call returns at once.
class LinuxPowerAssertions final : public PowerAssertions {
public:
    explicit LinuxPowerAssertions(LinuxPowerOptions options = {});
    ~LinuxPowerAssertions() override;
    LinuxPowerAssertions(const LinuxPowerAssertions&) = delete;
    LinuxPowerAssertions& operator=(const LinuxPowerAssertions&) = delete;

    void hold() override;
    void restDisplay() override;
    void wakeDisplay() override;
    void setOnWake(std::function<void()> onWake) override;

    // Waits until everything asked before has been done.
    void waitIdle();
    // What is held now.
    bool sleepInhibited();
    bool displayHeld();

private:
    struct State;
    LinuxPowerOptions options_;
    std::unique_ptr<SerialQueue> queue_;
    std::unique_ptr<State> state_; // lives on "dovrel.power"
};

} // namespace dovrel::agent
