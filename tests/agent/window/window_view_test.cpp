// The window's rules on the real QML, offscreen: which group shows, the texts built from the model, the
// account form's gate, the sharing section's confirmation, the permission rows and their fixes, and the
// "Copied!" feedback on a fake clock.

#include <gtest/gtest.h>

#include <QColor>

#include "../../support/FakeScheduler.h"
#include "../../support/Unseen.h"
#include "WindowTestSupport.h"

using namespace dovrel;
using namespace dovrel::test;
using namespace std::chrono_literals;

namespace {

struct Window : TestWindow {
    std::unique_ptr<QQuickView> view;

    explicit Window(std::optional<Scene> scene = Scene::unpaired) : TestWindow(scene) {
        view = load();
        EXPECT_EQ(view->status(), QQuickView::Ready) << view->errors().size();
    }
    QQuickItem* at(const char* name) {
        QQuickItem* found = item(*view, name);
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    bool shown(const char* name) { return at(name) && at(name)->isVisible(); }
    QString text(const char* name) { return at(name) ? at(name)->property("text").toString() : QString(); }
    void click(const char* name) { QMetaObject::invokeMethod(at(name), "clicked"); }
    QColor colour(const char* name) { return at(name)->property("color").value<QColor>(); }
    // A colour of the window's palette.
    QColor themed(const char* name) {
        auto* theme = view->rootObject()->property("theme").value<QObject*>();
        return theme ? theme->property(name).value<QColor>() : QColor();
    }
};

} // namespace

TEST(AgentWindowView, BeforeStartUpTheQrEncodesThePlaceholderAndTheCodeGroupShows) {
    Window w(std::nullopt);
    EXPECT_EQ(w.text("qrCode"), "------");
    EXPECT_EQ(w.text("bigPairingCode"), "------");
    EXPECT_EQ(w.text("statusText"), "Starting…");
    EXPECT_EQ(w.colour("statusDot"), w.themed("warnMark"));
}

TEST(AgentWindowView, AShareCodeReplacesThePairingCodeGroupAndAnEmptyNoteKeepsItsLine) {
    Window w;
    EXPECT_EQ(w.text("qrCode"), w.model.pairingURL());
    EXPECT_TRUE(w.shown("codeGroup"));
    EXPECT_FALSE(w.shown("shareGroup"));
    w.model.setShareCode("7KQ4 M2XD");
    EXPECT_TRUE(w.shown("shareGroup"));
    EXPECT_FALSE(w.shown("codeGroup"));
    EXPECT_EQ(w.text("shareCode"), "7KQ4 M2XD");
    EXPECT_EQ(w.text("shareCodeNote"), " ");
    w.model.setGrantBusy(true);
    EXPECT_FALSE(w.at("newShareCode")->isEnabled());
}

TEST(AgentWindowView, WhilePairingByCodeIsPausedNoCodeQrLinkOrShareCodeShowsAsWorking) {
    Window w(Scene::signedIn);
    w.model.setCodePairingPaused(true);
    EXPECT_TRUE(!w.shown("qrCode") && w.shown("qrPaused") && w.vm->qrText().isEmpty());
    EXPECT_LT(w.at("shareCode")->opacity(), 1.0);
    EXPECT_FALSE(w.at("copyShareCode")->isEnabled());
    w.vm->copyShareCode();
    // The notice's new pairing code is the one way on: no new share code or QR, which would pair nothing.
    EXPECT_FALSE(w.at("newShareCode")->isEnabled() || w.at("newGrant")->isEnabled());
    w.model.setShareCode("");
    EXPECT_LT(w.at("bigPairingCode")->opacity(), 1.0);
    EXPECT_FALSE(w.at("copyPairingLink")->isEnabled());
    w.vm->copyPairingLink();
    EXPECT_TRUE(w.clipboard.texts.isEmpty()) << "neither the share code nor the link was copied";

    // A new code: everything works as before.
    w.model.setCodePairingPaused(false);
    EXPECT_TRUE(w.shown("qrCode") && !w.shown("qrPaused"));
    EXPECT_EQ(w.at("bigPairingCode")->opacity(), 1.0);
    w.click("copyPairingLink");
    EXPECT_EQ(w.clipboard.texts, QStringList{w.model.pairingURL()});
}

TEST(AgentWindowView, ACodeDrawnAfterWrongTriesSaysSoOnceForAsLongAsItShows) {
    Window w;
    w.click("manualToggle");
    w.model.setCodeDrawnAfterWrongCodes("771204");
    EXPECT_FALSE(w.shown("codeRedrawnNote")) << "until the window shows that code";
    w.model.setPairingCode("771204");
    EXPECT_EQ(w.text("codeRedrawnNote"), "A new code was drawn after 5 wrong tries");
    EXPECT_FALSE(w.shown("manualRedrawnNote")) << "said once, under the big code";
    w.model.setShareCode("7KQ4 M2XD"); // it takes the big code's place
    EXPECT_TRUE(w.shown("manualRedrawnNote"));
    w.model.setPairingCode("093315"); // drawn for another reason
    EXPECT_FALSE(w.shown("manualRedrawnNote"));
}

TEST(AgentWindowView, TheManualLinesFollowTheAddressesAndTheLanSetting) {
    Window w;
    EXPECT_FALSE(w.shown("manualBox"));
    w.click("manualToggle");
    EXPECT_TRUE(w.shown("manualBox"));
    EXPECT_EQ(w.text("lanLine"), "This computer's network address:  192.168.1.24");
    EXPECT_FALSE(w.shown("overlayLine"));
    w.model.setWgIP("10.13.13.5");
    EXPECT_EQ(w.text("overlayLine"), "Remote (WireGuard):  10.13.13.5");

    agent::WindowSettings noLan = windowSettings();
    noLan.lanEnabled = false;
    agent::AgentWindowModel relayOnly(w.model, w.readiness.checker, w.clock, w.clipboard, w.launcher, noLan);
    EXPECT_TRUE(relayOnly.lanLine().isEmpty());

    w.model.setPairingURL("");
    w.click("copyPairingLink");
    EXPECT_EQ(w.clipboard.texts, QStringList{""});
    EXPECT_TRUE(w.vm->linkCopied() && !w.vm->copied()) << "the press shows on its own button";
}

TEST(AgentWindowView, EachCopyPressKeepsItsOwnTimeSoTheFirstOneEndsCopied) {
    Window w(Scene::signedIn);
    w.click("copyShareCode");
    EXPECT_EQ(w.text("copyShareCodeLabel"), "Copied!");
    EXPECT_EQ(w.clipboard.texts, QStringList{"7KQ4 M2XD"});
    w.clock.advance(1000ms);
    w.click("copyShareCode");
    w.clock.advance(599ms);
    EXPECT_EQ(w.text("copyShareCodeLabel"), "Copied!");
    w.clock.advance(1ms); // the first press's 1.6 s are over
    EXPECT_EQ(w.text("copyShareCodeLabel"), "Copy");
    w.clock.advance(1000ms); // the second press's reset changes nothing more
    EXPECT_EQ(w.text("copyShareCodeLabel"), "Copy");
    EXPECT_EQ(w.clock.pendingTimers(), 0u);
}

TEST(AgentWindowView, TheAccountButtonNeedsThreeAndEightCharactersAndPassesWhatWasTyped) {
    Window w;
    std::vector<std::tuple<std::string, std::string, bool, std::string>> calls;
    w.commands.onSignIn = [&](const std::string& a, const std::string& p, bool create, const std::string& invite) {
        calls.emplace_back(a, p, create, invite);
    };
    EXPECT_TRUE(w.shown("signInForm"));
    EXPECT_FALSE(w.shown("acctInvite"));
    EXPECT_EQ(w.text("accountSubmit"), "Sign in");
    w.vm->setAcctName("an");
    w.vm->setAcctPassword("12345678");
    EXPECT_FALSE(w.at("accountSubmit")->isEnabled());
    // A button that would do nothing does not look like one that would.
    const auto fill = [&] { return w.colour("accountSubmitFill"); };
    EXPECT_NE(fill(), w.themed("accent"));
    w.vm->setAcctName("ana");
    w.vm->setAcctPassword("1234567");
    EXPECT_FALSE(w.at("accountSubmit")->isEnabled());
    w.vm->setAcctPassword("        "); // eight spaces: nothing is trimmed
    EXPECT_TRUE(w.at("accountSubmit")->isEnabled());
    EXPECT_EQ(fill(), w.themed("accent"));
    w.vm->setAcctName("👩🏽‍💻ab"); // one character of seven code points, and two more
    EXPECT_TRUE(w.at("accountSubmit")->isEnabled());
    w.vm->setAcctName("👩🏽‍💻a");
    EXPECT_FALSE(w.at("accountSubmit")->isEnabled());
    w.vm->setAcctName("ana");

    w.click("accountMode");
    EXPECT_TRUE(w.shown("acctInvite"));
    EXPECT_EQ(w.text("accountSubmit"), "Create account");
    EXPECT_EQ(w.text("accountMode"), "I have an account");
    w.vm->setAcctInvite("TEAM-7");
    w.click("accountMode");
    w.click("accountSubmit");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0], std::make_tuple(std::string("ana"), std::string("        "), false, std::string("TEAM-7")));

    w.model.setAccountBusy(true);
    EXPECT_FALSE(w.at("accountSubmit")->isEnabled());
    EXPECT_TRUE(w.shown("accountBusy"));
}

