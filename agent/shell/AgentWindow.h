#pragma once

#include <memory>

#include <QQuickView>

#include "agent/shell/AgentWindowModel.h"
#include "agent/shell/AppDelegate.h"

namespace dovrel::agent {

// The agent's window "DOVRELÆ - Pair your device": 320 × 640, fixed, above other windows, centred on
// first show, hidden (not destroyed) when closed and shown again with its content as it was. With a
// tray item it stays out of the taskbar; without one it keeps a taskbar entry, since nothing else
// would lead back to it. Main thread.
class AgentWindow final : public WindowPresenter {
public:
    static constexpr int width = 320;
    static constexpr int height = 640;

    AgentWindow(AgentWindowModel& model, bool trayShown);
    ~AgentWindow() override;

    void present() override;
    // Nothing until the first present().
    QQuickView* view() const { return view_.get(); }

    // Where the window's QML lies among the program's resources.
    static const char* const source;
    // Makes the types the window's QML uses known to the QML engine and chooses how windows are drawn
    // (once per process, before the first window).
    static void registerTypes();

private:
    void build();

    AgentWindowModel& model_;
    bool trayShown_;
    std::unique_ptr<QQuickView> view_;
    // Bounds the view's connections to this object: it goes first, so the view hiding as it is
    // destroyed tells nobody.
    QObject context_;
};

} // namespace dovrel::agent
