// End to end through the pairing screen: the real DovrelAgent on a private X server registers with the
// relay double and logs its pairing link; that link, with the code the agent shows on its terminal, is
// pasted into the controller's pairing screen (the real client, models and QML, offscreen) and Connect
// pressed. The machine is saved, the code pairs it, and the window shows the agent's screen.
#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <thread>

#include <QClipboard>
#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>
#include <QtQml/QQmlExtensionPlugin>

#include <gtest/gtest.h>

#include "../../support/ChildProcess.h"
#include "../../support/FileText.h"
#include "../../support/TempHome.h"
#include "../../support/XTestClient.h"
#include "../../support/XvfbServer.h"
#include "../ui/QuibPanelFakes.h"
#include "../views/MainWindow.h"
#include "../views/PairingTestSupport.h"
#include "../views/ViewTestSupport.h"
#include "controller/client/input/RemoteInput.h"
#include "controller/client/session/InputBinding.h"
#include "controller/ui/look/AppearanceModel.h"
#include "controller/ui/pairing/PairingViewModel.h"
#include "controller/ui/root/RootViewModel.h"
#include "controller/ui/session/SessionViewModel.h"
#include "controller/ui/signin/SignInViewModel.h"
#include "runtime/Scheduler.h"
#include "tests/support/TestCA.h"
#include "tests/support/relay/RelayDouble.h"

Q_IMPORT_QML_PLUGIN(Dovrel_ControllerPlugin)
Q_IMPORT_QML_PLUGIN(Dovrel_LookPlugin)

using namespace std::chrono_literals;
using namespace dovrel::controller;
using namespace dovrel::controller::test;
using dovrel::test::ChildProcess;
using dovrel::test::readFile;
using dovrel::test::TempDir;

namespace {

// Close to the colour the agent's screen was filled with, after the trip through H.264 and back.
bool near(QRgb pixel, uint32_t rgb) {
    const auto close = [](int a, int b) { return std::abs(a - b) <= 24; };
    return close(qRed(pixel), (rgb >> 16) & 0xff) && close(qGreen(pixel), (rgb >> 8) & 0xff) &&
           close(qBlue(pixel), rgb & 0xff);
}

QQuickItem* findItem(QQuickItem* from, const QString& name) {
    if (from->objectName() == name) return from;
    for (QQuickItem* child : from->childItems())
        if (QQuickItem* found = findItem(child, name)) return found;
    return nullptr;
}

} // namespace

