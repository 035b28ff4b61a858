#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>

#include <QObject>
#include <QString>
#include <QStringList>

#include "agent/shell/AppModel.h"
#include "agent/shell/DesktopAdvice.h"
#include "agent/shell/FixRow.h"
#include "agent/shell/SettingsLauncher.h"
#include "agent/shell/TextClipboard.h"
#include "agent/shell/UnattendedChecker.h"
#include "runtime/Scheduler.h"

namespace dovrel::agent {

struct WindowSettings {
    bool lanEnabled = false; // the agent listens on the local network: its address is worth showing
    DesktopFacts facts;
};

// The rules of the agent's window over AppModel: which group shows, every text built from the model's
// values, the account form and the sharing section's state, the permission and wake rows with their
// fixes, and the "Copied!" feedback. The QML lays these out and calls the invokables; nothing here
// waits: every action only calls the model's callbacks, the clipboard or the settings launcher.
// Main thread.
class AgentWindowModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(dovrel::agent::AppModel* app READ app CONSTANT)
    Q_PROPERTY(bool dark READ dark WRITE setDark NOTIFY changed)
    // Status and pairing.
    Q_PROPERTY(bool connected READ connected NOTIFY changed)
    Q_PROPERTY(QString qrText READ qrText NOTIFY changed)
    Q_PROPERTY(bool hasShareCode READ hasShareCode NOTIFY changed)
    Q_PROPERTY(QString shareCodeNoteLine READ shareCodeNoteLine NOTIFY changed)
    Q_PROPERTY(bool copied READ copied NOTIFY changed)
    Q_PROPERTY(bool linkCopied READ linkCopied NOTIFY changed)
    // The copy buttons' words: what they copy, or "Copied!" for a moment after.
    Q_PROPERTY(QString copyShareCodeText READ copyShareCodeText NOTIFY changed)
    Q_PROPERTY(QString copyLinkText READ copyLinkText NOTIFY changed)
    // Empty unless pairing by code has paused after too many wrong codes: what happened and from where.
    Q_PROPERTY(QString pauseText READ pauseText NOTIFY changed)
    // While pairing by code is paused the code, the QR, the link and the share code show as paused:
    // no QR to scan, no link or share code to copy, and no new share code or QR. The pause notice says
    // it once and offers the one way on, a new pairing code.
    Q_PROPERTY(bool codePaused READ codePaused NOTIFY changed)
    // The line under the pairing code: when it pairs; empty while paused.
    Q_PROPERTY(QString codeNote READ codeNote NOTIFY changed)
    // Empty unless the code shown was drawn because the one before it drew too many wrong tries: under
    // the big code, or, while a share code takes its place, beside the code set up by hand.
    Q_PROPERTY(QString codeRedrawnText READ codeRedrawnText NOTIFY changed)
    Q_PROPERTY(QString manualRedrawnText READ manualRedrawnText NOTIFY changed)
    // Under the code set up by hand; it says when the code pairs only where the big code does not.
    Q_PROPERTY(QString manualCodeNote READ manualCodeNote NOTIFY changed)
    Q_PROPERTY(bool canNewShareCode READ canNewShareCode NOTIFY changed)
    Q_PROPERTY(bool showManual READ showManual WRITE setShowManual NOTIFY changed)
    Q_PROPERTY(QString lanLine READ lanLine NOTIFY changed)
    Q_PROPERTY(QString overlayLine READ overlayLine NOTIFY changed)
    // Account.
    Q_PROPERTY(bool signedIn READ signedIn NOTIFY changed)
    Q_PROPERTY(QString acctName READ acctName WRITE setAcctName NOTIFY changed)
    Q_PROPERTY(QString acctPassword READ acctPassword WRITE setAcctPassword NOTIFY changed)
    Q_PROPERTY(QString acctInvite READ acctInvite WRITE setAcctInvite NOTIFY changed)
    Q_PROPERTY(bool creatingAccount READ creatingAccount WRITE setCreatingAccount NOTIFY changed)
    Q_PROPERTY(QString accountButtonText READ accountButtonText NOTIFY changed)
    Q_PROPERTY(QString accountModeText READ accountModeText NOTIFY changed)
    Q_PROPERTY(bool canSubmitAccount READ canSubmitAccount NOTIFY changed)
    // An account error under the sign-in form concerns what was sent from it: the name and password
    // fields show it too while they still hold those words (not once the user changed or cleared them,
    // and never on fields nobody filled in).
    Q_PROPERTY(bool accountFieldsInvalid READ accountFieldsInvalid NOTIFY changed)
    // Sharing and access.
    Q_PROPERTY(QString sharingStatus READ sharingStatus NOTIFY changed)
    Q_PROPERTY(QStringList lifetimeLabels READ lifetimeLabels CONSTANT)
    Q_PROPERTY(int lifetimeIndex READ lifetimeIndex WRITE setLifetimeIndex NOTIFY changed)
    Q_PROPERTY(bool showDisconnect READ showDisconnect NOTIFY changed)
    // What the sharing section says: a note, or an error, which then stands alone.
    Q_PROPERTY(QString sharingNote READ sharingNote NOTIFY changed)
    Q_PROPERTY(QString sharingError READ sharingError NOTIFY changed)
    Q_PROPERTY(bool confirmCancelAccess READ confirmCancelAccess NOTIFY changed)
    // A new grant or cancelling all access can start: signed in, and no grant work under way. A new
    // grant only makes a new QR, which pairs nothing while pairing by code is paused.
    Q_PROPERTY(bool canChangeAccess READ canChangeAccess NOTIFY changed)
    Q_PROPERTY(bool canNewGrant READ canNewGrant NOTIFY changed)
    // Permissions, video and wake.
    Q_PROPERTY(dovrel::agent::FixRow* screenCapture READ screenCapture CONSTANT)
    Q_PROPERTY(dovrel::agent::FixRow* inputControl READ inputControl CONSTANT)
    // Shown only where the desktop is known to share no clipboard text.
    Q_PROPERTY(dovrel::agent::FixRow* clipboardText READ clipboardText CONSTANT)
    Q_PROPERTY(dovrel::agent::FixRow* wake READ wake CONSTANT)
    Q_PROPERTY(bool videoActive READ videoActive NOTIFY changed)
    Q_PROPERTY(QString videoText READ videoText NOTIFY changed)
    Q_PROPERTY(QString wakeText READ wakeText NOTIFY changed)
    Q_PROPERTY(QString wakeButtonText READ wakeButtonText NOTIFY changed)
    // Unattended access.
    Q_PROPERTY(dovrel::agent::UnattendedChecker* readiness READ readiness CONSTANT)

public:
    // How long "Copied!" shows after the share code or the pairing link was copied.
    static constexpr std::chrono::milliseconds copiedFor{1600};
    // Lifetimes of the next grant, in hours; 0 never expires.
    static constexpr double lifetimes[] = {0, 1, 8, 24, 168};

