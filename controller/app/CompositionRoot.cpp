#include "controller/app/CompositionRoot.h"

#include <QColor>
#include <QDBusConnection>
#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QUrl>

#include "controller/app/EnvironmentPorts.h"
#include "controller/app/WindowSnapshots.h"
#include "controller/client/files/ClipboardFileHost.h"
#include "controller/client/files/ClipboardTextSync.h"
#include "controller/client/files/FileTransfers.h"
#include "controller/client/files/ReceiveFolder.h"
#include "controller/client/input/InputSelfTest.h"
#include "controller/client/input/RemoteInput.h"
#include "controller/client/session/ClipboardBinding.h"
#include "controller/client/session/InputBinding.h"
#include "controller/client/session/WEXClient.h"
#include "controller/platform/ColorSchemeSource.h"
#include "controller/platform/DBusDesktopNotifications.h"
#include "controller/platform/KeychainSecretStore.h"
#include "controller/platform/NetworkInterfaces.h"
#include "controller/platform/QtClipboard.h"
#include "controller/platform/QtHttpClient.h"
#include "controller/platform/SecretsThread.h"
#include "controller/platform/TcpReachabilityProbe.h"
#include "controller/platform/UserDefaults.h"
#include "controller/platform/WakeSender.h"
#include "controller/platform/WallClock.h"
#include "controller/platform/X11WindowCover.h"
#include "controller/services/AccountApi.h"
#include "controller/services/DemoDeck.h"
#include "controller/services/DeviceStore.h"
#include "controller/services/MachineWaker.h"
#include "controller/services/PendingReminders.h"
#include "controller/services/QuibClient.h"
#include "controller/services/ReachabilityPoller.h"
#include "controller/services/RelayAccount.h"
#include "controller/services/TimeTracker.h"
#include "controller/services/UsageMeter.h"
#include "controller/ui/assistant/ClientAssistantRemote.h"
#include "controller/ui/assistant/QuibPanelModel.h"
#include "controller/ui/deck/DeckViewModel.h"
#include "controller/ui/look/AppearanceModel.h"
#include "controller/ui/pairing/PairingViewModel.h"
#include "controller/ui/root/RootViewModel.h"
#include "controller/ui/session/SessionPort.h"
#include "controller/ui/session/SessionViewModel.h"
#include "controller/ui/signin/SignInViewModel.h"
#include "protocol/MagicPacket.h"
#include "runtime/Scheduler.h"

