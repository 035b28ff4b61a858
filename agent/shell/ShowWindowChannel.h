#pragma once

#include <chrono>
#include <memory>
#include <string>

#include <QObject>

#include "agent/common/UniqueFd.h"

class QLocalServer;

namespace dovrel::agent {

// How a second copy of the agent asks the running one to bring its window forward: a local socket
// named "com.quendal.dovrel.agent.showWindow" in the user's runtime directory. The second copy
// connects and sends one request line; the running copy signals it to the window.

inline constexpr const char* showWindowName = "com.quendal.dovrel.agent.showWindow";

// $XDG_RUNTIME_DIR/com.quendal.dovrel.agent.showWindow; without a runtime directory the socket lives in
// `stateDirectory` (~/.dovrel, private to the user) instead.
std::string showWindowSocketPath(const std::string& stateDirectory);

// The second copy's side: sends the request to the copy listening at `socketPath`, trying again for up
// to `patience` while nobody listens yet (the first copy may be a moment away from listening). True
// when the request was handed over.
bool requestShowWindow(const std::string& socketPath,
                       std::chrono::milliseconds patience = std::chrono::milliseconds(2000));

// The running copy's socket, bound and listening at once so that requests made while the agent is
// still starting wait in the socket's queue. A stale socket file of an earlier run is replaced.
// Invalid when the socket cannot be made.
UniqueFd listenForShowWindow(const std::string& socketPath);

// Serves the listening socket on the main thread's event loop; `requested` fires once per request.
class ShowWindowServer : public QObject {
    Q_OBJECT
public:
    // Takes over `listening` (from listenForShowWindow). Needs the Qt application.
    explicit ShowWindowServer(UniqueFd listening, QObject* parent = nullptr);
    ~ShowWindowServer() override;
    bool listening() const;

signals:
    void requested();

private:
    void accept();
    std::unique_ptr<QLocalServer> server_;
};

} // namespace dovrel::agent
