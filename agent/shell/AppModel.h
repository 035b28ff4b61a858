#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>

#include "agent/core/AgentObserver.h"

namespace dovrel::agent {

// What the desktop lets the agent do: see the screen, and drive the pointer and keyboard.
struct DesktopAccess {
    bool screenCapture = false;
    bool inputControl = false;
    bool clipboardText = true; // false only where the desktop is known to share no clipboard
};

// Where the model's refresh operations sample the system. The agent shell supplies the Linux one;
// tests hand in their own. desktopAccess() is quick and runs on the caller's thread; the others may be
// slow and run on a worker thread.
class AppModelSampler {
public:
    virtual ~AppModelSampler() = default;
    virtual DesktopAccess desktopAccess() = 0;
    // Whether the primary network interface wakes the computer on a magic packet; nothing when it
    // cannot be told (the previous answer then stays).
    virtual std::optional<bool> wakeOnMagicPacket() = 0;
    // Whether the computer runs on its battery; nothing when it cannot be told.
    virtual std::optional<bool> onBattery() = 0;
    // This computer's IPv4 addresses in interface-list order.
    virtual std::vector<std::string> ipv4Addresses() = 0;
};

// The agent's observable state for its window: pairing code and link, addresses, status, permissions,
// video, access grants, share code, account, and the invokables through which the window asks the
// agent to act. Lives on the main thread and is written only there; writers on other threads post their
// change to it. Each property notifies only when its value really changes. Optional texts are empty
// when there is none.
class AppModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString pairingCode READ pairingCode NOTIFY pairingCodeChanged)
    Q_PROPERTY(bool resting READ resting NOTIFY restingChanged)
    Q_PROPERTY(QString pairingURL READ pairingURL NOTIFY pairingURLChanged)
    Q_PROPERTY(QString deviceId READ deviceId NOTIFY deviceIdChanged)
    Q_PROPERTY(QString lanIP READ lanIP NOTIFY lanIPChanged)
    Q_PROPERTY(QString wgIP READ wgIP NOTIFY wgIPChanged)
    Q_PROPERTY(QString mac READ mac NOTIFY macChanged)
    Q_PROPERTY(QString deviceName READ deviceName NOTIFY deviceNameChanged)
    Q_PROPERTY(QString statusText READ statusText NOTIFY statusTextChanged)
    // Empty while no controller is connected.
    Q_PROPERTY(QString connectedClient READ connectedClient NOTIFY connectedClientChanged)
    Q_PROPERTY(bool screenRecording READ screenRecording NOTIFY screenRecordingChanged)
    Q_PROPERTY(bool accessibility READ accessibility NOTIFY accessibilityChanged)
    Q_PROPERTY(bool clipboardText READ clipboardText NOTIFY clipboardTextChanged)
    Q_PROPERTY(bool wakeReady READ wakeReady NOTIFY wakeReadyChanged)
    Q_PROPERTY(bool onBattery READ onBattery NOTIFY onBatteryChanged)
    Q_PROPERTY(int videoFps READ videoFps NOTIFY videoFpsChanged)
    Q_PROPERTY(QString videoPath READ videoPath NOTIFY videoPathChanged)
    Q_PROPERTY(QString grantExpiryText READ grantExpiryText NOTIFY grantExpiryTextChanged)
    Q_PROPERTY(bool grantBusy READ grantBusy NOTIFY grantBusyChanged)
    Q_PROPERTY(QString grantError READ grantError NOTIFY grantErrorChanged)
    Q_PROPERTY(QString grantNotice READ grantNotice NOTIFY grantNoticeChanged)
    Q_PROPERTY(double grantTTLHours READ grantTTLHours WRITE setGrantTTLHours NOTIFY grantTTLHoursChanged)
    Q_PROPERTY(QString shareCode READ shareCode NOTIFY shareCodeChanged)
    Q_PROPERTY(QString shareCodeNote READ shareCodeNote NOTIFY shareCodeNoteChanged)
    // Invalid when there is no share code.
    Q_PROPERTY(QDateTime shareCodeExpiresAt READ shareCodeExpiresAt NOTIFY shareCodeExpiresAtChanged)
    Q_PROPERTY(QString account READ account NOTIFY accountChanged)
    Q_PROPERTY(bool accountBusy READ accountBusy NOTIFY accountBusyChanged)
    Q_PROPERTY(QString accountError READ accountError NOTIFY accountErrorChanged)
    // Pairing by code stopped after too many wrong codes, and the addresses they came from (an empty
    // one: through the relay); until the person asks for a new code.
    Q_PROPERTY(bool codePairingPaused READ codePairingPaused NOTIFY codePairingPausedChanged)
    Q_PROPERTY(QStringList wrongCodeAddresses READ wrongCodeAddresses NOTIFY wrongCodeAddressesChanged)
    // The last code that was drawn because its predecessor drew too many wrong tries; empty when none.
    Q_PROPERTY(QString codeDrawnAfterWrongCodes READ codeDrawnAfterWrongCodes NOTIFY codeDrawnAfterWrongCodesChanged)

