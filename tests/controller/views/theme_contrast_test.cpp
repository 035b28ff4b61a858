// The palette read as a person reads it: every text colour against every surface it is drawn on, in
// both appearances, composited the way the window stacks them. Body text needs 4.5:1, large text 3:1.
#include <memory>

#include <QColor>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QtQml/QQmlExtensionPlugin>

#include <gtest/gtest.h>

#include "../../support/Contrast.h"
#include "ViewTestSupport.h"

Q_IMPORT_QML_PLUGIN(Dovrel_ControllerPlugin)
Q_IMPORT_QML_PLUGIN(Dovrel_LookPlugin)

using namespace dovrel::controller::test;

namespace {

// The window's grounds: both ends of the backdrop's gradient, a card on them, a tile on a card.
using Ground = std::vector<const char*>;
const std::vector<Ground> backdrops = {{"bgTop"}, {"bgBottom"}};
std::vector<Ground> on(std::initializer_list<const char*> layers) {
    std::vector<Ground> out;
    for (auto ground : backdrops) {
        ground.insert(ground.end(), layers);
        out.push_back(ground);
    }
    return out;
}

const std::vector<dovrel::test::ContrastCheck> checks = {
    // The deck, the pairing screen, the footer.
    {"window", {"text", "textDim", "textDimmer", "accentInk", "goodInk", "warnInk", "badInk"}, on({})},
    {"card", {"text", "textDim", "textDimmer", "accentInk", "goodInk", "warnInk", "badInk"}, on({"card"})},
    // A card's status mark: the awake dot, the asleep dot, the stopped program's ring.
    {"status mark on a card", {"goodMark", "warnMark", "badMark"}, on({"card"}), 3},
    // The back's tiles ("Frost", "Rename", "Unpair") and the disabled capsules' words.
    {"tile on a card", {"text", "textDim", "accentInk", "badInk"}, on({"card", "card2"})},
    // The pairing screen's fields: their words and hints.
    {"field on a card", {"text", "textDimmer"}, on({"card", "well"})},
    // Pair, Connect, Save, Generate: words on the accent.
    {"accent button", {"accentLabel"}, {{"accent"}}},
    // The account chip's words on its tint.
    {"account chip", {"text"}, on({"accent@0.16"})},
    // Alerts, menus and tips.
    {"alert", {"text", "textDim", "badInk"}, {{"raised"}}},
    // A destructive button: its words on its faint red.
    {"destructive button", {"badInk"}, {{"raised", "bad@0.14"}}},
    // The loading overlay's words and its refusal, on the window's own backdrop.
    {"loading", {"textDim", "badInk"}, on({})},
    // The card's thumbnail is dark in either appearance.
    {"thumbnail", {"textDimmerDark", "#b8bdc7"}, {{"#1a2133"}, {"#12172a"}}},
    // The chips, the pill, the notice, the wheel and the display picker over the picture, whether the
    // screen under them is white or black.
    {"controls over the picture",
     {"white", "white@0.62", "textDimDark", "good", "warn", "bad"},
     {{"white", "material"}, {"black", "material"}}},
    {"wheel button over the dimmed picture", {"white", "warn", "bad"}, {{"white", "black@0.32", "material"}}},
    // The assistant's panel, its tiles and its fields.
    {"assistant panel", {"white", "textDimDark", "textDimmerDark"}, {{"white", "panel"}, {"black", "panel"}}},
    {"assistant tile", {"white"}, {{"white", "panel", "card2Dark"}}},
    // The sign-in sheet's words on its green, on its error box, segments and fields.
    {"sign-in sheet", {"white", "white@0.85"}, {{"brandTop"}, {"brandBottom"}, {"brandTop", "black@0.18"}}},
    {"sign-in segments", {"white"}, {{"brandTop", "white@0.16"}}},
    {"sign-in fields", {"white", "white@0.85"}, {{"brandTop", "white@0.1"}}},
    {"sign-in selected segment", {"brandInk"}, {{"brandAccent"}}},
    // An error's words on its own ground, wherever the line stands; its mark there; the edge of the
    // field it concerns on a card, and on the sign-in sheet's green.
    {"error", {"errorInk"}, {{"errorGround"}}},
    {"error mark", {"error"}, {{"errorGround"}}, 3},
    {"error edge", {"error"}, on({"card", "well"}), 3},
    {"sign-in error edge", {"errorDark"}, {{"brandTop", "white@0.1"}, {"brandBottom", "white@0.1"}}, 3},
    {"error mark over the picture", {"errorDark"}, {{"white", "material"}, {"black", "material"}}, 3},
};

class ThemeContrast : public ::testing::TestWithParam<bool> {};

} // namespace

TEST_P(ThemeContrast, EveryTextReadsOnEverySurfaceItIsDrawnOn) {
    viewApp();
    QQmlEngine engine;
    QQmlComponent holder(&engine);
    holder.setData("import QtQuick\nimport Dovrel.Controller\nQtObject { property QtObject theme: Theme }",
                   QUrl(QStringLiteral("qrc:/qt/qml/Dovrel/Controller/ThemeContrast.qml")));
    std::unique_ptr<QObject> made(holder.create());
    ASSERT_TRUE(made) << holder.errorString().toStdString();
    QObject* theme = made->property("theme").value<QObject*>();
    ASSERT_TRUE(theme);
    const bool dark = GetParam();
    theme->setProperty("dark", dark);
    dovrel::test::expectReadable(*theme, checks, dark ? "dark" : "light");
}

INSTANTIATE_TEST_SUITE_P(BothAppearances, ThemeContrast, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& p) { return p.param ? "dark" : "light"; });