TEST(AgentWindowView, SignedInShowsTheAccountVerbatimAndErrorsUnderEitherForm) {
    Window w(Scene::signedIn);
    int signOuts = 0;
    w.commands.onSignOut = [&] { ++signOuts; };
    EXPECT_TRUE(w.shown("signedInBox"));
    EXPECT_FALSE(w.shown("signInForm"));
    EXPECT_EQ(w.text("accountName"), "ana@studio");
    w.model.setAccountError("The account service did not answer.");
    EXPECT_TRUE(w.shown("accountError"));
    EXPECT_FALSE(w.vm->accountFieldsInvalid()) << "no field of the hidden form is concerned";
    w.model.setAccountBusy(true);
    EXPECT_FALSE(w.at("signOut")->isEnabled());
    w.model.setAccountBusy(false);
    w.click("signOut");
    EXPECT_EQ(signOuts, 1);
    w.model.setAccount("");
    EXPECT_TRUE(w.shown("signInForm"));
    EXPECT_TRUE(w.shown("accountError"));
    // Fields nobody filled in are not what the error refused.
    EXPECT_FALSE(w.at("acctName")->property("invalid").toBool());
    EXPECT_FALSE(w.at("acctPassword")->property("invalid").toBool());
    // Under the form, the error marks the fields whose words it refused, while they still hold them.
    w.vm->setAcctName("ana@studio");
    w.vm->setAcctPassword("not the one");
    w.vm->submitAccount();
    w.model.setAccountError("Wrong account name or password.");
    EXPECT_TRUE(w.at("acctName")->property("invalid").toBool());
    EXPECT_TRUE(w.at("acctPassword")->property("invalid").toBool());
    EXPECT_EQ(w.at("acctNameEdge")->property("border").value<QObject*>()->property("color").value<QColor>(),
              w.themed("error"));
    w.vm->setAcctPassword("not the one either");
    EXPECT_FALSE(w.at("acctName")->property("invalid").toBool()) << "the words it refused are gone";
    EXPECT_TRUE(w.shown("accountError"));
    // Typed back as it was, the password is not the one sent any more; once signed in it leaves the form.
    w.vm->setAcctPassword("not the one");
    EXPECT_FALSE(w.at("acctPassword")->property("invalid").toBool());
    w.vm->submitAccount();
    w.model.setAccount("ana@studio");
    w.model.setAccount("");
    EXPECT_TRUE(w.at("acctPassword")->property("text").toString().isEmpty());
    EXPECT_FALSE(w.at("acctPassword")->property("invalid").toBool());
}

