#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QObject>
#include <QSizeF>
#include <QString>
#include <QVariant>

#include "controller/client/input/InputChannel.h"
#include "controller/client/link/ClientSecurity.h"
#include "controller/client/link/SessionChannel.h"
#include "controller/client/session/ClientConfig.h"
#include "controller/client/session/Phase.h"
#include "controller/client/session/StoredRelayAccount.h"
#include "controller/client/unpair/UnpairOutcome.h"
#include "controller/client/video/VideoSurface.h"
#include "protocol/ControlMessages.h"
#include "protocol/FileMessages.h"
#include "runtime/SerialQueue.h"

namespace dovrel::controller {

class ClientCore;
class VideoDecoder;

// Options of a connection through the relay: the agent's identifier (its room), the machine's name
// for texts, and the relay credentials a pairing link or the saved machine carries.
struct RelayDial {
    std::string room;
    std::string name;
    std::optional<std::string> account;
    std::optional<std::string> token;
    std::optional<std::string> relay; // "host:port"
};

// The controller's end of one remote session at a time, for one window. Its published fields are
// Qt properties, written only on the main thread; the protocol work (links, framing, handshake,
// watchdogs) runs on its own "dovrel.client" thread. Every public operation is called on the main
// thread and returns at once; its effects follow on the client thread in call order.
class WEXClient : public QObject, public InputChannel, public SessionChannel, public FileTransferReport {
    Q_OBJECT
    Q_PROPERTY(QString status READ status NOTIFY statusChanged)
    Q_PROPERTY(bool hasFirstFrame READ hasFirstFrame NOTIFY hasFirstFrameChanged)
    Q_PROPERTY(QSizeF remoteSize READ remoteSize NOTIFY remoteSizeChanged)
    Q_PROPERTY(dovrel::controller::PhaseKind phase READ phaseKind NOTIFY phaseChanged)
    Q_PROPERTY(QString phaseMessage READ phaseMessage NOTIFY phaseChanged)
    Q_PROPERTY(int latencyMs READ latencyMs NOTIFY latencyMsChanged)
    Q_PROPERTY(int fps READ fps NOTIFY fpsChanged)
    Q_PROPERTY(bool reconnecting READ reconnecting NOTIFY reconnectingChanged)
    Q_PROPERTY(QString reconnectReason READ reconnectReason NOTIFY reconnectingChanged)
    Q_PROPERTY(QVariantList displays READ displaysForView NOTIFY displaysChanged)
    Q_PROPERTY(int streamingDisplay READ streamingDisplay NOTIFY streamingDisplayChanged)
    Q_PROPERTY(bool audioMuted READ audioMuted NOTIFY audioMutedChanged)
    Q_PROPERTY(QVariant deckStat READ deckStatForView NOTIFY deckStatChanged)
    Q_PROPERTY(QVariant fileProgress READ fileProgressForView NOTIFY fileProgressChanged)
    Q_PROPERTY(QVariant lastAgentError READ lastAgentErrorForView NOTIFY lastAgentErrorChanged)
    Q_PROPERTY(QString agentDeviceId READ agentDeviceId NOTIFY agentDeviceIdChanged)
    Q_PROPERTY(QString pictureRefusal READ pictureRefusal NOTIFY pictureRefusalChanged)
    Q_PROPERTY(bool linkTooSlow READ linkTooSlow NOTIFY linkTooSlowChanged)
    Q_PROPERTY(QString targetKind READ targetKind WRITE setTargetKind NOTIFY targetKindChanged)
    Q_PROPERTY(bool sessionViaRelay READ sessionViaRelay NOTIFY sessionWayChanged)
    Q_PROPERTY(int videoPort READ videoPort NOTIFY sessionWayChanged)

public:
    // `relayAccount`: the signed-in account, for relay dials whose link names none.
    WEXClient(ClientConfig config, std::shared_ptr<const StoredRelayAccount> relayAccount, QObject* parent = nullptr);
    ~WEXClient() override;

