#pragma once

#include <functional>
#include <memory>
#include <optional>

#include <QDateTime>
#include <QObject>
#include <QThreadPool>

#include "agent/shell/AppModel.h"
#include "agent/shell/LatestResult.h"
#include "agent/shell/RefreshSource.h"
#include "runtime/Scheduler.h"

namespace dovrel::agent {

// Puts the agent's window on the screen: built once, then reused; raised and activated on every call.
class WindowPresenter {
public:
    virtual ~WindowPresenter() = default;
    virtual void present() = 0;
};

struct DelegateActions {
    // Rebuilds the pairing link after the local address changed (the agent's). Main thread.
    std::function<void()> refreshPairingURL;
    // The periodic self-check; runs on a worker thread and logs only what is wrong.
    std::function<void()> selfCheck;
    // The wall clock, against which a share code's expiry is read.
    std::function<QDateTime()> wallClock;
};

// The application's upkeep on the main thread: every 2 s the permissions, the overlay-network address
// and the local address (rebuilding the pairing link when it changed); a self-check every 30 minutes;
// the window 1 s after launch and whenever a second copy asks for it or the tray item is clicked.
// Probes run off the main thread and each publishes in one step; a newer answer is never overwritten by
// an older one.
class AppDelegate : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::seconds refreshEvery{2};
    static constexpr std::chrono::seconds selfCheckEvery{1800};
    static constexpr std::chrono::seconds firstShowAfter{1};

    AppDelegate(AppModel& model, Scheduler& clock, RefreshSource& source, WindowPresenter& window,
                DelegateActions actions, QObject* parent = nullptr);
    ~AppDelegate() override;

    // Samples once at once and starts the timers; `withWindow` (there is a display): also shows the
    // window 1 s from now and whenever a second copy asks.
    void start(bool withWindow);
    // What every way of opening the window does: asks for a share code when there is none or it has
    // expired, refreshes the wake row and the overlay address, and presents the window.
    void showWindow();
    // One turn of the 2 s refresh.
    void refresh();
    // Blocks until the probes now running have finished; their results are then queued for the main
    // thread (for a caller that must know every answer has arrived, such as a test).
    void waitForProbes();

private:
    struct Sample {
        DesktopAccess access;
        QString overlayIP;
        std::optional<QString> lanIP; // sampled only once the pairing code exists
    };
    struct WakeSample {
        std::optional<bool> wake;
        std::optional<bool> battery;
    };
    void apply(const Sample& sample);

    AppModel& model_;
    Scheduler& clock_;
    RefreshSource& source_;
    WindowPresenter& window_;
    DelegateActions actions_;
    std::unique_ptr<Timer> refreshTimer_;
    std::unique_ptr<Timer> selfCheckTimer_;
    std::unique_ptr<Timer> firstShow_;
    QThreadPool selfCheckPool_;
    LatestResult<Sample> samples_;
    LatestResult<WakeSample> wakeSamples_;
};

} // namespace dovrel::agent
