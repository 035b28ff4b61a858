// The window at its smallest, 880 x 600, offscreen: in the states where the most has to fit (the
// pairing screen under the launch's notice and with every card's error, the sign-in sheet in both modes
// with a refusal) each thing a person reads or presses is seen whole, or scrolls into view under a
// scroll bar that stays on the screen, and nothing lies over it; the pairing screen under the notice
// fits without scrolling, and its buttons stay where they are as an error goes. At full size the sheet
// is as tall as what it holds. Geometry only: the pictures are scripts/screens.sh's.
#include <optional>

#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QtQml/QQmlExtensionPlugin>

#include <gtest/gtest.h>

#include "../../support/QuickItems.h"
#include "../../support/Unseen.h"
#include "../ui/QuibPanelFakes.h"
#include "MainWindow.h"
#include "ViewTestSupport.h"
#include "controller/client/input/RemoteInput.h"
#include "controller/client/session/InputBinding.h"
#include "controller/ui/look/AppearanceModel.h"
#include "controller/ui/pairing/PairingViewModel.h"
#include "controller/ui/root/RootViewModel.h"
#include "controller/ui/session/SessionViewModel.h"
#include "controller/ui/signin/SignInViewModel.h"
#include "runtime/Scheduler.h"

Q_IMPORT_QML_PLUGIN(Dovrel_ControllerPlugin)
Q_IMPORT_QML_PLUGIN(Dovrel_LookPlugin)

using namespace dovrel::controller;
using namespace dovrel::controller::test;

namespace {

struct SmallestWindow : ::testing::Test {
    RootServices services;
    DarkDesktop desktop;
    AppearanceModel appearance{services.defaults, desktop};
    FakeSessionPort session;
    std::unique_ptr<WEXClient> client;
    std::unique_ptr<RemoteInput> input;
    std::unique_ptr<FileTransfers> files;
    std::unique_ptr<SessionViewModel> sessionModel;
    // The launch dials a machine that does not know this one: the pairing screen with the notice.
    RootViewModel root{session, services.store, *services.account,
                       LaunchArguments::parse({"p", "-autoHost", "studio.local"}), services.startPolling};
    DeckParts deckParts{root, services.store, services.dir.file("deck.ini"), false};
    PairingViewModel pairing{services.api, *services.account, root};
    SignInViewModel signIn{services.api, *services.account, root};
    PanelParts panel;
    QQmlApplicationEngine engine;
    QQuickWindow* window = nullptr;

    void SetUp() override {
        ClientConfig config;
        config.settingsPath = services.dir.file("c.ini");
        config.secrets = std::make_shared<FileSecretStore>(services.dir.file("client-secrets"));
        config.videoPort = 0;
        client = std::make_unique<WEXClient>(std::move(config), services.account);
        input = makeRemoteInput(*client, dovrel::realScheduler());
        files = std::make_unique<FileTransfers>(*client, *client, dovrel::realScheduler());
        sessionModel =
            std::make_unique<SessionViewModel>(*client, *input, *files, dovrel::realScheduler(), QColor(16, 185, 129));
        window =
            loadMainWindow(engine, {root, *sessionModel, appearance, pairing, signIn, deckParts.deck, panel.panel});
        ASSERT_TRUE(window);
        window->resize(880, 600);
        window->show();
    }

    QQuickItem* find(const char* name) const {
        return dovrel::test::findItem(window->contentItem(), QString::fromLatin1(name));
    }
    // Once the item shows and nothing around it still moves (a fade, a sheet opening, a layout pass):
    // each look lays the window out and draws it, as a frame on the screen does.
    QQuickItem* settled(const char* name) {
        QQuickItem* item = nullptr;
        QRectF last;
        int still = 0;
        waitUntil([&] {
            window->grabWindow();
            item = find(name);
            bool faded = false;
            for (QQuickItem* up = item; up; up = up->parentItem())
                faded |= up->opacity() < 0.999;
            const QRectF at = item ? item->mapRectToScene(item->boundingRect()) : QRectF();
            still = item && item->isVisible() && !faded && at == last ? still + 1 : 0;
            last = at;
            return still >= 3;
        });
        return item;
    }
    // Every item named, each seen whole (within the one named `within`, if any), under none of `over`.
    void expectSeen(std::initializer_list<const char*> names, const char* within,
                    std::initializer_list<const char*> over = {}) {
        QQuickItem* frame = settled(within ? within : *names.begin());
        if (!within) frame = nullptr;
        std::vector<QQuickItem*> covers;
        for (const char* cover : over)
            covers.push_back(find(cover));
        for (const char* name : names) {
            QQuickItem* item = find(name);
            ASSERT_TRUE(item) << name;
            for (const std::string& why : dovrel::test::unseen(item, covers, frame))
                ADD_FAILURE() << why;
        }
    }
    // The item's own rectangle in the scene (a text field's bounding rectangle is its text's).
    QRectF sceneRect(const char* name) {
        QQuickItem* item = settled(name);
        return item ? item->mapRectToScene(QRectF(0, 0, item->width(), item->height())) : QRectF();
    }
};

} // namespace

