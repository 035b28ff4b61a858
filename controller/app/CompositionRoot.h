#pragma once

#include <memory>
#include <string>

#include <QStringList>

#include "controller/app/OfflineNetworkAccess.h"
#include "controller/ui/root/LaunchArguments.h"

class QQmlApplicationEngine;
class QQuickWindow;

namespace dovrel::controller {

class AccountApi;
class Clipboard;
class ClipboardFileHost;
class ClipboardTextSync;
class FileTransfers;
class ReceiveFolder;
class AppearanceModel;
class ClientSessionPort;
class PendingReminders;
class QuibClient;
class QuibPanelModel;
class TimeTracker;
class ColorSchemeSource;
class DeckViewModel;
class DeviceStore;
class MachineWaker;
class NetworkInterfaces;
class WakeSender;
class InputSelfTest;
class ReachabilityPoller;
class RelayAccount;
class RemoteInput;
class PairingViewModel;
class RootViewModel;
class SecretStore;
class SecretsThread;
class SessionViewModel;
class SignInViewModel;
class UsageMeter;
class UserDefaults;
class WEXClient;
class WindowSnapshots;
class X11WindowCover;

// DovrelController's object graph, built once: the settings, the secrets, the window's session client,
// the services around it, the view-models, and the QML engine showing the window. The only place that
// names every concrete class. Main thread.
class CompositionRoot {
public:
    struct Options {
        QStringList arguments;                // the launch arguments, the program's name first
        std::string settingsPath;             // empty: the user's settings file
        std::shared_ptr<SecretStore> secrets; // null: the keychain with its file fallback
    };

    explicit CompositionRoot(Options options);
    ~CompositionRoot();

    // Shows the window. False, with the reason in `error`, when the settings or the QML cannot be used.
    bool start(std::string& error);
    // For a program ending where it stands, its display gone and its event loop never to turn again: the
    // session, when one stands, is told goodbye and its links are closed, waited for on the client
    // thread; nothing else is taken down, nothing that draws is touched. Any thread but the client's.
    void closeSessionNow();

    QQuickWindow* window() const;
    WEXClient& client() { return *client_; }
    FileTransfers& transfers() { return *transfers_; }
    QuibPanelModel& assistantPanel() { return *quibPanel_; }
    RootViewModel& root() { return *root_; }
    UsageMeter& usage() { return *usage_; }
    RelayAccount& account() { return *account_; }
    ClipboardTextSync& clipboardText() { return *clipboardText_; }
    ClipboardFileHost& clipboardFiles() { return *clipboardFiles_; }
    const LaunchArguments& arguments() const { return arguments_; }

private:
    Options options_;
    LaunchArguments arguments_;
    std::shared_ptr<UserDefaults> defaults_;
    std::shared_ptr<SecretsThread> secrets_;
    std::shared_ptr<RelayAccount> account_;
    std::unique_ptr<ColorSchemeSource> colorScheme_;
    std::unique_ptr<WEXClient> client_;
    std::unique_ptr<RemoteInput> input_;
    std::shared_ptr<Clipboard> clipboard_;
    std::unique_ptr<FileTransfers> transfers_;
    std::unique_ptr<ReceiveFolder> receiveFolder_;
    std::unique_ptr<ClipboardTextSync> clipboardText_;
    std::shared_ptr<ClipboardFileHost> clipboardFiles_;
    std::shared_ptr<PendingReminders> reminders_;
    std::shared_ptr<TimeTracker> tracker_;
    std::shared_ptr<QuibClient> quib_;
    std::unique_ptr<QuibPanelModel> quibPanel_;
    std::unique_ptr<InputSelfTest> selfTest_;
    std::unique_ptr<UsageMeter> usage_;
    std::unique_ptr<DeviceStore> store_;
    std::shared_ptr<AccountApi> api_;
    std::unique_ptr<ReachabilityPoller> poller_;
    std::unique_ptr<NetworkInterfaces> interfaces_;
    std::unique_ptr<WakeSender> wakeSender_;
    std::unique_ptr<MachineWaker> waker_;
    std::unique_ptr<AppearanceModel> appearance_;
    std::unique_ptr<ClientSessionPort> sessionPort_;
    std::unique_ptr<RootViewModel> root_;
    std::unique_ptr<DeckViewModel> deck_;
    std::unique_ptr<PairingViewModel> pairing_;
    std::unique_ptr<SignInViewModel> signIn_;
    std::unique_ptr<SessionViewModel> session_;
    OfflineNetworkAccess offline_;                  // outlives the engine that asks it for its network access
    std::unique_ptr<QQmlApplicationEngine> engine_; // goes first: the QML holds the view-models
    std::unique_ptr<X11WindowCover> cover_;         // the window's covered mark, on an X server
    std::unique_ptr<WindowSnapshots> snapshots_;
};

} // namespace dovrel::controller
