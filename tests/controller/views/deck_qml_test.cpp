// The deck's real QML offscreen, over its model with a fake network: the empty state against the grid,
// the footer's count in the locale, a click that wakes and opens, the long press that flips a card, the
// account chip, and the add tile and the small figures lined up with the cards and their names.
#include <algorithm>

#include <QFontMetricsF>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQmlListReference>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QTest>

#include <QtQml/QQmlExtensionPlugin>

#include <gtest/gtest.h>

#include "../../support/TempHome.h"
#include "ViewTestSupport.h"
#include "controller/ui/look/AppearanceModel.h"
#include "controller/ui/root/RootViewModel.h"

using namespace dovrel::controller;
using namespace dovrel::controller::test;

namespace {

// Every item under `root` in the scene (delegates have no QObject parent to find them by).
void collectItems(QQuickItem* root, QList<QQuickItem*>& into) {
    for (QQuickItem* child : root->childItems()) {
        into << child;
        collectItems(child, into);
    }
}

QString textOf(QQuickItem* item) { return item ? item->property("text").toString() : QStringLiteral("<missing>"); }

struct DeckQml : ::testing::Test {
    QGuiApplication& app = viewApp();
    dovrel::test::TempDir dir;
    RootServices services;
    FakeSessionPort session;
    RootViewModel root{session, services.store, *services.account, LaunchArguments::parse({"p"}),
                       services.startPolling};
    DeckParts parts{root, services.store, dir.file("d.ini"), false, QLocale(QLocale::German, QLocale::Germany)};
    DarkDesktop desktop;
    AppearanceModel appearance{parts.defaults, desktop};
    QQmlEngine engine;
    QQuickWindow window;
    std::unique_ptr<QObject> screen;

    void SetUp() override {
        window.resize(1120, 700);
        QQmlComponent component(&engine, QUrl(QStringLiteral("qrc:/qt/qml/Dovrel/Controller/DeckScreen.qml")));
        screen.reset(component.createWithInitialProperties(
            {{"appearance", QVariant::fromValue(&appearance)}, {"deck", QVariant::fromValue(&parts.deck)}}));
        ASSERT_TRUE(screen) << component.errorString().toStdString();
        auto* item = qobject_cast<QQuickItem*>(screen.get());
        item->setParentItem(window.contentItem());
        item->setSize(window.size());
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    }

    QQuickItem* find(const char* name) const { return screen->findChild<QQuickItem*>(name); }
    QList<QQuickItem*> cards() const {
        QList<QQuickItem*> found;
        QList<QQuickItem*> all;
        collectItems(window.contentItem(), all);
        for (QQuickItem* i : all)
            if (i->property("flipped").isValid() && i->property("promptText").isValid()) found << i;
        return found;
    }
    static QQuickItem* childOf(QQuickItem* parent, const char* name) {
        QList<QQuickItem*> all;
        collectItems(parent, all);
        for (QQuickItem* i : all)
            if (i->objectName() == QLatin1String(name)) return i;
        return nullptr;
    }
    // The grid has placed its cells (the add tile moves off the first card's place).
    bool laidOut() const {
        QQuickItem* add = find("addTile");
        return !cards().isEmpty() && add && add->mapToScene({0, 0}) != cards().first()->mapToScene({0, 0});
    }
    QPoint centreOf(QQuickItem* item) const {
        return item->mapToScene(QPointF(item->width() / 2, item->height() / 2)).toPoint();
    }
};

} // namespace