TEST(PairingLinkE2E, TheAgentsLinkPastedIntoThePairingScreenPairsAndShowsItsScreen) {
    viewApp();
    dovrel::test::XvfbServer xvfb{1280, 720};
    if (!xvfb.running()) GTEST_SKIP() << "no X server for the agent: " << xvfb.failure();
    if (dovrel::test::findProgram("script").empty()) GTEST_SKIP() << "no script(1) to give the agent a terminal";
    dovrel::test::XTestClient screen(xvfb.display());
    ASSERT_TRUE(screen.ok());
    constexpr uint32_t colour = 0x3c9a28;
    screen.fill(0, 0, screen.width(), screen.height(), colour);

    TempDir certDir;
    const dovrel::test::TestCertificates certs = dovrel::test::makeTestCertificates(certDir.path());
    dovrel::test::RelayDouble::Options relayOptions;
    relayOptions.certFile = certs.certFile;
    relayOptions.keyFile = certs.keyFile;
    dovrel::test::RelayDouble relay{relayOptions};

    // The agent, reached only through the relay (its local network turned off as the README says), on a
    // terminal of its own (where it shows its code).
    TempDir agentHome;
    std::filesystem::create_directories(agentHome.path() / ".config/Dovrel");
    std::ofstream(agentHome.file(".config/Dovrel/relay.json"))
        << "{\"lan\": false, \"host\": \"127.0.0.1\", \"port\": " << relay.port() << "}";
    ChildProcess agent;
    ChildProcess::Options o;
    o.env = {{"HOME", agentHome.str()},
             {"XDG_CONFIG_HOME", agentHome.file(".config")},
             {"DISPLAY", xvfb.display()},
             {"DOVREL_TEST_CA_FILE", certs.caFile},
             {"DBUS_SESSION_BUS_ADDRESS", "disabled:"},
             {"DBUS_SYSTEM_BUS_ADDRESS", "disabled:"}};
    o.logFile = agentHome.file("agent.out");
    ASSERT_TRUE(agent.start(
        {dovrel::test::findProgram("script"), "-qfec", std::string("'") + DOVREL_AGENT_BINARY + "'", "/dev/null"}, o));
    static const std::regex linkLine(R"(QR/pair URL: (dovrel://pair\?\S+))");
    static const std::regex codeLine(R"(PAIRING CODE: (\d+))");
    std::smatch l, c;
    std::string log;
    ASSERT_TRUE(waitFor(
        [&] {
            log = readFile(agentHome.file("agent.out"));
            return std::regex_search(log, l, linkLine) && std::regex_search(log, c, codeLine);
        },
        30s))
        << "the agent did not log its link and code:\n"
        << log;
    ASSERT_TRUE(relay.waitForEvent("registered role=agent")) << log;
    // The log never holds the code; the person reads it off the agent's window.
    std::string link = l[1];
    const std::string redacted = "…redacted…";
    const auto at = link.find(redacted);
    ASSERT_NE(at, std::string::npos) << link;
    link.replace(at, redacted.size(), c[1].str());

    // The controller's graph, as the program builds it, with the relay double as its relay.
    RootServices services;
    TempDir controllerHome;
    ClientConfig config;
    config.settingsPath = controllerHome.file("controller.ini");
    config.secrets = std::make_shared<FileSecretStore>(controllerHome.file("secrets"));
    config.videoPort = 0;
    // A link without an account reaches the agent through the controller's own relay: the double.
    config.defaultRelayHost = "127.0.0.1";
    config.defaultRelayPort = relay.port();
    config.relayCaFile = certs.caFile;
    WEXClient client(std::move(config), services.account);
    auto input = makeRemoteInput(client, dovrel::realScheduler());
    ClientSessionPort port(client, *input, services.store);
    RootViewModel root(port, services.store, *services.account, LaunchArguments::parse({"p"}), services.startPolling);
    FileTransfers files(client, client, dovrel::realScheduler());
    SessionViewModel session(client, *input, files, dovrel::realScheduler(), QColor(16, 185, 129));
    PairingViewModel pairing(services.api, *services.account, root);
    SignInViewModel signIn(services.api, *services.account, root);
    DarkDesktop desktop;
    AppearanceModel appearance(services.defaults, desktop);
    DeckParts deckParts(root, services.store, controllerHome.file("deck.ini"), false);
    PanelParts quib;
    QQmlApplicationEngine engine;
    QQuickWindow* window =
        loadMainWindow(engine, {root, session, appearance, pairing, signIn, deckParts.deck, quib.panel});
    ASSERT_TRUE(window);
    window->requestActivate();

    root.showPairing();
    QQuickItem* field = nullptr;
    ASSERT_TRUE(waitFor([&] {
        field = findItem(window->contentItem(), "linkField");
        return field && field->isVisible();
    }));
    // Pasted: the link goes through the clipboard into the focused field.
    QGuiApplication::clipboard()->setText(QString::fromStdString(link));
    QMetaObject::invokeMethod(field, "forceActiveFocus");
    QTest::keyClick(window, Qt::Key_V, Qt::ControlModifier);
    ASSERT_TRUE(waitFor([&] { return pairing.link() == QString::fromStdString(link); })) << link;
    QQuickItem* connect = findItem(window->contentItem(), "linkConnect");
    ASSERT_TRUE(connect);
    QTest::mouseClick(window, Qt::LeftButton, {},
                      connect->mapToScene(QPointF(connect->width() / 2, connect->height() / 2)).toPoint());

    ASSERT_TRUE(waitFor([&] { return services.store.count() == 1; })) << "the machine is saved";
    EXPECT_TRUE(services.store.devices().at(0).deviceId.has_value());
    EXPECT_EQ(root.route(), RootViewModel::Route::Session);
    EXPECT_EQ(input->targetKind(), TargetKind::linuxDesktop) << "the link's kind: shortcuts with Control, not Super";
    std::string seen = "nothing";
    EXPECT_TRUE(waitFor(
        [&] {
            const QImage picture = window->grabWindow();
            const QRgb a = picture.pixel(picture.width() / 3, picture.height() / 3);
            const QRgb b = picture.pixel(picture.width() * 2 / 3, picture.height() * 3 / 5);
            seen = QString::asprintf("#%06x and #%06x", a & 0xffffff, b & 0xffffff).toStdString();
            return near(a, colour) && near(b, colour);
        },
        60s))
        << "the agent's screen never showed (the window showed " << seen << "); relay:\n"
        <<
        [&] {
            std::string all;
            for (const auto& e : relay.events())
                all += e + "\n";
            return all;
        }()
        << "agent:\n"
        << readFile(agentHome.file("agent.out"));
    // The code in the link paired this controller: the agent keeps its key.
    std::error_code noSize;
    EXPECT_GE(std::filesystem::file_size(agentHome.path() / ".dovrel/paired", noSize), 32u);
}
