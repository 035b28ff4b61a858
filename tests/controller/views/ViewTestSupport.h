#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QQuickStyle>

#include "../FakeHttpClient.h"
#include "../ui/GuiTestApp.h"

#include "../../support/TempHome.h"
#include "brand/InterfaceFont.h"
#include "controller/platform/ColorSchemeSource.h"
#include "controller/platform/FileSecretStore.h"
#include "controller/platform/NetworkInterfaces.h"
#include "controller/platform/SecretsThread.h"
#include "controller/platform/WakeSender.h"
#include "controller/services/AccountApi.h"
#include "controller/services/DeviceStore.h"
#include "controller/services/MachineWaker.h"
#include "controller/services/RelayAccount.h"
#include "controller/services/UsageMeter.h"
#include "controller/ui/deck/DeckViewModel.h"
#include "controller/ui/session/SessionPort.h"

namespace dovrel::controller::test {

// The offscreen application, with the controls' style and the font the program sets before any QML
// loads.
inline QGuiApplication& viewApp() {
    static QGuiApplication& a = []() -> QGuiApplication& {
        QGuiApplication& app = guiApp();
        QQuickStyle::setStyle(QStringLiteral("Basic"));
        dovrel::brand::useInterfaceFont();
        return app;
    }();
    return a;
}

// Runs the event loop until `done` holds or the generous deadline passes; false on the deadline.
template <typename F> bool waitUntil(F&& done, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// A desktop whose colour scheme is dark.
class DarkDesktop final : public ColorSchemeSource {
public:
    ColorScheme current() const override { return ColorScheme::dark; }
};

// Records the wake packets instead of sending them.
struct RecordingWakeSender final : WakeSender {
    struct Sent {
        wex::Bytes packet;
        uint32_t source, broadcast;
    };
    bool sendBroadcast(const wex::Bytes& packet, uint32_t source, uint32_t broadcast) override {
        sent.push_back({packet, source, broadcast});
        return true;
    }
    std::vector<Sent> sent;
};

// One home network, 192.168.1.20/24.
struct HomeNetwork final : NetworkInterfaces {
    std::optional<std::vector<InterfaceAddress>> ipv4Addresses() const override {
        return std::vector<InterfaceAddress>{{0xC0A80114, 0xFFFFFF00}};
    }
};

// What the deck asks of the root, recorded.
struct RecordingDeckTarget final : DeckTarget {
    void open(int row) override {
        opens.push_back(row);
        if (opening) opening();
    }
    void renameRequested(int row) override { renames.push_back(row); }
    void unpairRequested(int row) override { unpairs.push_back(row); }
    void showPairing() override { ++pairings; }
    void accountTapped() override { ++accountTaps; }
    QString accountName() const override { return name; }
    void onAccountNameChanged(std::function<void()> listener) override { nameListener = std::move(listener); }

    std::vector<int> opens, renames, unpairs;
    int pairings = 0, accountTaps = 0;
    QString name;
    std::function<void()> nameListener;
    std::function<void()> opening; // called with each open
};

// The deck's model, asking `target`, over a store of its own (or the one given) and a usage meter of
// its own settings file, waking into a recorder.
struct DeckParts {
    DeckParts(DeckTarget& target, const std::string& settingsPath, bool demo,
              QLocale locale = QLocale(QLocale::English, QLocale::UnitedStates))
        : defaults(std::make_shared<UserDefaults>(settingsPath)), ownStore(std::in_place, defaults, demo),
          store(*ownStore), usage(defaults), waker(wakes, network), deck(target, store, usage, waker, demo, locale) {}
    DeckParts(DeckTarget& target, DeviceStore& shown, const std::string& settingsPath, bool demo,
              QLocale locale = QLocale(QLocale::English, QLocale::UnitedStates))
        : defaults(std::make_shared<UserDefaults>(settingsPath)), store(shown), usage(defaults), waker(wakes, network),
          deck(target, store, usage, waker, demo, locale) {}

    std::shared_ptr<UserDefaults> defaults;
    std::optional<DeviceStore> ownStore;
    DeviceStore& store;
    UsageMeter usage;
    RecordingWakeSender wakes;
    HomeNetwork network;
    MachineWaker waker;
    DeckViewModel deck;
};

// A session client that records what it is asked and plays the phases a test sets.
class FakeSessionPort final : public SessionPort {
public:
    struct Dial {
        std::string kind; // "host" or "relay"
        QString target;   // the host, or the relay room
        QString name;     // relay dials: the machine's name
        QString code;
    };

    PhaseKind phase() const override { return phase_; }
    void connectToHost(const QString& host, const QString& code) override { dials.push_back({"host", host, {}, code}); }
    void connectToMachine(const QString& host, const QString& name, const std::optional<RelayDial>& relay,
                          const QString& code) override {
        dials.push_back({"host", host, name, code});
        fallbacks.push_back(relay);
    }
    void connectViaRelay(const RelayDial& dial, const QString& code) override {
        dials.push_back({"relay", QString::fromStdString(dial.room), QString::fromStdString(dial.name), code});
        relayDials.push_back(dial);
    }
    void disconnectSession() override { ++disconnects; }
    // Like the client, a demo stands at once.
    void startDemo() override {
        ++demos;
        play(PhaseKind::connected);
    }
    void setTargetKind(std::optional<Device::Kind> kind) override {
        targetKind = kind;
        targetIsWindows = kind == Device::Kind::windows;
    }
    void revokePairing(const RevokeTarget& target, std::function<void(UnpairOutcome)> done) override {
        revokes.push_back(target);
        revokeOutcomes.push_back(std::move(done));
    }
    void nextSessionSaves(std::optional<PendingMachine> machine) override { pending.push_back(std::move(machine)); }
    QString agentDeviceId() const override { return agentId; }
    QString refusal() const override { return phase_ == PhaseKind::rejected ? refusalText : QString(); }
    RefusedPart refusedPart() const override { return phase_ == PhaseKind::rejected ? refused : RefusedPart::none; }
    std::optional<QString> identityProblem() const override { return problem; }

    void play(PhaseKind kind) {
        phase_ = kind;
        emit phaseChanged();
    }
    // Refused for `text`, which concerns `part` of the dial.
    void refuse(const QString& text, RefusedPart part) {
        refusalText = text;
        refused = part;
        play(PhaseKind::rejected);
    }
    void stats(uint8_t cpu, uint8_t ram, int8_t battery) {
        wex::DeckStat s{};
        s.cpu = cpu;
        s.ram = ram;
        s.battery = battery;
        emit deckStatArrived(s);
    }

    std::vector<Dial> dials;
    std::vector<RelayDial> relayDials;
    std::vector<RevokeTarget> revokes;
    std::vector<std::function<void(UnpairOutcome)>> revokeOutcomes; // with each revoke
    std::vector<std::optional<RelayDial>> fallbacks;                // with each local-network dial
    std::vector<std::optional<PendingMachine>> pending;
    QString agentId;
    int disconnects = 0;
    int demos = 0;
    std::optional<bool> targetIsWindows;
    std::optional<Device::Kind> targetKind;
    std::optional<QString> problem; // what the keychain said of the identity
    QString refusalText;
    RefusedPart refused = RefusedPart::none;

private:
    PhaseKind phase_ = PhaseKind::disconnected;
};

// What a root view is built on besides its session client: saved machines and a relay account in
// private files.
struct RootServices {
    QGuiApplication& application = viewApp(); // the relay account's answer comes through its event loop
    dovrel::test::TempDir dir;
    std::shared_ptr<UserDefaults> defaults = std::make_shared<UserDefaults>(dir.file("controller.ini"));
    DeviceStore store{defaults, false};
    std::shared_ptr<RelayAccount> account = std::make_shared<RelayAccount>(
        std::make_shared<SecretsThread>(std::make_shared<FileSecretStore>(dir.file("secrets"))), "relay.example", 8443);
    int pollStarts = 0;
    std::function<void()> startPolling = [this] { ++pollStarts; };
    std::shared_ptr<FakeHttpClient> http = std::make_shared<FakeHttpClient>();
    AccountApi api{http, "api.example", 443, "relay.example", 8443};
};

} // namespace dovrel::controller::test
