#pragma once

#include <functional>
#include <optional>
#include <vector>

#include <QObject>
#include <QString>
#include <QUuid>
#include <QtQml/qqmlregistration.h>

#include "controller/services/Device.h"
#include "controller/services/DeviceStore.h"
#include "controller/services/RelayAccount.h"
#include "controller/ui/deck/DeckTarget.h"
#include "controller/ui/pairing/PairingTarget.h"
#include "controller/ui/root/LaunchArguments.h"
#include "controller/ui/session/SessionPort.h"
#include "controller/ui/signin/SignInTarget.h"

namespace dovrel::controller {

// The window's root: which screen fills it (the deck, the pairing screen or the session), the machine
// of the current or last session, and the automatic connection the launch arguments ask for. It turns
// the screens' results into calls on the session client and the saved machines (a machine connected
// to moves to the front of the deck), follows the client's phase between screens, feeds the agent's
// statistics to the saved machine, and holds the one modal alert being asked (sign out, unpair,
// rename) until it is answered. Main thread.
class RootViewModel : public QObject, public DeckTarget, public PairingTarget, public SignInTarget {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("The program makes the one root of its window.")
    Q_PROPERTY(Route route READ route NOTIFY routeChanged)
    Q_PROPERTY(QString activeName READ activeName NOTIFY activeChanged)
    Q_PROPERTY(QString activeDeviceId READ activeDeviceIdForView NOTIFY activeChanged)
    Q_PROPERTY(bool demoSession READ demoSession NOTIFY demoSessionChanged)
    Q_PROPERTY(bool openingSession READ openingSession NOTIFY openingSessionChanged)
    Q_PROPERTY(bool demo READ demo CONSTANT)
    Q_PROPERTY(dovrel::controller::DeviceStore* machines READ machines CONSTANT)
    Q_PROPERTY(bool showSignIn READ showSignIn NOTIFY showSignInChanged)
    Q_PROPERTY(Alert alert READ alert NOTIFY alertChanged)
    Q_PROPERTY(QString alertTitle READ alertTitle NOTIFY alertChanged)
    Q_PROPERTY(QString alertText READ alertText NOTIFY alertChanged)
    Q_PROPERTY(QString alertConfirm READ alertConfirm NOTIFY alertChanged)
    Q_PROPERTY(QString alertField READ alertField NOTIFY alertChanged)
    Q_PROPERTY(QString notice READ notice NOTIFY noticeChanged)
    // The first button ends something that cannot be taken back (unpairing): it is drawn as such.
    Q_PROPERTY(bool alertDestructive READ alertDestructive NOTIFY alertChanged)
    // The alert only tells something: it has no Cancel.
    Q_PROPERTY(bool alertAcknowledgeOnly READ alertAcknowledgeOnly NOTIFY alertChanged)

public:
    enum class Route { Deck, Pairing, Session };
    Q_ENUM(Route)
    // The modal alert being asked, if any: signing out, unpairing a machine, renaming it; or, only to be
    // acknowledged, telling that the keychain could not give back this computer's identity, or that an
    // unpaired machine could not be told.
    enum class Alert { None, SignOut, Unpair, Rename, Keychain, UnpairNotTold };
    Q_ENUM(Alert)

    // `startPolling` starts the saved machines' reachability and presence poll.
    RootViewModel(SessionPort& session, DeviceStore& store, RelayAccount& account, LaunchArguments arguments,
                  std::function<void()> startPolling, QObject* parent = nullptr);

    Route route() const { return route_; }
    QString activeName() const { return activeName_; }
    const std::optional<QString>& activeDeviceId() const { return activeDeviceId_; }
    QString activeDeviceIdForView() const { return activeDeviceId_.value_or(QString()); }
    bool demoSession() const { return demoSession_; }
    bool openingSession() const { return openingSession_; }
    bool demo() const { return arguments_.demo; }
    DeviceStore* machines() const { return &store_; }
    QString accountName() const override { return accountName_.value_or(QString()); }
    void onAccountNameChanged(std::function<void()> listener) override { accountNameListener_ = std::move(listener); }
    bool showSignIn() const { return showSignIn_; }
    Alert alert() const { return alert_; }
    QString alertTitle() const { return alertTitle_; }
    QString alertText() const { return alertText_; }
    QString alertConfirm() const { return alertConfirm_; }
    QString alertField() const { return alertField_; }
    // What the window tells about the launch: arguments it could not use and why, or an automatic
    // connection that needs the pairing code. Empty: nothing.
    QString notice() const { return notice_; }
    Q_INVOKABLE void dismissNotice() { setNotice({}); }
    bool alertDestructive() const { return alert_ == Alert::Unpair; }
    bool alertAcknowledgeOnly() const { return alert_ == Alert::Keychain || alert_ == Alert::UnpairNotTold; }