namespace dovrel::controller {

namespace {
constexpr int snapshotIntervalMs = 2000;
// The theme's accent, which colours the click ripples.
const QColor sessionAccent = QColor::fromRgbF(0.063f, 0.725f, 0.506f);
const QUrl mainQml(QStringLiteral("qrc:/qt/qml/Dovrel/Controller/Main.qml"));
} // namespace

CompositionRoot::CompositionRoot(Options options)
    : options_(std::move(options)), arguments_(LaunchArguments::parse(options_.arguments)) {}

CompositionRoot::~CompositionRoot() {
    snapshots_.reset();
    cover_.reset();
    engine_.reset();
    // The assistant and the clipboard services talk to the client: they go before it, in the reverse
    // order of their making.
    quibPanel_.reset();
    quib_.reset();
    tracker_.reset();
    reminders_.reset();
    clipboardFiles_.reset();
    clipboardText_.reset();
    receiveFolder_.reset();
    transfers_.reset();
    clipboard_.reset();
}

void CompositionRoot::closeSessionNow() {
    if (client_) client_->disconnectSessionNow();
}

QQuickWindow* CompositionRoot::window() const {
    if (!engine_ || engine_->rootObjects().isEmpty()) return nullptr;
    return qobject_cast<QQuickWindow*>(engine_->rootObjects().first());
}

bool CompositionRoot::start(std::string& error) {
    std::string portError;
    const EnvironmentPorts ports = EnvironmentPorts::read(portError);
    if (!portError.empty()) {
        error = portError;
        return false;
    }

    const std::string settingsPath =
        options_.settingsPath.empty() ? UserDefaults::defaultPath() : options_.settingsPath;
    defaults_ = std::make_shared<UserDefaults>(settingsPath, options_.arguments);
    // Every keychain call of the program, on one thread of its own.
    secrets_ = std::make_shared<SecretsThread>(options_.secrets ? options_.secrets : makeSystemSecretStore());

    // Every host name the program dials is looked up here, never by Qt's own lookups.
    const std::shared_ptr<HostResolver> resolver = makeSystemResolver();
    ClientConfig config;
    config.resolver = resolver;
    config.settingsPath = settingsPath;
    config.arguments = options_.arguments;
    config.secretsThread = secrets_;
    if (ports.video) config.videoPort = *ports.video;
    if (ports.input) config.inputPort = *ports.input;
    if (ports.control) config.controlPort = *ports.control;
    // The signed-in relay account: relay dials whose link names none go with it.
    account_ = std::make_shared<RelayAccount>(secrets_, QString::fromStdString(config.defaultRelayHost),
                                              config.defaultRelayPort);
    const QString relayHost = QString::fromStdString(config.defaultRelayHost);
    const uint16_t relayPort = config.defaultRelayPort;
    client_ = std::make_unique<WEXClient>(std::move(config), account_);
    // The mouse and keyboard over the picture; the self-test plays into each session it is asked for.
    input_ = makeRemoteInput(*client_, realScheduler());
    selfTest_ = makeInputSelfTest(*client_, *input_, realScheduler(), defaults_, options_.arguments);

    // Clipboard text and files both ways, and files sent to the machine, while a session is up.
    clipboard_ = std::make_shared<QtClipboard>();
    transfers_ = std::make_unique<FileTransfers>(*client_, *client_, realScheduler());
    receiveFolder_ = std::make_unique<ReceiveFolder>(ReceiveFolder::defaultBase());
    clipboardText_ = std::make_unique<ClipboardTextSync>(*clipboard_, *client_, realScheduler());
    clipboardFiles_ = std::make_shared<ClipboardFileHost>(*clipboard_, *client_, *transfers_, *receiveFolder_, *client_,
                                                          realScheduler());
    bindClipboardToSession(*client_, *clipboardText_, clipboardFiles_);

    // Session time, counted while sessions are up and input is sent, with the reminders it schedules.
    auto wallClock = std::make_shared<SystemWallClock>();
    reminders_ = std::make_shared<PendingReminders>(
        defaults_, std::make_shared<DBusDesktopNotifications>(QDBusConnection::sessionBus()), wallClock,
        realScheduler());
    tracker_ = std::make_shared<TimeTracker>(defaults_, wallClock, reminders_);
    QObject::connect(client_.get(), &WEXClient::sessionEstablished, tracker_.get(),
                     [this] { tracker_->sessionStarted(client_->agentDeviceId()); });
    QObject::connect(client_.get(), &WEXClient::sessionEnded, tracker_.get(), &TimeTracker::sessionEnded);
    QObject::connect(input_.get(), &RemoteInput::inputSent, tracker_.get(), &TimeTracker::noteInput);
    reminders_->start();

    // The writing assistant: the relay's grant, then the cloud; it reads and types through the session.
    auto http = std::make_shared<QtHttpClient>(resolver);
    quib_ = std::make_shared<QuibClient>(http, account_, defaults_, wallClock,
                                         QuibClient::endpointFor(QString::fromLatin1(QuibClient::defaultEndpointHost)));
    quibPanel_ = std::make_unique<QuibPanelModel>(
        quib_, std::make_shared<ClientAssistantRemote>(*input_, *client_, *clipboardText_), clipboard_);

    // What the sessions receive counts towards the usage shown in the deck.
    usage_ = std::make_unique<UsageMeter>(defaults_);
    QObject::connect(client_.get(), &WEXClient::receivedBytes, usage_.get(), &UsageMeter::addReceived);

    // The saved machines: the sample deck when the launch or the settings ask for demo machines, or
    // for demo sessions on an empty deck (shown, not saved).
    const bool storeDemo = DeviceStore::isDemo(options_.arguments, *defaults_);
    store_ = std::make_unique<DeviceStore>(defaults_, storeDemo);
    if (arguments_.demo && store_->count() == 0) store_->setDevices(DemoDeck::devices());
    api_ = std::make_shared<AccountApi>(http, QString::fromUtf8(wex::WEX::relayApiHost), wex::WEX::relayApiPort,
                                        relayHost, relayPort);
    // Presence on the local network is the agent's control port answering, or refusing.
    poller_ = std::make_unique<ReachabilityPoller>(
        *store_, realScheduler(), std::make_shared<TcpReachabilityProbe>(realScheduler(), resolver), api_, account_,
        storeDemo || arguments_.demo, ports.control.value_or(wex::WEX::controlPort));

    // The deck, whose "wake & connect" sends magic packets on this computer's own networks.
    interfaces_ = std::make_unique<SystemNetworkInterfaces>();
    wakeSender_ = makeUdpWakeSender({wex::MagicPacket::ports.begin(), wex::MagicPacket::ports.end()});
    waker_ = std::make_unique<MachineWaker>(*wakeSender_, *interfaces_);

    colorScheme_ = makeDesktopColorScheme({});
    appearance_ = std::make_unique<AppearanceModel>(defaults_, *colorScheme_);
    sessionPort_ = std::make_unique<ClientSessionPort>(*client_, *input_, *store_);
    root_ = std::make_unique<RootViewModel>(*sessionPort_, *store_, *account_, arguments_,
                                            [poller = poller_.get()] { poller->start(); });
    deck_ = std::make_unique<DeckViewModel>(*root_, *store_, *usage_, *waker_, arguments_.demo, QLocale());
    pairing_ = std::make_unique<PairingViewModel>(*api_, *account_, *root_);
    signIn_ = std::make_unique<SignInViewModel>(*api_, *account_, *root_);
    session_ = std::make_unique<SessionViewModel>(*client_, *input_, *transfers_, realScheduler(), sessionAccent);
    // The session window is open exactly while the root shows it; its "End" ends the session.
    QObject::connect(root_.get(), &RootViewModel::routeChanged, session_.get(),
                     [this] { session_->setWindowOpen(root_->route() == RootViewModel::Route::Session); });
    QObject::connect(session_.get(), &SessionViewModel::exitRequested, root_.get(), &RootViewModel::endSession);
    // Nothing of the session goes on once its window has gone.
    QObject::connect(session_.get(), &SessionViewModel::windowLeft, clipboardFiles_.get(),
                     [files = clipboardFiles_.get()] { files->stop(); });
    QObject::connect(session_.get(), &SessionViewModel::windowLeft, quibPanel_.get(), &QuibPanelModel::hide);
    // The assistant's notice offers signing in: the root opens the sheet, and the panel asks again
    // where Quib runs once the account changed.
    QObject::connect(quibPanel_.get(), &QuibPanelModel::signInRequested, root_.get(), &RootViewModel::accountTapped);
    QObject::connect(account_.get(), &RelayAccount::changed, quibPanel_.get(), [panel = quibPanel_.get()] {
        if (panel->isOpen()) panel->refresh();
    });

    engine_ = std::make_unique<QQmlApplicationEngine>();
    // Nothing the window shows is fetched from the network.
    engine_->setNetworkAccessManagerFactory(&offline_);
    // Warnings are gathered while the window is made, to say why it could not be; later ones (a dialog
    // opened long after) go only to standard error, never into this function's long-gone list.
    QStringList warnings;
    const QMetaObject::Connection gathering = QObject::connect(
        engine_.get(), &QQmlApplicationEngine::warnings, engine_.get(), [&warnings](const QList<QQmlError>& list) {
            for (const QQmlError& e : list)
                warnings << e.toString();
        });
    engine_->setInitialProperties({{"root", QVariant::fromValue(root_.get())},
                                   {"session", QVariant::fromValue(session_.get())},
                                   {"appearance", QVariant::fromValue(appearance_.get())},
                                   {"deck", QVariant::fromValue(deck_.get())},
                                   {"pairing", QVariant::fromValue(pairing_.get())},
                                   {"signIn", QVariant::fromValue(signIn_.get())},
                                   {"assistant", QVariant::fromValue(quibPanel_.get())}});
    engine_->load(mainQml);
    QObject::disconnect(gathering);
    QQuickWindow* shown = window();
    if (!shown) {
        error = "the window could not be made: " + warnings.join(QStringLiteral("; ")).toStdString();
        return false;
    }
    cover_ = std::make_unique<X11WindowCover>(*shown);
    if (arguments_.windowSnapshot)
        snapshots_ = std::make_unique<WindowSnapshots>(*shown, *arguments_.windowSnapshot, snapshotIntervalMs);
    return true;
}

} // namespace dovrel::controller
