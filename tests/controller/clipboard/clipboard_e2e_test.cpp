// The controller's clipboard and files against the real DovrelAgent: each side has an X server of its
// own (Xvfb), with another X client copying and pasting there, so that text and files really cross the
// session: text both ways, a file of several megabytes into the agent's download folder, and files
// copied on the agent's side arriving as files on this side's clipboard, byte for byte.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

#include <QGuiApplication>
#include <QUrl>

#include <gtest/gtest.h>

#include "../../agent/desktop/ClipboardPeer.h"
#include "../client/ClientTestSupport.h"
#include "../media/AgentUnderTest.h"
#include "FreeUdpPort.h"
#include "XvfbDisplay.h"
#include "controller/client/files/ClipboardFileHost.h"
#include "controller/client/files/ClipboardTextSync.h"
#include "controller/client/files/FileTransfers.h"
#include "controller/client/session/ClipboardBinding.h"
#include "controller/platform/FileSecretStore.h"
#include "controller/platform/QtClipboard.h"
#include "protocol/Crypto.h"

using namespace dovrel;
using namespace dovrel::controller;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace dovrel::test {
bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    return controller::test::waitUntil(done, timeout);
}
} // namespace dovrel::test

namespace {

std::unique_ptr<dovrel::test::XvfbDisplay> gControllerDisplay;
std::string gNoDisplay;

wex::Bytes randomBytes(std::size_t n) {
    wex::Bytes out;
    while (out.size() < n) {
        const auto block = wex::Crypto::randomBytes(std::min<std::size_t>(n - out.size(), 1 << 16));
        out.insert(out.end(), block.begin(), block.end());
    }
    return out;
}

void writeFile(const std::string& path, const wex::Bytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
}

wex::Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return wex::Bytes(std::istreambuf_iterator<char>(in), {});
}

// One session with the real agent for the whole suite: its X server, the two copying peers, the
// client and the clipboard services as the composition root wires them.
struct Session {
    dovrel::test::XvfbDisplay agentDisplay;
    dovrel::test::TempDir dir;
    controller::test::AgentUnderTest agent;
    ClientConfig config;
    QtClipboard clipboard;
    std::unique_ptr<WEXClient> client;
    std::unique_ptr<FileTransfers> transfers;
    std::unique_ptr<ReceiveFolder> folder;
    std::unique_ptr<ClipboardTextSync> text;
    std::shared_ptr<ClipboardFileHost> host;
    std::unique_ptr<dovrel::test::ClipboardPeer> agentSide;
    std::unique_ptr<dovrel::test::ClipboardPeer> controllerSide;
    std::string failure;

    Session() {
        if (!agentDisplay.available()) {
            failure = "no X server for the agent: " + agentDisplay.reason();
            return;
        }
        config.settingsPath = dir.file("DovrelController.ini");
        config.secrets = std::make_shared<FileSecretStore>(dir.file("secrets"));
        config.videoPort = dovrel::test::freeUdpPort();
        config.deviceName = "test-controller";
        wex::Bytes key;
        {
            WEXClient first(config, std::make_shared<controller::test::NoRelayAccount>());
            const auto pub = controller::test::identityOf(first).publicKey();
            key.assign(pub.begin(), pub.end());
            first.security().trustAgent(agent.publicKey(), agent.room());
        }
        if (!agent.start(DOVREL_AGENT_BINARY, key, config.videoPort,
                         {{"DISPLAY", agentDisplay.name()}, {"DOVREL_SYNTHETIC", "1"}}, failure))
            return;
        config.inputPort = agent.inputPort();
        client = std::make_unique<WEXClient>(config, std::make_shared<controller::test::NoRelayAccount>());
        transfers = std::make_unique<FileTransfers>(*client, *client, realScheduler());
        folder = std::make_unique<ReceiveFolder>(dir.file("received"));
        text = std::make_unique<ClipboardTextSync>(clipboard, *client, realScheduler());
        host = std::make_shared<ClipboardFileHost>(clipboard, *client, *transfers, *folder, *client, realScheduler());
        bindClipboardToSession(*client, *text, host);
        client->connectToHost(QString("127.0.0.1:%1").arg(agent.controlPort()));
        if (!controller::test::waitUntil([&] { return client->phaseKind() == PhaseKind::connected; }, 15s)) {
            failure = "no session: " + client->status().toStdString() + "\n" + agent.tail(30);
            return;
        }
        auto env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "xcb");
        env.insert("DISPLAY", QString::fromStdString(agentDisplay.name()));
        agentSide = std::make_unique<dovrel::test::ClipboardPeer>(env);
        env.insert("DISPLAY", QString::fromStdString(gControllerDisplay->name()));
        controllerSide = std::make_unique<dovrel::test::ClipboardPeer>(env);
        if (!agentSide->started() || !controllerSide->started()) failure = "clipboard_peer did not start";
    }
    ~Session() {
        agentSide.reset();
        controllerSide.reset();
        host.reset();
        text.reset();
        transfers.reset();
        client.reset();
    }
};