TEST(AgentWindowView, SharingTextsLifetimeAndTheConfirmationBeforeCancellingEverything) {
    Window w;
    std::vector<double> grants;
    int cancels = 0;
    w.commands.onNewGrant = [&](double hours) { grants.push_back(hours); };
    w.commands.onCancelAllAccess = [&] { ++cancels; };
    EXPECT_EQ(w.text("sharingStatus"), "This computer isn't sharing yet. Sign it in to an account to hand out access.");
    // Signed out there is no grant to renew or cancel.
    EXPECT_FALSE(w.at("newGrant")->isEnabled());
    EXPECT_FALSE(w.at("cancelAll")->isEnabled());
    w.model.setAccount("ana@studio");
    w.model.setGrantExpiryText("Expires in 7 days");
    EXPECT_EQ(w.text("sharingStatus"), "Anyone who scans the code above can reach this computer. Expires in 7 days.");

    w.vm->setLifetimeIndex(4);
    EXPECT_EQ(w.model.grantTTLHours(), 168);
    EXPECT_EQ(w.at("lifetime")->property("currentIndex").toInt(), 4);
    w.click("newGrant");
    w.vm->setLifetimeIndex(0);
    w.click("newGrant");
    EXPECT_EQ(grants, (std::vector<double>{168, 0}));

    w.click("cancelAll");
    EXPECT_EQ(cancels, 0);
    EXPECT_TRUE(w.shown("cancelConfirm"));
    w.click("keepAccess");
    EXPECT_FALSE(w.shown("cancelConfirm"));
    w.click("cancelAll");
    w.click("confirmCancel");
    EXPECT_EQ(cancels, 1);
    EXPECT_FALSE(w.shown("cancelConfirm"));

    w.model.setGrantBusy(true);
    EXPECT_TRUE(w.shown("sharingBusy"));
    EXPECT_FALSE(w.at("newGrant")->isEnabled());
    EXPECT_FALSE(w.at("cancelAll")->isEnabled());
    EXPECT_TRUE(w.at("lifetime")->isEnabled());
}