TEST_F(DeckQml, EmptyStateGivesWayToTheGridAndFooter) {
    EXPECT_TRUE(find("emptyState")->isVisible());
    EXPECT_FALSE(find("deckGrid")->isVisible());
    EXPECT_FALSE(find("usageFooter")->isVisible());
    QTest::mouseClick(&window, Qt::LeftButton, {}, centreOf(find("emptyPairButton")));
    ASSERT_TRUE(waitUntil([&] { return root.route() == RootViewModel::Route::Pairing; }));

    parts.usage.addReceived(1234LL * 1048576);
    Device d;
    d.name = QStringLiteral("Studio");
    d.state = Device::State::awake;
    parts.store.putFirst(d);
    ASSERT_TRUE(waitUntil([&] { return find("deckGrid")->isVisible(); }));
    EXPECT_FALSE(find("emptyState")->isVisible());
    EXPECT_TRUE(find("usageFooter")->isVisible());
    EXPECT_EQ(textOf(find("tokensText")), "1.234 tokens used");
    EXPECT_EQ(cards().size(), 1);
    QQuickItem* add = find("addTile");
    ASSERT_TRUE(add);
    EXPECT_TRUE(waitUntil([&] {
        return add->mapToScene({0, 0}).x() > cards().first()->mapToScene({0, 0}).x();
    })) << "the add tile comes last";
}

TEST_F(DeckQml, ClickOnTheWakePromptWakesThenOpens) {
    Device d;
    d.name = QStringLiteral("Studio PC");
    d.state = Device::State::asleep;
    d.mac = QStringLiteral("aa:bb:cc:dd:ee:02");
    parts.store.putFirst(d);
    ASSERT_TRUE(waitUntil([&] { return cards().size() == 1 && laidOut(); }));
    QQuickItem* card = cards().first();
    ASSERT_TRUE(card);
    ASSERT_TRUE(waitUntil([&] { return textOf(childOf(card, "promptText")) == "Click to wake & connect"; }));
    QTest::mouseClick(&window, Qt::LeftButton, {}, centreOf(card));
    ASSERT_TRUE(waitUntil([&] { return root.route() == RootViewModel::Route::Session; }))
        << "the root opens the session the deck asked for";
    EXPECT_EQ(parts.wakes.sent.size(), 1u);
    ASSERT_EQ(session.dials.size(), 1u);
    EXPECT_FALSE(card->property("flipped").toBool());
}

TEST_F(DeckQml, LongPressFlipsTheCardAndTheCloseButtonTurnsItBack) {
    Device d;
    d.name = QStringLiteral("Laptop");
    d.state = Device::State::awake;
    d.cpu = {0.3, 0.5};
    d.statsCurrent = true;
    parts.store.putFirst(d);
    ASSERT_TRUE(waitUntil([&] { return cards().size() == 1 && laidOut(); }));
    QQuickItem* card = cards().first();
    ASSERT_TRUE(card);
    QQuickItem* spark = childOf(card, "sparkline");
    ASSERT_TRUE(spark);
    EXPECT_TRUE(spark->isVisible());
    EXPECT_EQ(spark->property("values").value<QList<double>>(), QList<double>({0.3, 0.5}));

    QTest::mousePress(&window, Qt::LeftButton, {}, centreOf(card));
    ASSERT_TRUE(waitUntil([&] { return card->property("flipped").toBool(); }));
    QTest::mouseRelease(&window, Qt::LeftButton, {}, centreOf(card));
    EXPECT_TRUE(session.dials.empty()) << "the press that flipped is no click";
    // Clicked only once the card has turned all the way: half-turned, its back is a sliver too narrow
    // to hit.
    const auto turnedOver = [&] {
        QQmlListReference transforms(card, "transform");
        return transforms.count() == 1 && transforms.at(0)->property("angle").toReal() == 180;
    };
    ASSERT_TRUE(waitUntil(turnedOver));
    EXPECT_TRUE(childOf(card, "back")->isVisible());

    QQuickItem* frost = childOf(card, "frostTile");
    QTest::mouseClick(&window, Qt::LeftButton, {}, centreOf(frost));
    ASSERT_TRUE(waitUntil([&] { return parts.store.devices()[0].privacyFrost; }));
    EXPECT_TRUE(card->property("flipped").toBool()) << "a tile leaves the card turned";
    ASSERT_TRUE(waitUntil([&] { return frost->property("title").toString() == "Show"; }));

    QTest::mouseClick(&window, Qt::LeftButton, {}, centreOf(childOf(card, "closeBack")));
    ASSERT_TRUE(waitUntil([&] { return !card->property("flipped").toBool(); }));
    EXPECT_TRUE(session.dials.empty());
}

