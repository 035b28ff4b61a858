#pragma once

#include <memory>
#include <string>

#include <QHostAddress>

#include "agent/core/Agent.h"
#include "agent/gnome/MutterSession.h"
#include "agent/net/Transport.h"
#include "agent/shell/AgentPresenter.h"
#include "agent/shell/AppModel.h"
#include "agent/shell/DesktopBackend.h"
#include "agent/shell/LinuxSampler.h"

namespace dovrel::agent {

struct AgentGraphOptions {
    AgentSettings settings;
    // Where the local-network listeners listen and where video goes.
    TransportPorts ports;
    QHostAddress listenAddress = QHostAddress::Any;
    // Which desktop the screen, input and clipboard text go through (chooseDesktopBackend); with none,
    // or one not supported, the stand-ins (the agent still serves sessions and files).
    DesktopBackend backend;
    // GNOME's remote desktop on the session bus, for a GNOME Wayland backend.
    std::shared_ptr<MutterSession> gnome;
    // The application's QClipboard is on an X display (Xorg, or Xwayland beside a Wayland compositor):
    // clipboard files go through it.
    bool haveDisplay = false;
};

// The agent's object graph, built in one place: the concrete desktop, media, network and account
// objects behind the agent's ports, the agent, the window's model over the agent's commands and the
// presenter that words what the agent reports into it. The face (tray item, window, delegate) is built
// over model() by the caller. Create, run and destroy on the main thread.
class AgentGraph {
public:
    explicit AgentGraph(AgentGraphOptions options);
    ~AgentGraph();
    AgentGraph(const AgentGraph&) = delete;
    AgentGraph& operator=(const AgentGraph&) = delete;

    // Starts the agent, reporting to the presenter. Throws AgentError as Agent::run does.
    void run();
    // Takes the agent down in order (session closed, unfinished files deleted, listeners shut); the
    // model and presenter stay. Once the face is gone; idempotent.
    void stopAgent();

    Agent& agent() { return *agent_; }
    AppModel& model() { return *model_; }
    LinuxSampler& sampler() { return *sampler_; }
    // The link the clipboard files were made with: the agent's way to the controller and its backlog.
    const std::shared_ptr<ControllerLink>& clipFilesLink() const { return clipFilesLink_; }

private:
    std::shared_ptr<ControllerLink> clipFilesLink_;
    std::unique_ptr<Agent> agent_;
    std::shared_ptr<LinuxSampler> sampler_;
    std::unique_ptr<AppModel> model_;
    std::unique_ptr<AgentPresenter> presenter_;
};

} // namespace dovrel::agent
