#include "controller/app/CompositionRoot.h"

#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QUrl>

#include "controller/app/EnvironmentPorts.h"
#include "controller/app/WindowSnapshots.h"
#include "controller/client/InputSelfTest.h"
#include "controller/client/RemoteInput.h"
#include "controller/client/WEXClient.h"
#include "controller/platform/ColorSchemeSource.h"
#include "controller/platform/KeychainSecretStore.h"
#include "controller/platform/UserDefaults.h"
#include "controller/services/UsageMeter.h"
#include "controller/ui/AppearanceModel.h"
#include "controller/ui/RootViewModel.h"
#include "controller/ui/SessionPort.h"
#include "controller/ui/SessionViewModel.h"
#include "runtime/Scheduler.h"

namespace dovrel::controller {

namespace {
constexpr int snapshotIntervalMs = 2000;
const QUrl mainQml(QStringLiteral("qrc:/qt/qml/Dovrel/Controller/Main.qml"));
} // namespace

CompositionRoot::CompositionRoot(Options options)
    : options_(std::move(options)), arguments_(LaunchArguments::parse(options_.arguments)) {}

CompositionRoot::~CompositionRoot() {
    snapshots_.reset();
    engine_.reset();
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
    auto secrets = options_.secrets ? options_.secrets : makeSystemSecretStore();

    ClientConfig config;
    config.settingsPath = settingsPath;
    config.arguments = options_.arguments;
    config.secrets = secrets;
    if (ports.video) config.videoPort = *ports.video;
    if (ports.input) config.inputPort = *ports.input;
    if (ports.control) config.controlPort = *ports.control;
    client_ = std::make_unique<WEXClient>(std::move(config));
    // The mouse and keyboard over the picture; the self-test plays into each session when asked for.
    input_ = makeRemoteInput(*client_, realScheduler());
    if (InputSelfTest::requested(*defaults_, options_.arguments))
        selfTest_ = makeInputSelfTest(*client_, *input_, realScheduler());

    // What the sessions receive counts towards the usage shown in the deck.
    usage_ = std::make_unique<UsageMeter>(defaults_);
    QObject::connect(client_.get(), &WEXClient::receivedBytes, usage_.get(), &UsageMeter::addReceived);

    colorScheme_ = makeDesktopColorScheme();
    appearance_ = std::make_unique<AppearanceModel>(defaults_, *colorScheme_);
    sessionPort_ = std::make_unique<ClientSessionPort>(*client_);
    root_ = std::make_unique<RootViewModel>(*sessionPort_, arguments_);
    session_ = std::make_unique<SessionViewModel>(*client_, *input_);

    engine_ = std::make_unique<QQmlApplicationEngine>();
    QStringList warnings;
    QObject::connect(engine_.get(), &QQmlApplicationEngine::warnings, [&warnings](const QList<QQmlError>& list) {
        for (const QQmlError& e : list)
            warnings << e.toString();
    });
    engine_->setInitialProperties({{"root", QVariant::fromValue(root_.get())},
                                   {"session", QVariant::fromValue(session_.get())},
                                   {"appearance", QVariant::fromValue(appearance_.get())}});
    engine_->load(mainQml);
    QQuickWindow* shown = window();
    if (!shown) {
        error = "the window could not be made: " + warnings.join(QStringLiteral("; ")).toStdString();
        return false;
    }
    if (arguments_.windowSnapshot)
        snapshots_ = std::make_unique<WindowSnapshots>(*shown, *arguments_.windowSnapshot, snapshotIntervalMs);
    return true;
}

} // namespace dovrel::controller