    // Dials the agent at `host` ("host", "host:port" or "[v6]:port") on the local network. A pairing
    // code typed or carried by a link goes with the call, so the handshake sees exactly this code.
    Q_INVOKABLE void connectToHost(const QString& host, const QString& code = {});
    // Dials a machine called `name` on the local network at `host`; with `relay`, through the relay
    // instead when the host does not answer. A host that answers but refuses says at once that DOVRELÆ
    // does not run there.
    void connectToMachine(const QString& host, const QString& name, const std::optional<RelayDial>& relay,
                          const QString& code = {});
    // Dials the agent whose identifier is `dial.room` through the relay.
    void connectViaRelay(const RelayDial& dial, const std::string& code = {});
    Q_INVOKABLE void connectViaRelay(const QString& room, const QString& name, const QString& code = {});
    // Ends the session: says bye when one exists, closes every link, stops every re-dial. Whatever
    // `sessionEnding` makes is sent before the bye.
    Q_INVOKABLE void disconnectSession();
    // The display is gone and the process ends where it stands: the bye is said and the links are
    // closed before this returns, and nothing is asked of the window.
    void disconnectSessionNow();
    // The user gave up on entering the code: stop dialling this machine.
    Q_INVOKABLE void cancelPairing();
    // Unpairs the machine whose agent is `deviceId`: when a key is trusted for it, connects as a session
    // with it would (at `host` on the local network, through `relay` when the host does not answer;
    // through `relay` alone without a host) and tells the agent to forget this controller.
    // `done` hears how it ended: told; the agent had forgotten this computer already; the address
    // refused the connection (DOVRELÆ not running there); another connect came first; or nothing
    // answered within 15 s, something else answered or refused. The key is forgotten locally in every
    // case. Without a trusted key only the local trust goes and `done` is not called.
    void revokePairing(const std::string& deviceId, const std::string& host, const std::string& name,
                       const std::optional<RelayDial>& relay, std::function<void(UnpairOutcome)> done);
    // A demo session without any network.
    Q_INVOKABLE void startDemo();

    // The remote picture's size for pointer mapping; 1280 x 720 before the first frame.
    QSizeF remoteBounds() const;

    // The surface the session's pictures go to, held weakly; a new one shows the newest picture of the
    // session at once, however long before it came. Any thread.
    void attachVideoSurface(const std::shared_ptr<VideoSurface>& surface);
    // Pictures decoded and handed to a surface so far. Any thread.
    uint64_t displayedFrames() const;
    // The agent's clock minus ours, in microseconds, once a ping came back. Any thread.
    std::optional<int64_t> agentClockOffsetUs() const;
    // How old, in microseconds, a picture with this video time stamp is at `now`; nothing before the
    // first ping came back. Any thread.
    std::optional<int64_t> pictureAgeUs(uint32_t ptsUs, Instant now) const;

    // Input and commands (InputChannel); see RemoteInput for the operations built on them.
    uint64_t inputSession() const override { return inputSession_.load(); }
    void sendInputPayload(uint64_t session, wex::Bytes payload) override;
    void sendSessionCommand(uint64_t session, wex::SessionCmd command) override;
    Q_INVOKABLE void switchDisplay(int index) override;
    void showStatus(const QString& status) override { publishStatus(status); }

    // Mutes or unmutes the remote sound here; muting stops what plays, unmuting starts with the next
    // sound that arrives.
    Q_INVOKABLE void toggleAudio();

    // The session as the clipboard and file services use it (any thread; effects on the client thread).
    void sendControl(wex::ControlType type, wex::Bytes payload) override;
    void currentSession(std::function<void(SessionRef)> reply) override;
    void sendInSession(SessionRef session, wex::ControlType type, wex::Bytes payload,
                       std::function<void(bool sent)> done) override;
    // A file transfer's progress and failure, shown as `fileProgress` and `lastAgentError` (main thread).
    void showFileProgress(std::optional<double> progress) override;
    void showFileFailure(const std::string& text) override;
    void showFileSent(const std::string& name) override;

