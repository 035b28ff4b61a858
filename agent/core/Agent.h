#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QObject>

#include "agent/common/LogThrottle.h"
#include "agent/core/AccountSlot.h"
#include "agent/core/AgentObserver.h"
#include "agent/core/AgentTransport.h"
#include "agent/core/ClipFiles.h"
#include "agent/core/ClipboardSync.h"
#include "agent/core/DelayedRefusal.h"
#include "agent/core/DesktopSession.h"
#include "agent/core/FileReceiver.h"
#include "agent/core/InputInjector.h"
#include "agent/core/PairingCodeWindow.h"
#include "agent/core/PairingPause.h"
#include "agent/core/PairingPublisher.h"
#include "agent/core/QuietController.h"
#include "agent/core/RegionProbe.h"
#include "agent/core/RelayConfig.h"
#include "agent/core/SecurityStore.h"
#include "agent/core/SessionMedia.h"
#include "agent/core/SessionPipeline.h"
#include "agent/core/SessionServices.h"
#include "agent/core/WakeEmitter.h"
#include "agent/core/WakeRequests.h"
#include "protocol/AgentHandshakeMachine.h"
#include "protocol/LANInterface.h"
#include "runtime/Scheduler.h"

namespace dovrel::agent {

// The network side and the desktop services the agent drives, handed in at construction so that tests
// can use fakes. The first ten are required; the others may be left empty.
struct AgentServices {
    // Makes the clipboard files over the agent's link to the controller (its sends and its backlog).
    using MakeClipFiles = std::function<std::unique_ptr<AgentClipFiles>(std::shared_ptr<ControllerLink> link)>;

    // The listeners and the relay link, the client slot and the session's media route.
    std::unique_ptr<AgentTransport> transport;
    // The race for the nearest relay region, and this machine's addresses for the pairing link.
    std::unique_ptr<RelayRegions> regions;
    std::unique_ptr<LocalAddress> localAddress;
    std::unique_ptr<InputInjector> injector;
    // Makes the clipboard text sync over the agent's sending of local text to the controller.
    std::function<std::unique_ptr<ClipboardSync>(ClipboardSync::SendText send)> clipboard;
    // Makes the receiver of the controller's files over the agent's progress report and refusal.
    std::function<std::unique_ptr<FileReceiver>(FileReceiver::Progress progress, FileReceiver::Refusal refusal)> fileRx;
    MakeClipFiles clipFiles;
    // Makes the account work (grants, share codes, sign-in) once start-up knows the device identifier;
    // `config` is the agent's relay.json.
    std::function<std::unique_ptr<AccountWork>(AccountHost& host, RelayConfig& config)> accounts;
    std::unique_ptr<WakeEmitter> wakeEmitter;
    std::shared_ptr<DesktopSession> desktop;   // shared with the injector (F4, Control+Up)
    std::unique_ptr<SessionPipeline> pipeline; // none: nothing is captured or streamed
    std::shared_ptr<PowerAssertions> power;    // none: the machine sleeps as it would; shared with the pipeline
    // The interfaces a wake packet may leave on; empty: this machine's.
    std::function<std::vector<wex::LANInterface>()> lanInterfaces;
};

struct AgentSettings {
    std::string stateDirectory;  // identity and paired keys (~/.dovrel)
    std::string configDirectory; // relay.json
    // The name controllers see; empty: the host's name.
    std::string deviceName;
};

// The hub of the agent: owns the transport, the identity store and the desktop services, runs the
// handshake and the control dispatch on "dovrel.net", tells its observer what happened on the main
// thread and takes the face's commands there. Create and destroy it on the main thread.
class Agent final : public AgentCommands {
public:
    Agent(AgentServices services, AgentSettings settings);
    ~Agent() override;
    Agent(const Agent&) = delete;
    Agent& operator=(const Agent&) = delete;

    // Starts everything network-facing, logs the banner and publishes the pairing link; the agent then
    // lives on the event loops and reports to `observer`, which outlives it. Throws AgentError when the
    // listeners cannot be opened: the caller then ends the process (exitFatally).
    void run(AgentObserver& observer);

    // Rebuilds the pairing link from the current code, address and relay. Main thread.
    void refreshPairingURL();

    // The face's commands; main thread.
    void disconnectSession() override;
    void newGrant(double ttlHours) override;
    void cancelAllAccess() override;
    void createShareCode() override;
    void signIn(const std::string& account, const std::string& password, bool create,
                const std::string& invite) override;
    void signOut() override;
    void refreshPairingLink() override { refreshPairingURL(); }
    void pairingCodeShown(bool shown) override;
    void newPairingCode() override;

