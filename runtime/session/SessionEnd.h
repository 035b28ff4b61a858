#pragma once

#include <functional>
#include <string>

#include <QObject>

namespace dovrel {

// The end of the desktop session, where it reaches a program other than as a stop signal: the session
// bus going away, and the display going away (the X server, or the Wayland compositor). Either way the
// program stops and ends with status 0, as on SIGTERM, so that a supervisor that restarts it on failure
// does not start it again into a session that is over, and no crash is left behind. One per process;
// make it on the main thread once the Qt application exists, and keep it while anything draws.
class SessionEnd final : public QObject {
    Q_OBJECT
public:
    // `quit` ends the event loop, the ordinary way out; it gets what ended. `stopNow` is for the end of
    // the display, where the toolkit leaves no loop to return to (see DisplayLoss.h): it runs once, on the
    // main thread (or, when that one is held up waiting for the thread that found the end, on that
    // thread), and takes down only what must not be left behind (a session's links), touching nothing
    // that draws; the process then ends with status 0 without running destructors.
    SessionEnd(std::function<void(const std::string& what)> quit, std::function<void(const std::string& what)> stopNow);
    // From here on the display's end is the toolkit's again.
    ~SessionEnd() override;
    SessionEnd(const SessionEnd&) = delete;
    SessionEnd& operator=(const SessionEnd&) = delete;

private slots:
    void busGone();

private:
    std::function<void(const std::string&)> quit_;
};

} // namespace dovrel