public:
    // Shown until start-up has drawn the first code.
    static constexpr const char* codePlaceholder = "------";
    // The overlay network's addresses begin with this.
    static constexpr const char* overlayPrefix = "10.13.13.";

    // `commands`: where the window's requests go. `sampler`: where the refreshes below sample the
    // system; null in tests that do not refresh (they then change nothing).
    AppModel(AgentCommands& commands, std::shared_ptr<AppModelSampler> sampler, QObject* parent = nullptr);
    ~AppModel() override;

    QString pairingCode() const { return pairingCode_; }
    bool resting() const { return resting_; }
    QString pairingURL() const { return pairingURL_; }
    QString deviceId() const { return deviceId_; }
    QString lanIP() const { return lanIP_; }
    QString wgIP() const { return wgIP_; }
    QString mac() const { return mac_; }
    QString deviceName() const { return deviceName_; }
    QString statusText() const { return statusText_; }
    QString connectedClient() const { return connectedClient_; }
    bool screenRecording() const { return screenRecording_; }
    bool accessibility() const { return accessibility_; }
    bool clipboardText() const { return clipboardText_; }
    bool wakeReady() const { return wakeReady_; }
    bool onBattery() const { return onBattery_; }
    int videoFps() const { return videoFps_; }
    QString videoPath() const { return videoPath_; }
    QString grantExpiryText() const { return grantExpiryText_; }
    bool grantBusy() const { return grantBusy_; }
    QString grantError() const { return grantError_; }
    QString grantNotice() const { return grantNotice_; }
    double grantTTLHours() const { return grantTTLHours_; }
    QString shareCode() const { return shareCode_; }
    QString shareCodeNote() const { return shareCodeNote_; }
    QDateTime shareCodeExpiresAt() const { return shareCodeExpiresAt_; }
    QString account() const { return account_; }
    bool accountBusy() const { return accountBusy_; }
    QString accountError() const { return accountError_; }
    bool codePairingPaused() const { return codePairingPaused_; }
    QStringList wrongCodeAddresses() const { return wrongCodeAddresses_; }
    QString codeDrawnAfterWrongCodes() const { return codeDrawnAfterWrongCodes_; }

    void setPairingCode(const QString& v);
    void setResting(bool v);
    void setPairingURL(const QString& v);
    void setDeviceId(const QString& v);
    void setLanIP(const QString& v);
    void setWgIP(const QString& v);
    void setMac(const QString& v);
    void setDeviceName(const QString& v);
    void setStatusText(const QString& v);
    void setConnectedClient(const QString& v);
    void setScreenRecording(bool v);
    void setAccessibility(bool v);
    void setClipboardText(bool v);
    // The three above at once, as a sample found them.
    void setDesktopAccess(const DesktopAccess& a);
    void setWakeReady(bool v);
    void setOnBattery(bool v);
    void setVideoFps(int v);
    void setVideoPath(const QString& v);
    void setGrantExpiryText(const QString& v);
    void setGrantBusy(bool v);
    void setGrantError(const QString& v);
    void setGrantNotice(const QString& v);
    void setGrantTTLHours(double v);
    void setShareCode(const QString& v);
    void setShareCodeNote(const QString& v);
    void setShareCodeExpiresAt(const QDateTime& v);
    void setAccount(const QString& v);
    void setAccountBusy(bool v);
    void setAccountError(const QString& v);
    void setCodePairingPaused(bool v);
    void setWrongCodeAddresses(const QStringList& v);
    void setCodeDrawnAfterWrongCodes(const QString& v);

    // A share-code request is under way; a second one is not started meanwhile. Main thread, not observed.
    bool shareInFlight = false;

    // The window's requests, handed to the agent's commands. Each returns at once and reports through
    // the properties.
    Q_INVOKABLE void newGrant(double ttlHours);
    Q_INVOKABLE void cancelAllAccess();
    Q_INVOKABLE void disconnectSession();
    Q_INVOKABLE void createShareCode();
    Q_INVOKABLE void signIn(const QString& account, const QString& password, bool create, const QString& invite);
    Q_INVOKABLE void signOut();
    Q_INVOKABLE void newPairingCode();
    // The pairing code is on the screen from now on, or no longer.
    void pairingCodeShown(bool shown);

    // Samples both permissions on the calling thread and publishes them on the next turn of the main
    // loop (posted even when called there).
    Q_INVOKABLE void refreshPermissions();
    // Samples wake-on-LAN readiness and the power source on a worker thread and publishes them.
    Q_INVOKABLE void refreshWakeStatus();
    // Looks for the overlay-network address on a worker thread and publishes it.
    Q_INVOKABLE void refreshWGIP();

    // The last address in `addresses` that begins with the overlay prefix; empty when none does.
    static QString overlayAddress(const std::vector<std::string>& addresses);