TEST(AgentWindowView, DisconnectShowsForAClientOrVideoAndAnErrorHidesANotice) {
    Window w;
    EXPECT_FALSE(w.shown("disconnect"));
    w.model.setVideoFps(1);
    EXPECT_TRUE(w.shown("disconnect"));
    w.model.setVideoFps(0);
    w.model.setConnectedClient("Ana's phone");
    EXPECT_TRUE(w.shown("disconnect"));
    EXPECT_EQ(w.colour("statusDot"), w.themed("goodInk"));
    // The connected status is read whole, on a second line where the window is too narrow for one.
    w.model.setStatusText("Connected - your device is controlling this computer");
    EXPECT_FALSE(w.at("statusText")->property("truncated").toBool());
    EXPECT_GT(w.at("statusText")->property("lineCount").toInt(), 1);

    EXPECT_FALSE(w.shown("sharingMessage"));
    w.model.setGrantNotice("A fresh code was issued.");
    EXPECT_EQ(w.text("sharingMessage"), "A fresh code was issued.");
    w.model.setGrantError("Sign in first.");
    EXPECT_FALSE(w.shown("sharingMessage"));
    EXPECT_TRUE(w.shown("sharingError")) << "an error says itself as every error does";
    EXPECT_EQ(w.text("sharingError"), "Sign in first.");
    EXPECT_TRUE(w.vm->sharingNote().isEmpty()) << "the error stands alone";
}

TEST(AgentWindowView, VideoRowTexts) {
    Window w;
    EXPECT_EQ(w.text("videoText"), "No video (nobody connected)");
    w.model.setConnectedClient("Ana's phone");
    EXPECT_EQ(w.text("videoText"), "Connected but NO video leaving (idle)");
    w.model.setVideoFps(30);
    w.model.setVideoPath("relay");
    EXPECT_EQ(w.text("videoText"), "Sending video - 30 fps via relay");
    EXPECT_EQ(w.at("videoMark")->property("name").toString(), "video");
}

