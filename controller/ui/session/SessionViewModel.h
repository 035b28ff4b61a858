#pragma once

#include <optional>

#include <QObject>
#include <QPointer>
#include <QRectF>
#include <QString>
#include <QUrl>
#include <QVariantList>
#include <QtQml/qqmlregistration.h>

#include "controller/client/files/FileTransfers.h"
#include "controller/client/input/RemoteInput.h"
#include "controller/client/session/Phase.h"
#include "controller/client/session/WEXClient.h"
#include "controller/ui/session/InteractionModel.h"
#include "controller/ui/session/RadialWheel.h"
#include "controller/ui/session/SessionHud.h"
#include "controller/ui/session/SessionNotices.h"

namespace dovrel::controller {

// What the loading overlay shows for the state of the session being opened.
struct LoadingState {
    double progress = 0;
    QString message;
    QString errorText; // empty: none

    bool operator==(const LoadingState&) const = default;
};

// The overlay's values, first match wins: reconnecting, then by phase. `deviceName` names the machine
// in "Reaching …" (blanks and tabs trimmed; "that computer" when nothing is left).
LoadingState loadingStateFor(PhaseKind phase, const QString& rejection, bool reconnecting, const QString& deviceName);

// What the overlay adds when a session stands but no picture has come for a while: where the picture
// should arrive (UDP `videoPort` on the local network; 0: through the relay).
QString pictureNotArrivingText(int videoPort);

// The status pill's word for the link, first match wins: "reconnecting" while a lost link is being
// re-established; "encrypted" once the session is established and so sealed; "not connected" after a
// refusal; "connecting" while it is being opened. Only a sealed session is called encrypted.
QString pillWordFor(PhaseKind phase, bool reconnecting);

// What the overlay says instead when pieces of the picture arrive but never a whole one: the link is
// slower than the picture needs, the other computer lowers the picture's quality meanwhile, and a wired
// connection helps; with `picturesShown`, what the banner says when the session's pictures keep
// arriving damaged.
QString linkTooSlowText(bool picturesShown = false);

// The colour band of a round trip on the status pill: none measured, under 40 ms, up to 100 ms, more.
enum class LatencyBand { none, good, fair, poor };
LatencyBand latencyBandFor(int latencyMs);

// The rectangle the remote picture fills in a window of `window`: the largest of the picture's shape,
// centred, on whole pixels. A picture not yet received is taken to be 1470 x 956.
QRectF fittedRect(QSizeF window, QSizeF remote);

// The session window's state, read from the window's session client: the loading overlay's values and
// when it shows, the status pill's link state and figures, the notices, the heads-up controls, the
// action wheel and the display picker; and the remote input the capture item over the picture drives.
// While the window is open it owns its controls' timers; leaving it (the exit, a refusal, the machine
// going away) lets go of whatever the session held. Main thread.
class SessionViewModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("The program makes the session screen's model.")
    Q_PROPERTY(dovrel::controller::WEXClient* client READ client CONSTANT)
    Q_PROPERTY(dovrel::controller::RemoteInput* input READ input CONSTANT)
    Q_PROPERTY(QString deviceName READ deviceName WRITE setDeviceName NOTIFY deviceNameChanged)
    Q_PROPERTY(bool demo READ demo WRITE setDemo NOTIFY demoChanged)
    Q_PROPERTY(double loadingProgress READ loadingProgress NOTIFY stateChanged)
    Q_PROPERTY(QString loadingMessage READ loadingMessage NOTIFY stateChanged)
    Q_PROPERTY(QString loadingError READ loadingError NOTIFY stateChanged)
    Q_PROPERTY(bool overlayShown READ overlayShown NOTIFY stateChanged)
    // The band sweeps across the overlay's wordmark for a while after what the overlay says changed:
    // never over a refusal, where nothing is on its way.
    Q_PROPERTY(bool loadingSweeps READ loadingSweeps NOTIFY loadingSweepsChanged)
    // A session stood in this window (or it is a demo): until then its controls (audio, full screen,
    // the assistant, the pill and its wheel) have nothing to act on and are not offered.
    Q_PROPERTY(bool stood READ stood NOTIFY stoodChanged)
    Q_PROPERTY(bool connected READ connected NOTIFY stateChanged)
    Q_PROPERTY(bool reconnecting READ reconnecting NOTIFY stateChanged)
    Q_PROPERTY(QString pillWord READ pillWord NOTIFY stateChanged)
    Q_PROPERTY(int latencyMs READ latencyMs NOTIFY stateChanged)
    Q_PROPERTY(int fps READ fps NOTIFY stateChanged)
    Q_PROPERTY(int latencyBand READ latencyBandValue NOTIFY stateChanged)
    Q_PROPERTY(bool audioMuted READ audioMuted NOTIFY stateChanged)
    Q_PROPERTY(QSizeF remoteSize READ remoteSize NOTIFY stateChanged)
    Q_PROPERTY(QVariantList displays READ displays NOTIFY stateChanged)
    Q_PROPERTY(int streamingDisplay READ streamingDisplay NOTIFY stateChanged)
    Q_PROPERTY(dovrel::controller::SessionNotices* notices READ notices CONSTANT)
    Q_PROPERTY(dovrel::controller::SessionHud* hud READ hud CONSTANT)
    Q_PROPERTY(dovrel::controller::InteractionModel* interaction READ interaction CONSTANT)
    Q_PROPERTY(dovrel::controller::RadialWheelModel* wheel READ wheel CONSTANT)
    Q_PROPERTY(bool windowOpen READ windowOpen NOTIFY windowOpenChanged)
    // The controls guide's lines that depend on the machine: what the keyboard's Super key is there, and
    // the shortcuts its wheel offers.
    Q_PROPERTY(QString guideKeys READ guideKeys NOTIFY guideChanged)
    Q_PROPERTY(QString guideShortcuts READ guideShortcuts NOTIFY guideChanged)

public:
    // How long a session may stand without a picture before the overlay says it is not arriving.
    static constexpr auto pictureLateAfter = std::chrono::seconds(5);
    // Two passes of the overlay's band: the way from one state of an opening session to the next.
    static constexpr auto sweepFor = std::chrono::milliseconds(3600);