Session* gSession = nullptr;

struct ClipboardE2E : ::testing::Test {
    static void SetUpTestSuite() {
        if (gControllerDisplay) gSession = new Session;
    }
    static void TearDownTestSuite() {
        delete gSession;
        gSession = nullptr;
    }
    void SetUp() override {
        if (!gControllerDisplay) GTEST_SKIP() << gNoDisplay;
        ASSERT_TRUE(gSession->failure.empty()) << gSession->failure;
    }
    Session& s() { return *gSession; }
};

} // namespace

TEST_F(ClipboardE2E, TextCopiedOnEitherSideIsPastedOnTheOther) {
    const std::string outward = "from the controller — ünïcode ✓";
    ASSERT_TRUE(s().controllerSide->copyText(outward));
    EXPECT_TRUE(controller::test::waitUntil([&] { return s().agentSide->read().text == outward; }, 10s))
        << "the agent's side holds \"" << s().agentSide->read().text << "\"\n"
        << s().agent.tail(40);

    const std::string inward = "from the agent\nsecond line";
    ASSERT_TRUE(s().agentSide->copyText(inward));
    EXPECT_TRUE(controller::test::waitUntil([&] { return s().controllerSide->read().text == inward; }, 10s))
        << "this side's clipboard holds \"" << s().clipboard.text().value_or("(no text)") << "\"\n"
        << s().agent.tail(40);
    // Written here by the controller: the agent's clipboard keeps its own copy, nothing came back.
    controller::test::pump(2s);
    EXPECT_EQ(s().agentSide->read().text, inward);
    EXPECT_TRUE(s().agentSide->read().owner);
}

// Text that came from the controller, copied again on the agent after other text, crosses back.
TEST_F(ClipboardE2E, TheControllersTextGoesBackOnceOtherTextWasCopiedOnTheAgent) {
    const auto crosses = [&](dovrel::test::ClipboardPeer& from, dovrel::test::ClipboardPeer& to, std::string text) {
        return from.copyText(text) && controller::test::waitUntil([&] { return to.read().text == text; }, 10s);
    };
    ASSERT_TRUE(crosses(*s().controllerSide, *s().agentSide, "Grüße ✓ 日本")) << s().agent.tail(40);
    ASSERT_TRUE(crosses(*s().agentSide, *s().controllerSide, "copied on the agent")) << s().agent.tail(40);
    EXPECT_TRUE(crosses(*s().agentSide, *s().controllerSide, "Grüße ✓ 日本")) << s().agent.tail(40);
}

TEST_F(ClipboardE2E, AFileOfSeveralMegabytesArrivesWholeInTheAgentsDownloadFolder) {
    const wex::Bytes bytes = randomBytes(5 * 1024 * 1024 + 12345);
    const std::string path = s().dir.file("several-megabytes.bin");
    writeFile(path, bytes);
    std::vector<double> progress;
    // The progress clears a while after the file arrived, when this test may be over.
    QObject watching;
    QObject::connect(s().client.get(), &WEXClient::fileProgressChanged, &watching, [&] {
        if (s().client->fileProgress()) progress.push_back(*s().client->fileProgress());
    });
    s().transfers->sendFile(path);
    const std::string arrived = s().agent.home() + "/Downloads/several-megabytes.bin";
    ASSERT_TRUE(controller::test::waitUntil(
        [&] { return s().transfers->active() == 0 && readFile(arrived).size() == bytes.size(); }, 30s))
        << s().agent.tail(20);
    EXPECT_TRUE(readFile(arrived) == bytes);
    EXPECT_TRUE(controller::test::waitUntil([&] { return !progress.empty() && progress.back() == 1.0; }));
    EXPECT_FALSE(s().client->lastAgentError().has_value());
}

