// The deck's rules without a window: what each card shows, the flip gesture, the sparkline's points,
// the usage footer's text, and what a click, the frost and the actions do to the store and the network.
#include <QSignalSpy>

#include <gtest/gtest.h>

#include "../../support/TempHome.h"
#include "ViewTestSupport.h"
#include "controller/ui/deck/FlipGesture.h"
#include "controller/ui/deck/MachineCardFace.h"
#include "controller/ui/deck/MachineSymbol.h"
#include "controller/ui/deck/SparklineGeometry.h"
#include "controller/ui/look/SymbolSet.h"
#include "protocol/MagicPacket.h"

using namespace dovrel::controller;
using namespace dovrel::controller::test;
using Thumb = MachineCardFace::Thumbnail;

namespace {

Device machine(Device::State state, std::optional<QString> mac = std::nullopt) {
    Device d;
    d.name = QStringLiteral("Studio");
    d.state = state;
    d.mac = std::move(mac);
    d.lastSeen = QStringLiteral("now");
    return d;
}

} // namespace

TEST(MachineCardFace, PromptFollowsStateAndHardwareAddress) {
    EXPECT_EQ(machineCardFace(machine(Device::State::awake, "aa:bb:cc:dd:ee:ff"), false).promptText,
              "Click to control");
    const MachineCardFace asleep = machineCardFace(machine(Device::State::asleep, "aa:bb:cc:dd:ee:ff"), false);
    EXPECT_EQ(asleep.promptText, "Click to wake & connect");
    EXPECT_EQ(asleep.promptGlyph, "moon.zzz.fill");
    EXPECT_TRUE(asleep.wakesFirst);
    EXPECT_EQ(asleep.tone, "warn");
    for (const std::optional<QString>& none : {std::optional<QString>{}, std::optional<QString>{QString()}}) {
        const MachineCardFace f = machineCardFace(machine(Device::State::asleep, none), false);
        EXPECT_EQ(f.promptText, "Click to connect");
        EXPECT_FALSE(f.wakesFirst);
    }
    EXPECT_FALSE(machineCardFace(machine(Device::State::asleep, "aa:bb:cc:dd:ee:ff"), true).wakesFirst)
        << "demo machines are drawn, never woken";
}

TEST(MachineCardFace, AComputerOnWithoutDovrelIsNeitherAwakeNorToBeWoken) {
    Device d = machine(Device::State::awake, "aa:bb:cc:dd:ee:ff");
    d.agentStopped = true;
    const MachineCardFace f = machineCardFace(d, false);
    EXPECT_EQ(f.stateWord, "DOVRELÆ isn’t running");
    EXPECT_EQ(f.tone, "stopped");
    EXPECT_EQ(f.promptText, "Start DOVRELÆ on it, then click to connect");
    EXPECT_FALSE(f.breathes || f.wakesFirst);
    EXPECT_TRUE(f.opens) << "a click says why nothing comes";
}

TEST(MachineCardFace, ThumbnailPriorityIsOfflineFrostDemoPrompt) {
    Device d = machine(Device::State::offline);
    d.privacyFrost = true;
    EXPECT_EQ(machineCardFace(d, true).thumbnail, Thumb::offline);
    d.state = Device::State::awake;
    EXPECT_EQ(machineCardFace(d, true).thumbnail, Thumb::frost);
    d.privacyFrost = false;
    EXPECT_EQ(machineCardFace(d, true).thumbnail, Thumb::demo);
    EXPECT_EQ(machineCardFace(d, false).thumbnail, Thumb::prompt);
}

TEST(MachineCardFace, OfflineMachineShowsNoFiguresAndDoesNotOpen) {
    const MachineCardFace f = machineCardFace(machine(Device::State::offline, "aa:bb:cc:dd:ee:ff"), false);
    EXPECT_EQ(f.stateWord, "offline");
    EXPECT_EQ(f.tone, "dim");
    EXPECT_TRUE(f.lastSeen.isEmpty());
    EXPECT_FALSE(f.showsStats);
    EXPECT_FALSE(f.opens);
    EXPECT_FALSE(f.wakesFirst);
}