    // Published state.
    QString status() const { return status_; }
    bool hasFirstFrame() const { return hasFirstFrame_; }
    QSizeF remoteSize() const override { return remoteSize_; }
    const Phase& phase() const { return phase_; }
    PhaseKind phaseKind() const { return phase_.kind; }
    QString phaseMessage() const { return QString::fromStdString(phase_.message); }
    // What of the dial a refusal says was wrong.
    RefusedPart refusedPart() const { return phase_.refused; }
    int latencyMs() const { return latencyMs_; }
    int fps() const override { return fps_; }
    bool reconnecting() const { return reconnecting_; }
    // While reconnecting, why the session's computer does not take it back when that is known (its
    // agent stopped); empty otherwise.
    QString reconnectReason() const { return reconnectReason_; }
    const std::vector<wex::DisplayInfo>& displays() const { return displays_; }
    QVariantList displaysForView() const;
    int streamingDisplay() const { return streamingDisplay_; }
    bool audioMuted() const { return audioMuted_; }
    const std::optional<wex::DeckStat>& deckStat() const { return deckStat_; }
    QVariant deckStatForView() const;
    std::optional<double> fileProgress() const { return fileProgress_; }
    QVariant fileProgressForView() const;
    std::optional<std::string> lastAgentError() const { return lastAgentError_; }
    QVariant lastAgentErrorForView() const;
    // The session window dismissed the agent's last error.
    Q_INVOKABLE void clearLastAgentError();
    // The identifier of the agent of the last authenticated session (its relay room): a machine paired
    // on the local network keeps it so that it can be unpaired later.
    QString agentDeviceId() const { return agentDeviceId_; }
    // Why the session's pictures are not shown when the agent sends ones this computer refuses to
    // decode; empty otherwise.
    QString pictureRefusal() const { return pictureRefusal_; }
    // Before the session's first picture: pieces of pictures arrive, but for seconds no keyframe whole.
    bool linkTooSlow() const { return linkTooSlow_; }
    // "mac", "windows" or "linux", or empty while the kind of machine is not known.
    QString targetKind() const { return targetKind_; }
    void setTargetKind(const QString& kind);
    bool targetIsWindows() const { return targetKind_ == QLatin1String("windows"); }
    // How the last established session reached its agent: through the relay, or on the local network
    // with its picture arriving on UDP `videoPort`.
    bool sessionViaRelay() const { return sessionViaRelay_; }
    int videoPort() const { return videoPort_; }