TEST_F(ClipboardE2E, FilesCopiedOnTheAgentArriveAsFilesOnThisClipboard) {
    const wex::Bytes first = randomBytes(3 * 49152 + 7);
    const wex::Bytes second = randomBytes(1000);
    const std::string a = s().agent.home() + "/photo.jpg";
    const std::string b = s().agent.home() + "/notes.txt";
    writeFile(a, first);
    writeFile(b, second);
    ASSERT_TRUE(s().agentSide->copyFiles({a, b}));
    std::vector<std::string> paths;
    ASSERT_TRUE(controller::test::waitUntil(
        [&] {
            paths = s().clipboard.filePaths();
            return paths.size() == 2;
        },
        20s))
        << s().agent.tail(20);
    EXPECT_EQ(fs::path(paths[0]).filename(), "photo.jpg");
    EXPECT_TRUE(readFile(paths[0]) == first);
    EXPECT_TRUE(readFile(paths[1]) == second);
    // Another application sees them as copied files.
    const auto seen = s().controllerSide->read();
    EXPECT_EQ(seen.urls.size(), 2u);
    EXPECT_EQ(seen.gnome.rfind("copy\n", 0), 0u);
    // The received files are not offered back: the agent's clipboard keeps the originals.
    controller::test::pump(2s);
    const auto agentSees = s().agentSide->read();
    ASSERT_EQ(agentSees.urls.size(), 2u);
    EXPECT_NE(agentSees.urls[0].find(a), std::string::npos);
}

TEST_F(ClipboardE2E, FilesCopiedHereArriveAsFilesOnTheAgentsClipboard) {
    const wex::Bytes bytes = randomBytes(2 * 49152 + 99);
    const std::string path = s().dir.file("from-controller.bin");
    writeFile(path, bytes);
    ASSERT_TRUE(s().controllerSide->copyFiles({path}));
    std::string there;
    ASSERT_TRUE(controller::test::waitUntil(
        [&] {
            const auto seen = s().agentSide->read();
            if (seen.urls.size() != 1) return false;
            there = QUrl(QString::fromStdString(seen.urls[0])).toLocalFile().toStdString();
            return readFile(there) == bytes;
        },
        20s))
        << "on the agent's clipboard: " << there << "\n"
        << s().agent.tail(20);
    EXPECT_NE(there, path);
    EXPECT_EQ(fs::path(there).filename(), "from-controller.bin");
}

TEST_F(ClipboardE2E, TheControllersOwnWriteIsNoLocalChange) {
    const uint64_t before = s().clipboard.changeCount();
    ASSERT_TRUE(s().clipboard.setText("written by the controller"));
    const uint64_t afterWrite = s().clipboard.changeCount();
    controller::test::pump(500ms);
    EXPECT_EQ(s().clipboard.changeCount(), afterWrite);
    EXPECT_GT(afterWrite, before);
    ASSERT_TRUE(s().controllerSide->copyText("someone else"));
    EXPECT_TRUE(controller::test::waitUntil([&] { return s().clipboard.changeCount() > afterWrite; }, 5s));
}

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    bool listing = false;
    for (int i = 1; i < argc; ++i)
        listing = listing || std::string_view(argv[i]) == "--gtest_list_tests";
    std::unique_ptr<QCoreApplication> app;
    if (listing) {
        app = std::make_unique<QCoreApplication>(argc, argv);
        return RUN_ALL_TESTS();
    }
    auto display = std::make_unique<dovrel::test::XvfbDisplay>();
    if (display->available()) {
        // The clipboard is shared between processes only on the xcb platform.
        ::setenv("DISPLAY", display->name().c_str(), 1);
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
        app = std::make_unique<QGuiApplication>(argc, argv);
        gControllerDisplay = std::move(display);
    } else {
        gNoDisplay = "no X server for the controller: " + display->reason();
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    const int result = RUN_ALL_TESTS();
    app.reset();
    gControllerDisplay.reset();
    return result;
}