TEST_F(DeckQml, TheAccountChipNamesWhoSignedInAndAsksTheRoot) {
    QQuickItem* chip = find("accountChip");
    QTest::mouseClick(&window, Qt::LeftButton, {}, centreOf(chip));
    EXPECT_TRUE(root.showSignIn()) << "signed out, the chip offers the sign-in sheet";
    root.signInDone(QStringLiteral("ada"));
    ASSERT_TRUE(waitUntil([&] { return textOf(find("accountChipText")) == "ada"; }));
    services.account->save({"ada", "secret-token", "relay.example", 8443});
    QTest::mouseClick(&window, Qt::LeftButton, {}, centreOf(chip));
    ASSERT_EQ(root.alert(), RootViewModel::Alert::SignOut);
    root.answerAlert(true);
    EXPECT_TRUE(waitUntil([&] { return textOf(find("accountChipText")) == "Sign in"; }));
}

TEST_F(DeckQml, TheAppearanceTipClickedThroughNamesTheWayBack) {
    QQuickItem* toggle = find("appearanceToggle");
    ASSERT_TRUE(toggle);
    // Hovering as on a desktop (the offscreen platform asks for no hover effects).
    toggle->setProperty("hoverEnabled", true);
    // The pointer comes to rest on the toggle and clicks at once, before its tip shows.
    QTest::mouseMove(&window, centreOf(toggle));
    QTest::mouseClick(&window, Qt::LeftButton, {}, centreOf(toggle));
    ASSERT_EQ(appearance.preference(), "light");
    ASSERT_TRUE(toggle->property("hovered").toBool());
    // The toggle's tip comes up with the words for the new state.
    QObject* tip = toggle->findChild<QObject*>("appearanceTip");
    ASSERT_TRUE(tip);
    ASSERT_TRUE(waitUntil([&] { return tip->property("visible").toBool(); }));
    EXPECT_EQ(tip->property("text").toString(), "Switch to dark");
}

TEST_F(DeckQml, TheAddTileLinesUpWithTheCardsAndTheFiguresKeepToTheNamesLines) {
    for (const bool battery : {false, true}) {
        Device d;
        d.name = battery ? QStringLiteral("Laptop") : QStringLiteral("Studio");
        d.state = Device::State::awake;
        d.statsCurrent = true;
        d.battery = battery ? std::optional(0.8) : std::nullopt;
        parts.store.putFirst(d);
    }
    ASSERT_TRUE(waitUntil([&] { return cards().size() == 2 && laidOut(); }));
    EXPECT_EQ(find("addTile")->height(), cards().first()->height());
    const auto line = [](QQuickItem* i) { return i->mapToScene({0, i->baselineOffset()}).y(); };
    const auto font = [](QQuickItem* i) { return QFontMetricsF(i->property("font").value<QFont>()); };
    for (QQuickItem* card : cards()) {
        QQuickItem* name = childOf(card, "nameText");
        QQuickItem* status = childOf(card, "stateText");
        QList<QQuickItem*> rows;
        for (QQuickItem* row : childOf(card, "miniStats")->childItems())
            if (row->isVisible() && row->baselineOffset() > 0) rows << row;
        std::sort(rows.begin(), rows.end(), [](auto* a, auto* b) { return a->y() < b->y(); });
        if (rows.size() == 2) { // on the name's line and the status line
            EXPECT_NEAR(line(rows[0]), line(name), 0.5);
            EXPECT_NEAR(line(rows[1]), line(status), 0.5);
            continue;
        }
        // Three: none above the name's capitals or below the status line's descenders, evenly apart.
        ASSERT_EQ(rows.size(), 3);
        const double figureCaps = font(rows[0]->childItems().last()).capHeight();
        EXPECT_GE(line(rows[0]) - figureCaps, line(name) - font(name).capHeight() - 0.5);
        EXPECT_LE(line(rows[2]), line(status) + font(status).descent() + 0.5);
        EXPECT_NEAR(line(rows[1]) - line(rows[0]), line(rows[2]) - line(rows[1]), 0.01);
    }
}