TEST_F(SmallestWindow, ThePairingScreenShowsEveryCardWholeUnderTheNoticeAndWithEachError) {
    session.play(PhaseKind::needsCode);
    ASSERT_TRUE(waitUntil([&] { return root.route() == RootViewModel::Route::Pairing && !root.notice().isEmpty(); }));
    const auto everything = {"pairingBack", "codeA",       "codeB",         "claimButton",
                             "linkField",   "linkConnect", "manualName",    "manualAddress",
                             "manualCode",  "manualNote",  "manualConnect", "pairingFootnote"};
    expectSeen(everything, "pairingRoute", {"launchNotice"});
    expectSeen({"pairingBack", "claimButton", "linkConnect", "manualCode", "manualCodeError", "manualConnect"},
               "pairingRoute", {"pairingFootnote"});
    expectSeen({"launchNotice"}, nullptr);
    QQuickItem* scroll = find("pairingScroll");
    EXPECT_LE(scroll->property("contentHeight").toDouble(), scroll->height()) << "the smallest window scrolls";
    // The code the field asks for, typed: its error goes, and no button moves.
    const QRectF manualAt = sceneRect("manualConnect"), linkAt = sceneRect("linkConnect"),
                 claimAt = sceneRect("claimButton");
    pairing.editManualCode("4");
    ASSERT_TRUE(pairing.manualCodeError().isEmpty());
    ASSERT_TRUE(waitUntil([&] { return !find("manualCodeError")->isVisible(); }));
    EXPECT_EQ(sceneRect("manualConnect"), manualAt);
    EXPECT_EQ(sceneRect("linkConnect"), linkAt);
    EXPECT_EQ(sceneRect("claimButton"), claimAt);
    pairing.begin(); // the code still wanted, as the screen came

    // Each card's error at once: a refused share code, a link that is none, an address that is none, and
    // the code the launch's machine wants.
    root.dismissNotice();
    pairing.editCodeA("k4m2");
    pairing.editCodeB("9qxr");
    pairing.claimShareCode();
    services.http->answer(services.http->sent.size() - 1, 404,
                          R"({"error":"That code has expired. Ask for a new one."})");
    pairing.setLink("dovrel:/pair?host=studio");
    pairing.connectFromLink();
    pairing.setManualAddress("192.168.1.20:4781O");
    pairing.connectManual();
    ASSERT_TRUE(pairing.codeRefused());
    expectSeen({"codeA", "codeB", "claimButton", "shareError"}, "shareCard");
    expectSeen({"linkField", "linkError", "linkConnect"}, "linkCard");
    expectSeen({"manualAddress", "manualCode", "manualCodeError", "manualError", "manualNote", "manualConnect"},
               "manualCard");
    for (const char* field : {"codeA", "codeB", "linkField", "manualAddress", "manualCode"})
        EXPECT_TRUE(find(field)->property("invalid").toBool()) << field << " shows the error that concerns it";
    EXPECT_FALSE(find("manualName")->property("invalid").toBool());

    // The three cards share their outer edges: the share card and the manual card start on one line,
    // the link card and the manual card end on one, and the share and link cards are as wide.
    const QRectF share = sceneRect("shareCard"), link = sceneRect("linkCard"), manual = sceneRect("manualCard");
    EXPECT_DOUBLE_EQ(share.top(), manual.top());
    EXPECT_DOUBLE_EQ(link.bottom(), manual.bottom());
    EXPECT_DOUBLE_EQ(share.left(), link.left());
    EXPECT_DOUBLE_EQ(share.right(), link.right());
}

