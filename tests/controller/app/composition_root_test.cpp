// The controller's real object graph, as the program builds it, offscreen with private files: a session
// the launch asks for reaches the scripted agent through the root view, and every collaborator around
// the client hears of it.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>

#include <QCoreApplication>
#include <QGuiApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTcpServer>

#include <gtest/gtest.h>

#include "ClosedPort.h"
#include "QuickItems.h"
#include "TempHome.h"
#include "TestAgent.h"
#include "controller/app/CompositionRoot.h"
#include "controller/client/session/ClientCore.h"
#include "controller/client/files/ClipboardFileHost.h"
#include "controller/client/files/ClipboardTextSync.h"
#include "controller/client/session/WEXClient.h"
#include "controller/platform/FileSecretStore.h"
#include "controller/services/RelayAccount.h"
#include "controller/services/UsageMeter.h"
#include "controller/ui/root/RootViewModel.h"
#include "protocol/SessionSetupMessages.h"

using namespace std::chrono_literals;
using dovrel::controller::CompositionRoot;
using dovrel::controller::PhaseKind;
using dovrel::controller::RootViewModel;
using dovrel::test::closedPort;

namespace {

// The process's one QGuiApplication, offscreen, in a home of its own: nothing the graph writes (settings,
// received files, secrets) reaches the user's.
dovrel::test::TempDir& home() {
    static dovrel::test::TempDir dir;
    return dir;
}

QGuiApplication& guiApp() {
    static int argc = 1;
    static char arg0[] = "composition_root_test";
    static char* argv[] = {arg0, nullptr};
    static QGuiApplication* app = [] {
        ::setenv("HOME", home().str().c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", home().file(".config").c_str(), 1);
        ::setenv("XDG_DATA_HOME", home().file(".local/share").c_str(), 1);
        ::setenv("XDG_CACHE_HOME", home().file(".cache").c_str(), 1);
        ::setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ::setenv("QT_QUICK_BACKEND", "software", 1);
        return new QGuiApplication(argc, argv);
    }();
    return *app;
}

template <typename F> bool waitUntil(F&& done, std::chrono::milliseconds deadline = 20s) {
    const auto until = std::chrono::steady_clock::now() + deadline;
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// The program's ports, read from its environment, point at the test agent: any free video port, the
// agent's input port, and the control port named with each host.
void useTheAgentsPorts(const dovrel::test::TestAgent& agent) {
    ::setenv("DOVREL_VIDEO_PORT", "0", 1);
    ::setenv("DOVREL_INPUT_PORT", std::to_string(agent.inputPort()).c_str(), 1);
    ::unsetenv("DOVREL_CONTROL_PORT");
}

} // namespace

TEST(CompositionRoot, EveryCollaboratorOfTheClientIsWired) {
    guiApp();
    dovrel::test::TestAgent agent;
    ASSERT_TRUE(agent.listen());
    useTheAgentsPorts(agent);

    CompositionRoot::Options options;
    options.arguments = {QStringLiteral("DovrelController"), QStringLiteral("-autoHost"),
                         QStringLiteral("127.0.0.1:%1").arg(agent.controlPort()), QStringLiteral("-pairingCode"),
                         QString::fromStdString(agent.pairingCode)};
    options.settingsPath = home().file("settings.ini");
    options.secrets = std::make_shared<dovrel::controller::FileSecretStore>(home().file("secrets"));
    CompositionRoot root(std::move(options));
    std::string error;
    ASSERT_TRUE(root.start(error)) << error;
    ASSERT_NE(root.window(), nullptr);

    // The window appearing dials the launch's host; the root view shows the session once it stands.
    ASSERT_TRUE(waitUntil([&] { return root.client().phaseKind() == PhaseKind::connected; }))
        << root.client().status().toStdString();
    ASSERT_TRUE(waitUntil([&] { return root.root().route() == RootViewModel::Route::Session; }));
    // The clipboard services run with the session.
    EXPECT_TRUE(root.clipboardText().running());
    EXPECT_TRUE(root.clipboardFiles().running());
    // What the session receives reaches the usage meter.
    ASSERT_TRUE(waitUntil([&] { return root.usage().totalBytes() > 0; }));

    root.client().disconnectSession();
    ASSERT_TRUE(waitUntil([&] { return !root.clipboardText().running() && !root.clipboardFiles().running(); }));

    // The signed-in account goes with a relay dial whose link names none.
    root.account().save(
        {QStringLiteral("ada@example.org"), QStringLiteral("token-1"), QStringLiteral("127.0.0.1"), closedPort()});
    root.client().connectViaRelay(QString(32, QLatin1Char('a')), QStringLiteral("Studio"));
    wex::RelayIdentity dialled;
    ASSERT_TRUE(waitUntil([&] {
        root.client().runOnClientThread([&](dovrel::controller::ClientCore& c) { dialled = c.relayIdentity(); });
        return !dialled.account.empty();
    }));
    EXPECT_EQ(dialled.account, "ada@example.org");
    EXPECT_EQ(dialled.host, "127.0.0.1");
    root.client().disconnectSession();
}

// A warning the window's engine raises long after it was made (a dialog opening, a binding failing)
// is printed and nothing more: the program goes on.
TEST(CompositionRoot, AWarningAfterTheWindowIsMadeIsHarmless) {
    guiApp();
    CompositionRoot::Options options;
    options.arguments = {QStringLiteral("DovrelController")};
    options.settingsPath = home().file("warnings.ini");
    options.secrets = std::make_shared<dovrel::controller::FileSecretStore>(home().file("warning-secrets"));
    CompositionRoot root(std::move(options));
    std::string error;
    ASSERT_TRUE(root.start(error)) << error;
    QQmlEngine* engine = qmlEngine(root.window());
    ASSERT_NE(engine, nullptr);

    // Pushes a little more onto the stack where the start-up's list once was.
    const auto failingBinding = [engine] {
        QQmlComponent component(engine);
        component.setData("import QtQuick\nItem { property int w: missing.width }", QUrl());
        std::unique_ptr<QObject> item(component.create());
        return item != nullptr;
    };
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(failingBinding());
    QCoreApplication::processEvents();
    EXPECT_NE(root.window(), nullptr);
}

// Whoever answers at a machine's address can refuse with any text before any proof: the window shows
// it as the characters it is, and fetches nothing, whatever the text asks for.
TEST(CompositionRoot, ARefusalWrittenInHtmlIsShownAsCharactersAndFetchesNothing) {
    guiApp();
    QTcpServer web; // where the refusal's picture would come from
    ASSERT_TRUE(web.listen(QHostAddress::LocalHost, 0));
    const QString picture = QStringLiteral("http://127.0.0.1:%1/who.png").arg(web.serverPort());
    dovrel::test::TestAgent agent;
    ASSERT_TRUE(agent.listen());
    agent.authReply = dovrel::test::TestAgent::AuthReply::fail;
    agent.failReason = static_cast<uint8_t>(wex::AuthFailReason::badProof);
    agent.failMessage = "<img src=\"" + picture.toStdString() + "\"><b style=\"font-size:90px\">Pay here</b>";
    useTheAgentsPorts(agent);

    CompositionRoot::Options options;
    options.arguments = {QStringLiteral("DovrelController")};
    options.settingsPath = home().file("html.ini");
    options.secrets = std::make_shared<dovrel::controller::FileSecretStore>(home().file("html-secrets"));
    CompositionRoot root(std::move(options));
    std::string error;
    ASSERT_TRUE(root.start(error)) << error;
    root.root().connectLAN(QStringLiteral("127.0.0.1:%1").arg(agent.controlPort()), QStringLiteral("Studio"),
                           QStringLiteral("000000"), QStringLiteral("linux"));

    QQuickItem* shown = nullptr;
    ASSERT_TRUE(waitUntil([&] {
        shown = dovrel::test::findItem(root.window()->contentItem(), QStringLiteral("loadingError"));
        return shown && shown->isVisible() && shown->property("text").toString().startsWith("<img");
    }));
    EXPECT_EQ(shown->property("textFormat").toInt(), 0); // Text.PlainText: the tags are characters
    EXPECT_FALSE(root.window()->grabWindow().isNull());  // drawn once, images and all

    // Nothing the window asks for reaches the network.
    QNetworkReply* reply = qmlEngine(root.window())->networkAccessManager()->get(QNetworkRequest(QUrl(picture)));
    ASSERT_TRUE(waitUntil([&] { return reply->isFinished(); }));
    EXPECT_NE(reply->error(), QNetworkReply::NoError);
    reply->deleteLater();
    EXPECT_FALSE(web.waitForNewConnection(0)) << "the window fetched " << picture.toStdString();
}

namespace {

// A keychain that answers nothing (a locked keyring whose prompt nobody answers) until it is opened.
class SilentKeychain final : public dovrel::controller::SecretStore {
public:
    explicit SilentKeychain(const std::string& dir) : files_(dir) {}
    dovrel::controller::SecretRead read(std::string_view s, std::string_view a) override {
        ++reads;
        waitOpen();
        return files_.read(s, a);
    }
    dovrel::controller::SecretWrite write(std::string_view s, std::string_view a, wex::ByteView d) override {
        return files_.write(s, a, d);
    }
    bool remove(std::string_view s, std::string_view a) override { return files_.remove(s, a); }
    void open() {
        std::lock_guard held(lock_);
        open_ = true;
        opened_.notify_all();
    }
    std::atomic<int> reads{0};

private:
    void waitOpen() {
        std::unique_lock held(lock_);
        opened_.wait(held, [this] { return open_; });
    }
    dovrel::controller::FileSecretStore files_;
    std::mutex lock_;
    std::condition_variable opened_;
    bool open_ = false;
};

} // namespace

TEST(CompositionRoot, TheWindowAppearsWhileTheKeychainIsSilentAndTheLaunchsDialWaitsForIt) {
    guiApp();
    dovrel::test::TestAgent agent;
    ASSERT_TRUE(agent.listen());
    useTheAgentsPorts(agent);
    auto keychain = std::make_shared<SilentKeychain>(home().file("silent-secrets"));
    CompositionRoot::Options options;
    options.arguments = {QStringLiteral("DovrelController"), QStringLiteral("-autoHost"),
                         QStringLiteral("127.0.0.1:%1").arg(agent.controlPort()), QStringLiteral("-pairingCode"),
                         QString::fromStdString(agent.pairingCode)};
    options.settingsPath = home().file("silent.ini");
    options.secrets = keychain;
    CompositionRoot root(std::move(options));
    struct OpenAtTheEnd {
        SilentKeychain& keychain;
        ~OpenAtTheEnd() { keychain.open(); }
    } openAtTheEnd{*keychain};

    std::string error;
    ASSERT_TRUE(root.start(error)) << error;
    ASSERT_NE(root.window(), nullptr);
    EXPECT_TRUE(root.window()->isVisible());
    ASSERT_TRUE(waitUntil([&] { return keychain->reads >= 1; }));
    EXPECT_FALSE(root.client().security().hasIdentity());
    EXPECT_EQ(root.client().phaseKind(), PhaseKind::disconnected) << "nothing goes out before we know who we are";

    // The keychain answers: the identity is made, the dial goes, and the account is read once.
    keychain->open();
    ASSERT_TRUE(waitUntil([&] { return root.client().phaseKind() == PhaseKind::connected; }))
        << root.client().status().toStdString();
    EXPECT_TRUE(root.client().security().identityIsAuthoritative());
    ASSERT_TRUE(waitUntil([&] { return root.account().loaded(); }));
    const int reads = keychain->reads;
    for (int i = 0; i < 3; ++i)
        EXPECT_FALSE(root.account().current());
    EXPECT_EQ(keychain->reads, reads) << "the signed-in account is kept, not read again";
    root.client().disconnectSession();
}
