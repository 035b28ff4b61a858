#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QString>

#include "agent/common/UniqueFd.h"
#include "runtime/SerialQueue.h"

namespace dovrel::agent {

// One monitor as the compositor lays them out, in its logical coordinates.
struct MutterMonitor {
    std::string connector; // e.g. "DP-1"
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool primary = false;
    bool operator==(const MutterMonitor&) const = default;
};

// A monitor's screen-cast stream: its object on the bus and the PipeWire node its pictures leave by.
struct MutterStream {
    MutterMonitor monitor;
    std::string path;
    uint32_t node = 0;
};

// What the clipboard of a session tells its user, on the thread "dovrel.gnome".
struct MutterClipboardEvents {
    // Someone copied: the types offered, and whether that someone is this session itself.
    std::function<void(const std::vector<std::string>& mimeTypes, bool ours)> ownerChanged;
    // A client pastes what this session offered: answer with selectionWrite(serial).
    std::function<void(const std::string& mimeType, uint32_t serial)> transfer;
};

// GNOME's remote desktop as the agent uses it, over a private connection to the session bus: one
// org.gnome.Mutter.RemoteDesktop session with an org.gnome.Mutter.ScreenCast session tied to it (so
// that the compositor asks nobody: both belong to the user's own session), recording every monitor,
// each as a stream of its own. Pointer, keyboard and clipboard go through the same session.
//
// The compositor ties a session to the connection that made it, so every call goes out on that one
// connection, from the thread "dovrel.gnome" and in the order asked: input and clipboard calls return at
// once; open(), close() and monitors() wait for the compositor and are for threads that may wait
// (capture set-up). A session the compositor ends is reported through the closed callback, once.
class MutterSession {
public:
    struct Options {
        QString busAddress; // empty: the session bus
        std::chrono::milliseconds callTimeout{5000};
    };

    static constexpr const char* remoteDesktopName = "org.gnome.Mutter.RemoteDesktop";
    static constexpr const char* screenCastName = "org.gnome.Mutter.ScreenCast";

    MutterSession();
    explicit MutterSession(Options options);
    // Stops the session and closes the connection.
    ~MutterSession();
    MutterSession(const MutterSession&) = delete;
    MutterSession& operator=(const MutterSession&) = delete;

    // Both interfaces are on the bus (watched as names come and go).
    bool offered() const { return offered_.load(); }
    // Whether the compositor's sessions have the clipboard calls; nothing before the first session.
    std::optional<bool> clipboardOffered() const;

    // The monitors now, in the compositor's order. Throws AgentError (capture).
    std::vector<MutterMonitor> monitors();
    using OnClosed = std::function<void(const std::string& why)>;
    struct Opened {
        std::vector<MutterStream> streams;
        uint64_t token = 0; // names this session to close(token)
    };
    // Ends any session of ours, then opens and starts a new one that records every monitor, and
    // returns once each stream has its PipeWire node. `onClosed` is told, on "dovrel.gnome", if the
    // compositor ends this session; never after close() or the next open(). Throws AgentError (capture).
    Opened open(OnClosed onClosed = {}, std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Stops the session of ours, if any; returns once the compositor was told.
    void close();
    // The same, only while the session now is the one `token` names: a user of an older session leaves
    // a newer one alone.
    void close(uint64_t token);
    bool isOpen() const { return open_.load(); }

    // ---- input, in the order called; dropped while no session is open
    // The pointer moves on this stream (the monitor being watched).
    void setPointerStream(const std::string& path);
    // A position in the compositor's layout of all monitors, on the pointer's stream.
    void pointerMotion(double x, double y);
    void pointerButton(int32_t evdevButton, bool pressed);
    // axis 0 vertical, 1 horizontal; positive steps go down or right.
    void pointerAxisDiscrete(uint32_t axis, int32_t steps);
    void keysym(uint32_t keysym, bool pressed);
    // A cheap call that comes back once the compositor has handled everything sent before it.
    void waitIdle();

    // ---- clipboard (each session is given the clipboard again while events are set)
    void setClipboardEvents(MutterClipboardEvents events);
    // This session owns the clipboard, offering `mimeTypes`.
    void setSelection(const std::vector<std::string>& mimeTypes);
    // The reading end of what the clipboard's owner writes in `mimeType`; an empty fd on failure.
    // `done` runs on "dovrel.gnome".
    void selectionRead(const std::string& mimeType, std::function<void(UniqueFd)> done);
    // The writing end for a transfer; an empty fd on failure. `done` runs on "dovrel.gnome".
    void selectionWrite(uint32_t serial, std::function<void(UniqueFd)> done);
    void selectionWriteDone(uint32_t serial, bool success);

    // The owner thread, for tests that wait on it.
    SerialQueue& queue() { return *queue_; }

private:
    struct State;
    std::atomic<bool> offered_{false};
    std::atomic<bool> open_{false};
    std::unique_ptr<SerialQueue> queue_;
    std::unique_ptr<State> state_; // lives on "dovrel.gnome"
};

} // namespace dovrel::agent