    ClientSecurity& security() { return *security_; }
    // Set when the keychain could not give back this computer's identity: sessions go with a
    // throwaway key, so machines ask for their pairing code. What the keychain said.
    const std::optional<QString>& identityProblem() const { return identityProblem_; }
    // Runs `fn` on the client thread and waits for it (tests: a fake clock advances there).
    void runOnClientThread(const std::function<void(ClientCore&)>& fn);

signals:
    void statusChanged();
    void hasFirstFrameChanged();
    void remoteSizeChanged();
    void phaseChanged();
    void latencyMsChanged();
    void fpsChanged();
    void reconnectingChanged();
    void displaysChanged();
    void streamingDisplayChanged();
    void audioMutedChanged();
    void deckStatChanged();
    void fileProgressChanged();
    void lastAgentErrorChanged();
    void agentDeviceIdChanged();
    void pictureRefusalChanged();
    void linkTooSlowChanged();
    void targetKindChanged();
    void sessionWayChanged();
    // A file sent to the agent arrived whole.
    void fileSent(const QString& name);
    void identityProblemChanged();
    // A session was established (after AuthOk), just before the phase says so.
    void sessionEstablished();
    // The user ends the session or dials anew: input still held should be let go of now.
    void sessionEnding();
    // The user's disconnect has closed the session's links (the time tracker ends its session here).
    void sessionEnded();
    // Bytes received over the session's links since the last report, once a second (for the usage meter).
    void receivedBytes(qint64 bytes);
    // Clipboard text the agent sent (never empty).
    void remoteClipboardText(const std::string& text);
    // The session's clipboard-file messages: the agent's offer of the files on its clipboard, its request
    // for a file this computer offered, and a piece of a file it sends.
    void clipFilesOffered(uint32_t generation, const std::vector<wex::ClipFileEntry>& files);
    void clipFilePulled(uint32_t generation, uint8_t index);
    void clipFileDataArrived(uint32_t generation, uint8_t index, uint64_t offset, const wex::Bytes& data, bool last);
    // The agent reported an error (also published as `lastAgentError`).
    void agentErrorReceived(const wex::ErrorMsg& message);

private:
    friend class ClientCore;
    // Tests and the screens' renderer set published fields without a session (tests/controller).
    friend class WEXClientTestAccess;
    // Main-thread writers of the published fields; the client thread posts them.
    void publishStatus(const QString& s);
    void publishPhase(const Phase& p);
    void publishReconnecting(bool on);
    // Reconnecting, for `reason` (empty: none known), when a session stood or is being re-dialled
    // already; nothing otherwise.
    void publishReconnectingIfConnected(const QString& reason);
    // A new reason for a re-dial under way (empty: none known any more); nothing while none is.
    void publishReconnectReason(const QString& reason);
    void publishFps(int fps);
    void publishLatencyMs(int ms);
    void publishHasFirstFrame(bool on);
    void publishRemoteSize(const QSizeF& size);
    void publishAgentDeviceId(const QString& id);
    void publishPictureRefusal(const QString& text);
    void publishLinkTooSlow(bool on);
    void publishSessionWay(bool viaRelay, int videoPort);
    void publishDisplays(const std::vector<wex::DisplayInfo>& displays, int streaming);
    void publishDeckStat(const wex::DeckStat& stat);
    void publishAgentError(const std::string& text);
    void publishReceivedBytes(int64_t bytes) { emit receivedBytes(static_cast<qint64>(bytes)); }
    void publishRemoteClipboardText(const std::string& text) { emit remoteClipboardText(text); }

    void postToCore(std::function<void(ClientCore&)> fn);
    // The link's credentials when it carries both, else the signed-in account's, else none.
    wex::RelayIdentity relayIdentityFor(const std::optional<std::string>& account,
                                        const std::optional<std::string>& token,
                                        const std::optional<std::string>& relay) const;

    ClientConfig config_;
    std::shared_ptr<const StoredRelayAccount> relayAccount_;
    std::shared_ptr<ClientSecurity> security_;
    std::shared_ptr<SecretsThread> secrets_;
    std::optional<QString> identityProblem_;
    std::unique_ptr<SerialQueue> queue_;
    std::unique_ptr<ClientCore> core_; // lives on the client thread
    VideoDecoder* decoder_ = nullptr;  // the core's, safe from any thread

    QString status_ = QStringLiteral("idle");
    bool hasFirstFrame_ = false;
    QSizeF remoteSize_{0, 0};
    Phase phase_;
    int latencyMs_ = 0;
    int fps_ = 0;
    bool reconnecting_ = false;
    QString reconnectReason_;
    std::vector<wex::DisplayInfo> displays_;
    int streamingDisplay_ = 0;
    bool audioMuted_ = false;
    std::optional<wex::DeckStat> deckStat_;
    std::optional<double> fileProgress_;
    std::optional<std::string> lastAgentError_;
    QString agentDeviceId_;
    QString pictureRefusal_;
    bool linkTooSlow_ = false;
    QString targetKind_;
    bool sessionViaRelay_ = false;
    int videoPort_ = 0;
    // The established session input goes to, 0 without one; written on the client thread.
    std::atomic<uint64_t> inputSession_{0};
};

} // namespace dovrel::controller