signals:
    void pairingCodeChanged();
    void restingChanged();
    void pairingURLChanged();
    void deviceIdChanged();
    void lanIPChanged();
    void wgIPChanged();
    void macChanged();
    void deviceNameChanged();
    void statusTextChanged();
    void connectedClientChanged();
    void screenRecordingChanged();
    void accessibilityChanged();
    void clipboardTextChanged();
    void wakeReadyChanged();
    void onBatteryChanged();
    void videoFpsChanged();
    void videoPathChanged();
    void grantExpiryTextChanged();
    void grantBusyChanged();
    void grantErrorChanged();
    void grantNoticeChanged();
    void grantTTLHoursChanged();
    void shareCodeChanged();
    void shareCodeNoteChanged();
    void shareCodeExpiresAtChanged();
    void accountChanged();
    void accountBusyChanged();
    void accountErrorChanged();
    void codePairingPausedChanged();
    void wrongCodeAddressesChanged();
    void codeDrawnAfterWrongCodesChanged();

    // Another copy of the agent was started: the window should come forward.
    void showWindowRequested();

private:
    template <typename Work> void inBackground(Work work);

    QString pairingCode_ = codePlaceholder;
    bool resting_ = false;
    QString pairingURL_;
    QString deviceId_;
    QString lanIP_;
    QString wgIP_;
    QString mac_;
    QString deviceName_ = "Computer";
    QString statusText_ = QStringLiteral("Starting…");
    QString connectedClient_;
    bool screenRecording_ = false;
    bool accessibility_ = false;
    bool clipboardText_ = true;
    bool wakeReady_ = false;
    bool onBattery_ = false;
    int videoFps_ = 0;
    QString videoPath_ = QStringLiteral("idle");
    QString grantExpiryText_;
    bool grantBusy_ = false;
    QString grantError_;
    QString grantNotice_;
    double grantTTLHours_ = 0;
    QString shareCode_;
    QString shareCodeNote_;
    QDateTime shareCodeExpiresAt_;
    QString account_;
    bool accountBusy_ = false;
    QString accountError_;
    bool codePairingPaused_ = false;
    QStringList wrongCodeAddresses_;
    QString codeDrawnAfterWrongCodes_;

    AgentCommands& commands_;
    std::shared_ptr<AppModelSampler> sampler_;
};

} // namespace dovrel::agent