    // Video and audio go to the client; read by the capture pipeline from any thread.
    bool streaming() const { return media_.streaming(); }
    // The current pairing code; any thread.
    std::string pairingCode() const { return security_.pairingCode(); }

    AgentTransport& transport() { return *transport_; }
    const std::string& deviceId() const { return pairing_.device().id; }
    // The local-network listeners run (set by run()).
    bool lanEnabled() const { return pairing_.device().lanEnabled; }

private:
    // Transport callbacks, on "dovrel.net".
    void sessionEnded();
    void clientConnected(const std::string& host);
    void handleInput(const wex::InputBatch& batch);
    PipelineHost pipelineHost();

    // Handshake and authentication (AgentHandshake.cpp).
    void handleHello(wex::ByteView payload);
    void handleAuth(wex::ByteView payload);
    void pairByCode(const wex::Bytes& clientStaticPub);
    // A wrong pairing code was checked at `now`: ten within an hour pause pairing by code.
    void countWrongCode(Instant now);
    // Draws a new pairing code and says why in `logLine`: the link is rebuilt and, when signed in, a share
    // code made for it.
    void rotatePairingCode(const std::string& logLine);
    // On a terminal the code is read off it: printed at start and each time it changes, it counts as
    // shown then, like the window. Any thread.
    void showCodeOnTerminal(const std::string& code);
    void admit(const wex::AgentHandshakeMachine::Admit& admission);
    void refuse(const wex::AgentHandshakeMachine::Refuse& refusal);

    // Control dispatch (AgentDispatch.cpp).
    void handleControl(const wex::CommonHeader& header, const wex::Bytes& payload);
    void dispatch(wex::ControlType type, const wex::Bytes& payload);
    void handleSessionCommand(wex::ByteView payload);
    void lockWorkstation(uint16_t reqId);
    void handleUnpair();

    void onMain(std::function<void()> fn);
    SessionServices makeSessionServices(AgentServices& services);
    void startAccounts();
    // Asks for a share code for the link now shown, only when signed in (`force`: wait for a request
    // already running instead of giving way to it).
    void requestShareCode(bool force);
    // The pairing link's account-and-grant suffix, or empty.
    std::string grantQuery(const wex::RelayIdentity& relay) const;
    Scheduler& clock() { return transport_->scheduler(); }
    std::string fingerprint(wex::ByteView key) const;

    AgentObserver* observer_ = nullptr; // set by run(); main thread
    const bool onTerminal_;             // standard output is a terminal, not a log file
    AgentSettings settings_;
    std::unique_ptr<QObject> mainContext_; // posts to the main thread die with the agent
    RelayConfig relayConfig_;

    std::unique_ptr<AgentTransport> transport_;
    // The race for the nearest relay region; stopped first when the agent goes.
    RegionProbe regionProbe_;
    // The pairing link and who this computer is in it: set by run(), rebuilt on the main thread.
    PairingPublisher pairing_;
    // Grants, share codes and sign-in, made in run() once the device identifier is known.
    AccountSlot accounts_;
    std::unique_ptr<InputInjector> injector_;
    SecurityStore security_;
    // Owned by "dovrel.net": the handshake in progress, the refusal streak and the pairing-code gate.
    wex::AgentHandshakeMachine handshake_{security_.identity()};
    // Owned by "dovrel.net": whether a code proof counts now (the code is shown, was lately, or a share
    // code hands it out), and whether guessing has paused pairing by code.
    PairingCodeWindow codeWindow_;
    PairingPause codePause_;
    // Clipboard text and files, received files: started with a full session, stopped at its end.
    SessionServices session_;
    std::shared_ptr<DesktopSession> desktop_;
    std::shared_ptr<PowerAssertions> power_;

    // Lines a peer without a session can cause (connections, Hellos, refusals, dropped frames).
    LogThrottle strangerLines_{clock(), "peers without a session"};
    // Refusals come at most one per connection, paced by the back-off, but connections are cheap.
    LogThrottle refusalLines_{clock(), "refused handshakes"};

    // Owned by "dovrel.net".
    bool stopping_ = false; // the agent is going: late answers of other threads are dropped
    wex::Bytes sessionPeerPub_;
    std::string peerHost_; // the address of the last controller that came on the local network
    DelayedRefusal refusal_{*transport_, clock()};
    WakeRequests wakeRequests_;
    // A session's controller that stops sending holds nothing down any more.
    QuietController quiet_;
    // Picture and sound of the session; its pipeline's threads stop before the transport goes.
    SessionMedia media_;
};

} // namespace dovrel::agent