    AgentWindowModel(AppModel& app, UnattendedChecker& readiness, Scheduler& clock, TextClipboard& clipboard,
                     SettingsLauncher& launcher, WindowSettings settings, QObject* parent = nullptr);
    ~AgentWindowModel() override;

    AppModel* app() const { return &app_; }
    bool dark() const { return dark_; }
    void setDark(bool dark);

    bool connected() const;
    QString qrText() const;
    bool hasShareCode() const;
    QString shareCodeNoteLine() const;
    bool copied() const { return copied_; }
    bool linkCopied() const { return linkCopied_; }
    QString copyShareCodeText() const;
    QString copyLinkText() const;
    QString pauseText() const;
    bool codePaused() const { return app_.codePairingPaused(); }
    QString codeNote() const;
    QString codeRedrawnText() const;
    QString manualRedrawnText() const { return hasShareCode() ? codeRedrawnText() : QString(); }
    QString manualCodeNote() const;
    bool canNewShareCode() const { return !app_.grantBusy() && !codePaused(); }
    bool showManual() const { return showManual_; }
    void setShowManual(bool v);
    QString lanLine() const;
    QString overlayLine() const;

    bool signedIn() const;
    QString acctName() const { return acctName_; }
    QString acctPassword() const { return acctPassword_; }
    QString acctInvite() const { return acctInvite_; }
    bool creatingAccount() const { return creatingAccount_; }
    void setAcctName(const QString& v);
    void setAcctPassword(const QString& v);
    void setAcctInvite(const QString& v);
    void setCreatingAccount(bool v);
    QString accountButtonText() const;
    QString accountModeText() const;
    bool canSubmitAccount() const;
    bool accountFieldsInvalid() const;