    // The window was shown: starts the poll (not in demo mode) and the automatic connection the launch
    // arguments ask for.
    Q_INVOKABLE void appeared();
    // The deck's actions, on the machine in that row of the saved machines.
    Q_INVOKABLE void open(int row) override;
    Q_INVOKABLE void showPairing() override;
    Q_INVOKABLE void accountTapped() override;
    Q_INVOKABLE void unpairRequested(int row) override;
    Q_INVOKABLE void renameRequested(int row) override;
    // The alert's answer: `confirmed` for its first button; `field` is the rename field's text.
    Q_INVOKABLE void answerAlert(bool confirmed, const QString& field = {});
    // The pairing screen's results and cancel (which leaves any session alone). `kind` is "mac",
    // "windows" or "linux".
    void connectLAN(const QString& host, const QString& name, const QString& code, Device::Kind kind) override;
    void connectRelay(const QString& deviceId, const QString& name, const QString& code, Device::Kind kind,
                      const std::optional<QString>& account, const std::optional<QString>& token,
                      const std::optional<QString>& relay) override;
    Q_INVOKABLE void connectLAN(const QString& host, const QString& name, const QString& code, const QString& kind);
    // A pairing link: saved, once a session with it stands, with the way that worked (the host it names
    // on the local network first, the relay when the host does not answer or it names none) and the
    // hardware address it carries.
    void connectLink(const PairLink& link) override;
    // A pasted pairing link ("dovrel://pair?…"): false when it does not parse.
    Q_INVOKABLE bool connectLink(const QString& link);
    Q_INVOKABLE void cancelPairing() override;
    bool pairingShown() const override { return route_ == Route::Pairing; }
    std::optional<CodeWanted> codeWanted() const override { return codeWanted_; }
    std::optional<Returned> returned() const override { return returned_; }
    void onTurnedBack(std::function<void()> listener) override { turnedBackListener_ = std::move(listener); }
    // The sign-in sheet's results.
    Q_INVOKABLE void signInDone(const QString& account);
    void signedIn(const RelayAccount::Session& session) override { signInDone(session.account); }
    Q_INVOKABLE void signInSkipped() override;
    // The session screen's exit: back to the deck; back to the pairing screen, with what was typed there
    // and why it was refused, for an attempt it started that never stood.
    Q_INVOKABLE void endSession();

signals:
    void routeChanged();
    void activeChanged();
    void demoSessionChanged();
    void openingSessionChanged();
    void showSignInChanged();
    void alertChanged();
    void noticeChanged();

private:
    void setRoute(Route route);
    void setActive(const QString& name, const std::optional<QString>& deviceId);
    void setDemoSession(bool on);
    void setOpeningSession(bool on);
    void setAccountName(const std::optional<QString>& name);
    void setShowSignIn(bool on);
    void ask(Alert alert, const QUuid& machine, QString title, QString text, QString confirm, QString field = {});
    void phaseChanged();
    void statsArrived(const wex::DeckStat& stat);
    void autoConnectIfRequested();
    bool autoConnectNeedsAccount() const;
    void accountChanged();
    void tellIdentityProblem();
    void startSession(const QString& name, const std::optional<QString>& deviceId, Device::Kind kind);
    // Pairs with the machine a link, the pairing screen or the command line names.
    void pair(const QString& host, const std::optional<QString>& deviceId, const QString& name, const QString& code,
              Device::Kind kind, const std::optional<QString>& mac, const std::optional<QString>& account,
              const std::optional<QString>& token, const std::optional<QString>& relay);
    const Device* machineAt(int row) const;
    // The relay's way to a saved machine, as a session with it goes: behind its host only once a relay
    // session has reached it; alone for a machine without a host.
    static std::optional<RelayDial> relayWayTo(const Device& d);
    // An unpaired machine's agent could not be told (at `host`, through the relay when `relay`), and why.
    void unpairNotTold(const QString& name, const QString& host, bool relay, UnpairOutcome outcome);
    // An alert that only informs (answered with OK) shows now, or once the alerts before it are answered.
    void acknowledge(Alert kind, const QString& title, const QString& text);
    void tellNextAcknowledgement();
    // The first saved machine with that agent identifier, host (when not empty) or name (in any case).
    const Device* savedMachine(const std::optional<QString>& deviceId, const QString& host, const QString& name) const;
    void setNotice(const QString& text);
    void addNotice(const QString& text);
    // The session being opened wants its pairing code: the pairing screen asks for it.
    void askForCode();

    SessionPort& session_;
    DeviceStore& store_;
    RelayAccount& account_;
    LaunchArguments arguments_;
    std::function<void()> startPolling_;
    Route route_ = Route::Deck;
    QString activeName_ = QStringLiteral("that computer");
    std::optional<QString> activeDeviceId_;
    std::optional<QUuid> statsMachine_; // the machine whose card shows the session's figures
    bool demoSession_ = false;
    bool openingSession_ = false;
    // The session was started by the command line for a machine it did not name: its name and kind
    // come from the saved machine the handshake proves it is.
    bool automatic_ = false;
    QString notice_;
    // The machine the current or last session dialled, and, while the pairing screen asks for its code,
    // the same again.
    CodeWanted dialled_;
    std::optional<CodeWanted> codeWanted_;
    // The session being opened was handed over by the pairing screen; a session of it stood.
    bool fromPairing_ = false;
    bool stood_ = false;
    std::optional<Returned> returned_;
    std::function<void()> turnedBackListener_;
    std::optional<QString> accountName_;
    std::function<void()> accountNameListener_;
    bool showSignIn_ = false;
    bool autoConnectWaiting_ = false; // for the stored account to be read
    struct Acknowledgement {
        Alert kind;
        QString title, text;
    };
    std::vector<Acknowledgement> acknowledgements_; // for the alert being asked to be answered
    Alert alert_ = Alert::None;
    QUuid alertMachine_;
    QString alertTitle_, alertText_, alertConfirm_, alertField_;
};

} // namespace dovrel::controller