TEST(MachineCardFace, FiguresLastSeenSparklineAndFrostTitles) {
    Device d = machine(Device::State::awake);
    EXPECT_EQ(machineCardFace(d, false).lastSeen, QStringLiteral("· now"));
    EXPECT_EQ(machineCardFace(d, false).cpuText, "0%") << "an empty history reads 0%";
    EXPECT_FALSE(machineCardFace(d, false).showsSparkline);
    EXPECT_TRUE(machineCardFace(d, false).batteryText.isEmpty());
    d.lastSeen = QStringLiteral("paired");
    d.cpu = {0.2, 0.427};
    d.ram = 0.999;
    d.battery = 1.0;
    d.privacyFrost = true;
    EXPECT_FALSE(machineCardFace(d, false).showsStats) << "figures no session reports now are not shown";
    EXPECT_FALSE(machineCardFace(d, false).showsSparkline);
    d.statsCurrent = true;
    const MachineCardFace f = machineCardFace(d, false);
    EXPECT_TRUE(f.showsStats);
    EXPECT_TRUE(f.lastSeen.isEmpty());
    EXPECT_EQ(f.cpuText, "42%");
    EXPECT_EQ(f.ramText, "99%");
    EXPECT_EQ(f.batteryText, "100%");
    EXPECT_TRUE(f.showsSparkline);
    EXPECT_EQ(f.frostTitle, "Show");
    EXPECT_EQ(f.frostMenuTitle, "Show thumbnail");
    EXPECT_EQ(f.frostSymbol, "eye");
    EXPECT_TRUE(f.breathes);

    Device asleep = machine(Device::State::asleep);
    asleep.lastSeen = QStringLiteral("asleep");
    EXPECT_TRUE(machineCardFace(asleep, false).lastSeen.isEmpty()) << "not \"asleep · asleep\"";
}

TEST(MachineSymbol, TheNameSaysTheShapeElseThePlatformSpeaks) {
    for (const auto& [name, symbol] : {std::pair<QString, QString>{"Office tower", "desktop.tower"},
                                       {"Mac mini · server", "server.rack"},
                                       {"Tower server", "server.rack"},
                                       {"HOME-NAS", "server.rack"},
                                       {"Ana's-Laptop", "macbook"}}) {
        EXPECT_EQ(machineSymbol(Device::Kind::windows, name), symbol) << name.toStdString();
        EXPECT_TRUE(SymbolSet::names().contains(symbol)) << "drawn, not a blank";
    }
    EXPECT_EQ(machineSymbol(Device::Kind::windows, "Studio PC"), "pc");
    EXPECT_EQ(machineSymbol(Device::Kind::linux, "Servers of Nasir"), "terminal") << "whole words only";
    Device d = machine(Device::State::awake);
    d.name = QStringLiteral("Office tower");
    EXPECT_EQ(machineCardFace(d, false).promptGlyph, "desktop.tower");
}

TEST(FlipGesture, HeldPressWithinTenPointsFlipsAndIsNoClick) {
    FlipGesture g;
    QSignalSpy flips(&g, &FlipGesture::flippedChanged);
    g.press(100, 100);
    g.move(106, 108); // exactly 10 away
    EXPECT_TRUE(g.held());
    EXPECT_TRUE(g.flipped());
    EXPECT_FALSE(g.held()) << "one press flips once";
    EXPECT_FALSE(g.release());
    g.press(0, 0);
    EXPECT_TRUE(g.release()) << "a short press is a click";
    g.press(0, 0);
    g.move(10.1, 0);
    g.move(0, 0);
    EXPECT_FALSE(g.held()) << "a press that strayed never flips, even back home";
    EXPECT_TRUE(g.flipped());
    EXPECT_FALSE(g.held()) << "no press, no flip";
    g.close();
    EXPECT_FALSE(g.flipped());
    EXPECT_EQ(flips.count(), 2);
}

TEST(Sparkline, PointsSpanTheWidthAndClampToTheArea) {
    EXPECT_TRUE(sparklinePoints({}, 100, 26).isEmpty());
    EXPECT_EQ(sparklinePoints({0.5}, 100, 26), QList<QPointF>({{0, 13}}));
    EXPECT_EQ(sparklinePoints({-0.2, 1.7}, 100, 26), QList<QPointF>({{0, 26}, {100, 0}}));
    EXPECT_EQ(sparklinePoints({0, 1, 0.25}, 100, 20), QList<QPointF>({{0, 20}, {50, 0}, {100, 15}}));
    const QList<QPointF> many = sparklinePoints(QList<double>(24, 0.5), 230, 26);
    ASSERT_EQ(many.size(), 24);
    EXPECT_DOUBLE_EQ(many[1].x(), 10);
    EXPECT_DOUBLE_EQ(many.last().x(), 230);

    SparklineGeometry g;
    g.setWidth(100);
    g.setHeight(20);
    EXPECT_TRUE(g.area().isEmpty());
    g.setValues({0, 1});
    EXPECT_EQ(g.line(), "M 0.00 20.00 L 100.00 0.00");
    EXPECT_EQ(g.area(), "M 0.00 20.00 L 100.00 0.00 L 100.00 20.00 L 0.00 20.00 Z");
}