TEST(AgentWindowView, AMissingPermissionShowsEnableWhichOpensAPanelOrShowsTheCommand) {
    Window w(Scene::permissionMissing);
    EXPECT_EQ(w.text("screenRowTitle"), "Screen capture");
    EXPECT_EQ(w.at("screenRowMark")->property("name").toString(), "warning");
    EXPECT_TRUE(w.shown("screenRowEnable"));
    EXPECT_FALSE(w.shown("screenRowFix"));
    w.click("screenRowEnable");
    EXPECT_TRUE(w.shown("screenRowFix"));
    EXPECT_EQ(withoutJoiners(w.at("screenRowCommandText")->property("text").toString()), "xhost +SI:localuser:$USER");
    w.click("screenRowCommandCopy");
    EXPECT_EQ(w.clipboard.texts, QStringList{"xhost +SI:localuser:$USER"});
    EXPECT_TRUE(w.launcher.opened.isEmpty());

    // Wake-on-LAN: the connection editor where it is installed, else the ethtool command.
    EXPECT_EQ(w.text("wakeRowTitle"), "Wake-on-LAN: Off");
    EXPECT_EQ(w.text("wakeRowEnable"), "Turn on");
    w.click("wakeRowEnable");
    EXPECT_EQ(withoutJoiners(w.at("wakeRowCommandText")->property("text").toString()), "sudo ethtool -s enp3s0 wol g");
    w.launcher.installed = {"nm-connection-editor"};
    w.model.setWakeReady(true);
    EXPECT_EQ(w.text("wakeRowTitle"), "Wake-on-LAN: On");
    EXPECT_EQ(w.text("wakeRowEnable"), "Settings");
    EXPECT_FALSE(w.shown("wakeRowFix"));
    w.click("wakeRowEnable");
    EXPECT_EQ(w.launcher.opened, QStringList{"nm-connection-editor"});

    w.model.setScreenRecording(true);
    EXPECT_EQ(w.at("screenRowMark")->property("name").toString(), "check.circle");
    EXPECT_FALSE(w.shown("screenRowEnable"));
    EXPECT_FALSE(w.shown("screenRowFix"));
}

TEST(AgentWindowView, OnGnomesWaylandSessionTheRowsSpeakOfGnomeAndAMissingClipboardGetsARow) {
    Window w(Scene::permissionMissing);
    agent::WindowSettings gnome = windowSettings();
    gnome.facts = {"", "wayland", "enp3s0", agent::DesktopKind::gnomeWayland, "GNOME on Wayland"};
    w.vm = std::make_unique<agent::AgentWindowModel>(w.model, w.readiness.checker, w.clock, w.clipboard, w.launcher,
                                                     gnome);
    w.view = loadWindow(*w.vm, false);
    EXPECT_EQ(w.text("screenRowTitle"), "Screen sharing through GNOME");
    EXPECT_EQ(w.text("inputRowTitle"), "Input control through GNOME");
    EXPECT_FALSE(w.shown("clipboardRow"));
    w.model.setClipboardText(false);
    EXPECT_TRUE(w.shown("clipboardRow"));
    EXPECT_EQ(w.text("clipboardRowTitle"), "Clipboard text through GNOME");
    EXPECT_EQ(w.at("clipboardRowMark")->property("name").toString(), "warning");
    // The longest title and its action both stay on their card.
    w.view->show();
    ASSERT_TRUE(waitFor([&] { return w.at("clipboardRow")->y() > 0; })) << "the rows laid out again";
    w.view->grabWindow();
    for (const char* name : {"clipboardRowTitle", "clipboardRowEnable"})
        for (const std::string& why : unseen(w.at(name), {}, w.at("deviceRows")))
            ADD_FAILURE() << why;
    // Nothing to run fixes it: the hint shows without a command line.
    w.click("clipboardRowEnable");
    EXPECT_TRUE(w.shown("clipboardRowFix"));
    EXPECT_FALSE(w.shown("clipboardRowCommand"));
}