// The platform picker beside the manual card's name, at the window's first size and at its smallest: as
// tall as the field and level with it, the name whole beside it, its three segments alike with each
// title inside its own; and nothing of the row moves as errors come and go or another platform is chosen.
TEST_F(SmallestWindow, ThePlatformPickerStandsLevelWithTheNameInEveryState) {
    session.play(PhaseKind::needsCode);
    ASSERT_TRUE(waitUntil([&] { return root.route() == RootViewModel::Route::Pairing; }));
    root.dismissNotice();
    const auto shown = [&](const char* name) {
        QQuickItem* item = find(name);
        return item && item->isVisible();
    };
    for (const QSize size : {QSize(1120, 760), QSize(880, 600)}) {
        SCOPED_TRACE(size.width());
        window->resize(size);
        pairing.begin(); // the wanted code said on its field, no other error
        ASSERT_TRUE(waitUntil([&] { return shown("manualCodeError"); }));
        const QRectF name = sceneRect("manualName"), picker = sceneRect("platformPicker");
        EXPECT_DOUBLE_EQ(picker.height(), name.height());
        EXPECT_DOUBLE_EQ(picker.top(), name.top());
        QQuickItem* field = find("manualName");
        EXPECT_GE(field->width(), field->property("contentWidth").toDouble() +
                                      field->property("leftPadding").toDouble() +
                                      field->property("rightPadding").toDouble())
            << "the name is cut: " << field->width();
        std::vector<double> widths;
        for (const char* kind : {"platform-windows", "platform-mac", "platform-linux"}) {
            QQuickItem* segment = find(kind);
            widths.push_back(segment->width());
            const QString title = QString::fromLatin1(kind) + "Title";
            EXPECT_LE(dovrel::test::findItem(segment, title)->implicitWidth() + 8, segment->width()) << kind;
        }
        EXPECT_DOUBLE_EQ(widths[0], widths[1]);
        EXPECT_DOUBLE_EQ(widths[1], widths[2]);

        const auto unmoved = [&](const char* state) {
            for (const auto& [item, was] : {std::pair{"platformPicker", picker}, std::pair{"manualName", name}}) {
                const QRectF now = sceneRect(item);
                EXPECT_DOUBLE_EQ(now.top(), was.top()) << item << " " << state;
                EXPECT_DOUBLE_EQ(now.height(), was.height()) << item << " " << state;
            }
        };
        pairing.editManualCode("4");
        ASSERT_TRUE(waitUntil([&] { return !shown("manualCodeError"); }));
        unmoved("without an error");
        pairing.setManualKind("windows");
        unmoved("another platform chosen");
        pairing.setManualAddress("192.168.1.20:4781O");
        pairing.connectManual();
        ASSERT_TRUE(waitUntil([&] { return shown("manualError"); }));
        unmoved("with the address's error");
        pairing.setLink("dovrel:/pair?host=studio");
        pairing.connectFromLink();
        ASSERT_TRUE(waitUntil([&] { return shown("linkError"); }));
        unmoved("with the link's error too");
    }
}

TEST_F(SmallestWindow, TheSignInSheetShowsItsFieldsErrorAndPrivacyNoteInBothModes) {
    const auto sheet = {"signInMark",     "modeCreate",   "modeSignIn", "signInAccount",
                        "signInPassword", "signInSubmit", "signInSkip", "signInPrivacy"};
    root.accountTapped();
    expectSeen(sheet, "signInScroll");
    expectSeen({"signInCode"}, "signInScroll");
    // The sheet's top edge is under the header (the window's buttons, the wordmark, Pair), and stays
    // where it is whatever the sheet holds.
    const qreal top = sceneRect("signInScroll").top();
    for (const char* above : {"deckWindowButtons", "deckWordmark", "pairButton"})
        EXPECT_GE(top, sceneRect(above).bottom()) << above;

    // A refusal in either mode: the error line and the privacy note under it still reach the screen.
    for (const bool creating : {false, true}) {
        signIn.setCreating(creating);
        signIn.setAccount("ada");
        signIn.setPassword("correct horse");
        signIn.submit();
        services.http->answer(services.http->sent.size() - 1, 401, R"({"error":"Wrong account name or password."})");
        ASSERT_TRUE(signIn.fieldsRefused());
        expectSeen(sheet, "signInScroll");
        expectSeen({"signInError"}, "signInScroll");
        EXPECT_TRUE(find("signInPassword")->property("invalid").toBool());
        EXPECT_DOUBLE_EQ(sceneRect("signInScroll").top(), top);
    }
}

TEST_F(SmallestWindow, AtFullSizeTheSheetIsAsTallAsWhatItHolds) {
    window->resize(1120, 760);
    root.accountTapped();
    std::optional<qreal> top;
    for (const bool creating : {true, false}) {
        signIn.setCreating(creating);
        const QRectF sheet = sceneRect("signInScroll"), note = sceneRect("signInPrivacy");
        EXPECT_DOUBLE_EQ(sheet.top(), top.value_or(sheet.top())) << "the sheet grows and shrinks at its foot";
        top = sheet.top();
        EXPECT_GT(note.bottom(), sheet.bottom() - 40) << "no empty ground under the privacy note";
        EXPECT_LT(note.bottom(), sheet.bottom());
        EXPECT_DOUBLE_EQ(sceneRect("signInMark").height(), 134) << "the mark keeps its full size where there is room";
    }
}
