// The window's palette read as a person reads it: every text colour on every ground it is drawn on,
// in the light and the dark scheme. Body text needs 4.5:1.
#include <memory>

#include <QQmlComponent>
#include <QQmlEngine>

#include <gtest/gtest.h>

#include "../../support/Contrast.h"
#include "WindowTestSupport.h"

namespace {

const std::vector<dovrel::test::ContrastCheck> checks = {
    // The column's words, links and status words on the window and in a field.
    {"window", {"text", "secondary", "link", "goodText", "warnText"}, {{"background"}, {"field"}}},
    // A terminal command on its tint.
    {"command", {"text"}, {{"background", "codeFill"}}},
    // A bordered button's words (Copy, New code, Quit, Cancel all access).
    {"button", {"text", "warnText"}, {{"button"}}},
    // The main button's words on its fill.
    {"main button", {"white"}, {{"brandFill"}}},
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