TEST(UsageFooter, CountIsGroupedByTheLocaleAndPrefersTheAccount) {
    dovrel::test::TempDir dir;
    UsageMeter meter(std::make_shared<UserDefaults>(dir.file("u.ini")));
    const QLocale english(QLocale::English, QLocale::UnitedStates);
    const QLocale german(QLocale::German, QLocale::Germany);
    EXPECT_EQ(tokensUsedText(meter, english), "0 tokens used");
    meter.addReceived(1234LL * 1048576 + 524288);
    EXPECT_EQ(tokensUsedText(meter, english), "1,235 tokens used");
    EXPECT_EQ(tokensUsedText(meter, german), "1.235 tokens used");
    meter.setAccountTokens(1);
    EXPECT_EQ(tokensUsedText(meter, english), "1 tokens used");
}

TEST(DeckViewModel, ClickWakesAnAsleepMachineBeforeAskingToOpenIt) {
    dovrel::test::TempDir dir;
    RecordingDeckTarget root;
    DeckParts parts(root, dir.file("d.ini"), false);
    Device asleep = machine(Device::State::asleep, "AA:BB:CC:DD:EE:02");
    Device offline = machine(Device::State::offline, "aa:bb:cc:dd:ee:03");
    offline.name = "Server";
    Device awake = machine(Device::State::awake, "aa:bb:cc:dd:ee:01");
    awake.name = "Laptop";
    parts.store.setDevices({asleep, offline, awake});
    std::size_t wakesWhenOpened = 0;
    root.opening = [&] { wakesWhenOpened = parts.wakes.sent.size(); };

    parts.deck.open(0);
    ASSERT_EQ(parts.wakes.sent.size(), 1u);
    EXPECT_EQ(wakesWhenOpened, 1u) << "the packet goes out before the session is asked for";
    const auto& sent = parts.wakes.sent[0];
    EXPECT_EQ(sent.packet, wex::MagicPacket::bytes({0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0x02}));
    EXPECT_EQ(sent.broadcast, 0xC0A801FFu) << "the network's directed broadcast";
    EXPECT_EQ(sent.source, 0xC0A80114u);

    parts.deck.open(1); // offline: nothing
    parts.deck.open(2); // awake: no wake
    parts.deck.open(7); // outside the list
    EXPECT_EQ(parts.wakes.sent.size(), 1u);
    EXPECT_EQ(root.opens, (std::vector<int>{0, 2}));
}

TEST(DeckViewModel, FrostFlipsWithoutSavingAndActionsNameTheirRow) {
    dovrel::test::TempDir dir;
    RecordingDeckTarget root;
    DeckParts parts(root, dir.file("d.ini"), true);
    ASSERT_EQ(parts.deck.count(), 3);
    const auto stored = parts.defaults->string(DeviceStore::key);
    auto* model = parts.deck.machines();
    const QModelIndex first = model->index(0, 0);
    EXPECT_EQ(model->data(first, DeckMachines::FrostMenuTitleRole).toString(), "Frost thumbnail");
    EXPECT_EQ(model->data(first, DeckMachines::ThumbnailRole).toInt(), static_cast<int>(Thumb::demo));
    parts.deck.toggleFrost(0);
    EXPECT_EQ(model->data(first, DeckMachines::FrostTitleRole).toString(), "Show");
    EXPECT_EQ(model->data(first, DeckMachines::ThumbnailRole).toInt(), static_cast<int>(Thumb::frost));
    parts.deck.toggleFrost(0);
    EXPECT_FALSE(parts.store.devices()[0].privacyFrost);
    parts.deck.toggleFrost(9);
    EXPECT_EQ(parts.defaults->string(DeviceStore::key), stored) << "the frost is never saved";

    parts.deck.rename(1);
    parts.deck.unpair(2);
    parts.deck.unpair(3);
    EXPECT_EQ(root.renames, std::vector<int>{1});
    EXPECT_EQ(root.unpairs, std::vector<int>{2});
    parts.deck.open(1);
    EXPECT_TRUE(parts.wakes.sent.empty()) << "demo machines are never woken";
}

TEST(SymbolSet, EveryNamedSymbolHasADrawing) {
    for (const QString& name : SymbolSet::names())
        EXPECT_TRUE(QFile::exists(SymbolSet::resourcePath(name))) << name.toStdString();
    EXPECT_TRUE(SymbolSet::resourcePath("no.such.symbol").isEmpty());
}