    // `files` sends the files chosen after the wheel's "Send File"; `accent` colours the click ripples.
    SessionViewModel(WEXClient& client, RemoteInput& input, FileTransfers& files, Scheduler& clock, QColor accent,
                     QObject* parent = nullptr);
    ~SessionViewModel() override;

    WEXClient* client() const { return client_; }
    RemoteInput* input() const { return input_; }
    QString deviceName() const { return deviceName_; }
    void setDeviceName(const QString& name);
    bool demo() const { return demo_; }
    void setDemo(bool on);

    double loadingProgress() const { return state().progress; }
    QString loadingMessage() const { return state().message; }
    QString loadingError() const { return state().errorText; }
    // Not in demo mode, and before the first picture or after a refusal.
    bool overlayShown() const;
    bool loadingSweeps() const { return sweeps_; }
    bool stood() const { return stood_; }
    bool connected() const { return client_->phaseKind() == PhaseKind::connected; }
    bool reconnecting() const { return client_->reconnecting(); }
    QString pillWord() const { return pillWordFor(client_->phaseKind(), reconnecting()); }
    int latencyMs() const { return client_->latencyMs(); }
    int fps() const { return client_->fps(); }
    LatencyBand latencyBand() const { return latencyBandFor(latencyMs()); }
    int latencyBandValue() const { return static_cast<int>(latencyBand()); }
    bool audioMuted() const { return client_->audioMuted(); }
    QSizeF remoteSize() const { return client_->remoteSize(); }
    QVariantList displays() const { return client_->displaysForView(); }
    int streamingDisplay() const { return client_->streamingDisplay(); }
    SessionNotices* notices() { return &notices_; }
    SessionHud* hud() { return &hud_; }
    InteractionModel* interaction() { return interaction_.get(); }
    RadialWheelModel* wheel() { return &wheel_; }
    bool windowOpen() const { return windowOpen_; }
    QString guideKeys() const;
    QString guideShortcuts() const;

    Q_INVOKABLE QRectF fitted(double width, double height) const;
    // The session window appears or goes. Going lets go of held keys and buttons, stops its timers and
    // puts its panels away; `windowLeft` tells the session's other parts (clipboard files, the
    // assistant's typing) to stop.
    void setWindowOpen(bool open);
    // The pointer over the picture at `point` (window coordinates) or a click there.
    Q_INVOKABLE void pointerAt(QPointF point);
    Q_INVOKABLE void clickAt(QPointF point);
    // The wheel's button in `row`.
    Q_INVOKABLE void runWheelAction(int row);
    // The top row's exit and a notice's End, as the wheel's "End": the root ends the session.
    Q_INVOKABLE void exit() { emit exitRequested(); }
    Q_INVOKABLE void toggleAudio();
    // The file chooser's answer: a local file goes to the machine's download folder.
    Q_INVOKABLE void sendFile(const QUrl& url);
    // A tile of the display picker: the agent streams that display; the picker closes.
    Q_INVOKABLE void chooseDisplay(int displayId);

signals:
    void deviceNameChanged();
    void demoChanged();
    void stateChanged();
    void windowOpenChanged();
    void loadingSweepsChanged();
    void stoodChanged();
    void guideChanged();
    // The wheel's "End", or exit(): the root ends the session.
    void exitRequested();
    // The wheel's "Send File": the window asks which file, in `folder` (the home folder, then the
    // folder of the file last sent).
    void fileChooserRequested(const QUrl& folder);
    // The session window went: nothing of the session may go on sending.
    void windowLeft();

private:
    LoadingState state() const;
    void runCommand(WheelCommand command);
    // Lock and Ctrl+Alt+Del on a Windows machine without full control would strand the user.
    bool refusedWithoutFullControl(const QString& notice);
    void leave();
    // Arms or stops the wait for the first picture as the session's phase and picture change.
    void watchForPicture();
    // What the overlay says changed, or it came or went: the band sweeps again, or rests.
    void reconsiderSweep();
    void setSweeps(bool on);
    void setStood(bool on);

    QPointer<WEXClient> client_;
    QPointer<RemoteInput> input_;
    FileTransfers& files_;
    QUrl fileFolder_;
    QString deviceName_;
    bool demo_ = false;
    bool windowOpen_ = false;
    SessionNotices notices_;
    SessionHud hud_;
    std::unique_ptr<InteractionModel> interaction_;
    RadialWheelModel wheel_;
    Scheduler& clock_;
    std::unique_ptr<Timer> pictureWait_;
    bool pictureLate_ = false;
    std::optional<LoadingState> swept_; // what the overlay said when the band last set off
    std::unique_ptr<Timer> sweepEnd_;
    bool sweeps_ = false;
    bool stood_ = false;
};

} // namespace dovrel::controller
