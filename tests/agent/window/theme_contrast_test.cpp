// The window's palette read as a person reads it: every text colour on every ground it is drawn on,
// in the light and the dark scheme. Body text needs 4.5:1; marks, and the edge of a field that an
// error concerns, 3:1.
#include <memory>

#include <QQmlComponent>
#include <QQmlEngine>

#include <gtest/gtest.h>

#include "../../support/Contrast.h"
#include "WindowTestSupport.h"

namespace {

// The window's backdrop at both ends, a section's card on it, a field or command in a card.
const std::vector<std::vector<const char*>> cards = {{"bgTop", "card"}, {"bgBottom", "card"}};
const std::vector<std::vector<const char*>> wells = {{"bgTop", "card", "well"}, {"bgBottom", "card", "well"}};

const std::vector<dovrel::test::ContrastCheck> checks = {
    // The column's words, links and status words on the window and on a card.
    {"window", {"text", "textDim"}, {{"bgTop"}, {"bgBottom"}}},
    {"card", {"text", "textDim", "textDimmer", "accentInk", "goodInk", "warnInk", "badInk"}, cards},
    // A field's words and hint; a command's words.
    {"field", {"text", "textDimmer"}, wells},
    // A plain and a destructive button's words (Copy, New code, Cancel all access, Quit).
    {"button", {"text"}, {{"bgTop", "card", "card2"}}},
    {"destructive button", {"badInk"}, {{"bgTop", "card", "bad@0.14"}}},
    // The main button's words on the accent (Sign in, New pairing code).
    {"main button", {"accentLabel"}, {{"accent"}}},
    // The confirmation before every code is cancelled, on its raised ground.
    {"confirmation", {"text", "textDim"}, {{"raised"}}},
    // An error's words on its own ground.
    {"error", {"errorInk"}, {{"errorGround"}}},
    // Marks: checks, warnings, the error's mark; the edge of the field an error concerns.
    {"marks", {"goodInk", "warnMark", "accentInk"}, cards, 3},
    {"error mark", {"error"}, {{"errorGround"}}, 3},
    {"error edge", {"error"}, wells, 3},
};

} // namespace

TEST(AgentThemeContrast, EveryTextReadsOnItsGroundInBothSchemes) {
    dovrel::test::guiApp();
    QQmlEngine engine;
    QQmlComponent component(&engine, QUrl(QStringLiteral("qrc:/agent/qml/Theme.qml")));
    std::unique_ptr<QObject> theme(component.create());
    ASSERT_TRUE(theme) << component.errorString().toStdString();
    for (const bool dark : {false, true}) {
        theme->setProperty("dark", dark);
        dovrel::test::expectReadable(*theme, checks, dark ? "dark" : "light");
    }
}