TEST(AgentWindowView, EachDesktopAndAMissingDisplayGetTheirOwnAdvice) {
    const auto facts = [](QString display, QString type, agent::DesktopKind kind = agent::DesktopKind::x11,
                          QString name = {}) {
        return agent::DesktopFacts{display, type, "", kind, name};
    };
    EXPECT_TRUE(agent::screenCaptureFix(facts(":0", "wayland")).command.contains("WaylandEnable=false"));
    EXPECT_TRUE(agent::screenCaptureFix(facts("", "x11")).command.contains("import-environment DISPLAY"));
    // Without the display, input control needs the same remedy as capture.
    EXPECT_EQ(agent::inputControlFix(facts("", ""), false).command, agent::screenCaptureFix(facts("", "")).command);
    EXPECT_TRUE(agent::inputControlFix(facts(":0", "x11"), true).command.contains("XTEST"));
    EXPECT_EQ(agent::wakeOnLanFix(facts(":0", "x11")).command, "sudo ethtool -s <interface> wol g");

    // GNOME on Wayland: its own rows, and the agent restarted inside the session as the remedy.
    const auto gnome = facts("", "wayland", agent::DesktopKind::gnomeWayland, "GNOME on Wayland");
    EXPECT_EQ(agent::screenCaptureTitle(gnome), "Screen sharing through GNOME");
    EXPECT_EQ(agent::inputControlTitle(gnome), "Input control through GNOME");
    EXPECT_TRUE(agent::screenCaptureFix(gnome).command.contains("import-environment WAYLAND_DISPLAY"));
    EXPECT_EQ(agent::inputControlFix(gnome, true).command, agent::screenCaptureFix(gnome).command);
    // Another Wayland desktop is named as not supported, with no command that could help.
    const auto kde = facts(":1", "wayland", agent::DesktopKind::unsupportedWayland, "KDE on Wayland");
    EXPECT_TRUE(agent::screenCaptureFix(kde).hint.startsWith("KDE on Wayland is not supported yet"));
    EXPECT_TRUE(agent::screenCaptureFix(kde).command.isEmpty());
    EXPECT_EQ(agent::inputControlFix(kde, false).hint, agent::screenCaptureFix(kde).hint);
}

TEST(AgentWindowView, QuitAsksTheApplicationToEnd) {
    Window w;
    int quits = 0;
    QObject::connect(w.vm.get(), &agent::AgentWindowModel::quitRequested, [&] { ++quits; });
    w.click("quit");
    EXPECT_EQ(quits, 1);

    // Scrolled to its end, the window shows the whole Quit button.
    w.view->show();
    QCoreApplication::processEvents();
    auto* flickable = qobject_cast<QQuickItem*>(w.at("scroll")->property("contentItem").value<QObject*>());
    ASSERT_NE(flickable, nullptr);
    auto* content = qobject_cast<QQuickItem*>(flickable->property("contentItem").value<QObject*>());
    ASSERT_NE(content, nullptr);
    QQuickItem* quit = w.at("quit");
    EXPECT_LE(quit->mapToItem(content, QPointF(0, quit->height())).y(), flickable->property("contentHeight").toReal());
}

TEST(AgentWindowView, EveryErrorAndTheFieldsItConcernsShowWholeInTheWindowAsItOpens) {
    Window w(Scene::permissionMissing);
    // The account refused what was typed.
    w.vm->setAcctName("ana@studio");
    w.vm->setAcctPassword("not the one");
    w.vm->submitAccount();
    w.model.setAccountError("Wrong account name or password.");
    w.model.setGrantError("Sign this computer in to an account first: codes belong to an account.");
    w.view->show();
    w.view->grabWindow(); // lays out and draws the window once
    QQuickItem* column = w.at("scroll");
    for (const char* name :
         {"acctName", "acctPassword", "accountSubmit", "accountError", "newGrant", "cancelAll", "sharingError", "quit"})
        for (const std::string& why : unseen(w.at(name), {}, column))
            ADD_FAILURE() << why;
}

namespace {
QStringList* warningsSeen = nullptr;
void keepWarnings(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type != QtDebugMsg && type != QtInfoMsg && warningsSeen) warningsSeen->append(message);
}
} // namespace

TEST(AgentWindowView, EveryStateLoadsAndLaysOutWithoutAWarning) {
    guiApp();
    QStringList seen;
    warningsSeen = &seen;
    const QtMessageHandler previous = qInstallMessageHandler(keepWarnings);
    for (const Scene scene : {Scene::unpaired, Scene::paired, Scene::signedIn, Scene::permissionMissing})
        for (const bool dark : {false, true}) {
            Window w(scene);
            w.vm->setDark(dark);
            w.vm->setShowManual(true);
            w.view->show();
            QCoreApplication::processEvents();
            EXPECT_FALSE(w.view->grabWindow().isNull());
        }
    qInstallMessageHandler(previous);
    warningsSeen = nullptr;
    EXPECT_TRUE(seen.isEmpty()) << seen.join('\n').toStdString();
}