    QString sharingStatus() const;
    QStringList lifetimeLabels() const;
    int lifetimeIndex() const;
    void setLifetimeIndex(int index);
    bool showDisconnect() const;
    QString sharingNote() const;
    QString sharingError() const { return app_.grantError(); }
    bool confirmCancelAccess() const { return confirmCancelAccess_; }
    bool canChangeAccess() const;
    bool canNewGrant() const { return canChangeAccess() && !codePaused(); }

    FixRow* screenCapture() const { return screenCapture_.get(); }
    FixRow* inputControl() const { return inputControl_.get(); }
    FixRow* clipboardText() const { return clipboardText_.get(); }
    FixRow* wake() const { return wake_.get(); }
    bool videoActive() const;
    QString videoText() const;
    QString wakeText() const;
    QString wakeButtonText() const;
    UnattendedChecker* readiness() const { return &readiness_; }

    // The window came on the screen: the readiness checks run again.
    void windowShown() { readiness_.refresh(); }
    // The window is on the screen (not hidden, not minimised), and with it the pairing code, or no
    // longer: the agent accepts codes only then and for a while after.
    void windowVisible(bool visible) { app_.pairingCodeShown(visible); }

    Q_INVOKABLE void copyShareCode();
    Q_INVOKABLE void newShareCode();
    Q_INVOKABLE void copyPairingLink();
    Q_INVOKABLE void newPairingCode();
    Q_INVOKABLE void submitAccount();
    Q_INVOKABLE void toggleAccountMode();
    Q_INVOKABLE void signOut();
    Q_INVOKABLE void newGrant();
    Q_INVOKABLE void askCancelAllAccess();
    Q_INVOKABLE void confirmCancelAllAccess();
    Q_INVOKABLE void keepAccess();
    Q_INVOKABLE void disconnectSession();
    Q_INVOKABLE void quit();

    // User-perceived characters in `text` (grapheme clusters), as the account form counts them.
    static int characters(const QString& text);

signals:
    void changed();
    void quitRequested();

private slots:
    void appChanged();

private:
    template <typename T> void update(T& field, const T& value);
    // Sets `flag` for copiedFor.
    void showCopied(bool AgentWindowModel::*flag);

    AppModel& app_;
    UnattendedChecker& readiness_;
    Scheduler& clock_;
    TextClipboard& clipboard_;
    WindowSettings settings_;
    bool dark_ = false;
    bool copied_ = false;
    bool linkCopied_ = false;
    // Each copy press's own reset, by press: none cancels another, so the earliest still running ends
    // its button's "Copied!" (a second press 1 s after the first reverts 0.6 s later).
    std::map<uint64_t, std::unique_ptr<Timer>> copiedResets_;
    uint64_t copyPresses_ = 0;
    bool showManual_ = false;
    QString acctName_;
    QString acctPassword_;
    QString acctInvite_;
    // The name of the last sign-in sent, which an account error refers to, and which of the password
    // field's contents went with it: each change makes a new one, so no copy of the password is kept.
    QString sentName_;
    uint64_t passwordEdits_ = 0;
    std::optional<uint64_t> sentPasswordEdit_;
    bool creatingAccount_ = false;
    bool confirmCancelAccess_ = false;
    std::unique_ptr<FixRow> screenCapture_;
    std::unique_ptr<FixRow> inputControl_;
    std::unique_ptr<FixRow> clipboardText_;
    std::unique_ptr<FixRow> wake_;
};

} // namespace dovrel::agent
