#pragma once

#include <functional>
#include <string>

#include <QObject>

namespace dovrel::agent {

// The end of the desktop session, where it reaches the agent other than as a stop signal: the session
// bus going away, and the X display going away. Either way the agent stops in order and ends with
// status 0, as on SIGTERM, so that a supervisor that restarts it on failure does not start it again into
// a session that is over. One per process; make it on the main thread once the Qt application exists.
class SessionEnd final : public QObject {
    Q_OBJECT
public:
    // `quit` ends the event loop, the ordinary way out; it gets what ended. `stopNow` takes the agent down
    // where it stands: Qt's X platform ends the process with exit(1) from inside the event loop the
    // moment it finds the server gone, so that there is no loop left to return to; the agent is then
    // stopped on the way out and the process ends with status 0 instead.
    SessionEnd(std::function<void(const std::string& what)> quit, std::function<void()> stopNow);
    // From here on an exit is not taken for the display's end.
    ~SessionEnd() override;
    SessionEnd(const SessionEnd&) = delete;
    SessionEnd& operator=(const SessionEnd&) = delete;

private slots:
    void busGone();

private:
    static void onExit();
    static bool displayBroken();

    std::function<void(const std::string&)> quit_;
    std::function<void()> stopNow_;
};

} // namespace dovrel::agent
