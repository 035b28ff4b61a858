// Motion at rest, offscreen: the loading overlay's sweep and a breath run only while what they move can
// be seen (the item shown, its window on the screen), and a breath moves in a bounded number of steps.
// The screens' settling check sees what is on its way, and only that.
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>

#include <gtest/gtest.h>

#include "../../support/QuickItems.h"
#include "../../support/Settling.h"
#include "ViewTestSupport.h"
#include "controller/ui/look/SteppedBreath.h"

using namespace dovrel::controller;
using namespace dovrel::controller::test;
using std::chrono::milliseconds;

namespace {

// A scene of QML made from `qml`, shown in a window of its own.
struct ShownScene {
    QQmlEngine engine;
    std::unique_ptr<QObject> root;
    QQuickWindow window;

    // False, with the reason in `error`, when the scene could not be made or shown.
    bool show(const char* qml, const QUrl& where, std::string& error) {
        QQmlComponent component(&engine);
        component.setData(qml, where);
        root.reset(component.create());
        if (!root) {
            error = component.errorString().toStdString();
            return false;
        }
        qobject_cast<QQuickItem*>(root.get())->setParentItem(window.contentItem());
        window.show();
        return QTest::qWaitForWindowExposed(&window);
    }
};

} // namespace

TEST(Motion, AHiddenOverlayOrBreathOrAMinimisedWindowRunsNothing) {
    viewApp();
    ShownScene scene;
    std::string error;
    // Placed beside the module's own files, where their names are found.
    ASSERT_TRUE(scene.show("import QtQuick\nimport Dovrel.Controller\nItem {\n"
                           "  DovrelLoadingView { objectName: 'overlay'; width: 200; height: 100 }\n"
                           "  Rectangle { objectName: 'dot'; Breath { objectName: 'breath' } }\n}",
                           QUrl(QStringLiteral("qrc:/qt/qml/Dovrel/Controller/MotionProbe.qml")), error))
        << error;
    QQuickWindow& window = scene.window;
    QObject* root = scene.root.get();
    const auto object = [&](const char* name) { return root->findChild<QObject*>(name); };
    const auto sweeping = [&] { return object("shimmerSweep")->property("running").toBool(); };
    const auto breathing = [&] { return object("breath")->property("breathing").toBool(); };
    EXPECT_TRUE(sweeping());
    EXPECT_TRUE(breathing());

    object("overlay")->setProperty("visible", false);
    object("dot")->setProperty("visible", false);
    EXPECT_FALSE(sweeping());
    EXPECT_FALSE(breathing());
    EXPECT_EQ(object("breath")->property("level").toDouble(), 0.0);
    object("overlay")->setProperty("visible", true);
    object("dot")->setProperty("visible", true);

    window.showMinimized();
    EXPECT_TRUE(waitUntil([&] { return !sweeping() && !breathing(); }));
    window.showNormal();
    EXPECT_TRUE(waitUntil([&] { return sweeping() && breathing(); }));
    window.hide();
    EXPECT_FALSE(sweeping() || breathing());
}

TEST(Motion, ABreathGoesInAndOutInEqualStepsAtMostOneATick) {
    const milliseconds way(1600);
    EXPECT_EQ(SteppedBreath::levelAt(milliseconds(0), way), 0.0);
    EXPECT_NEAR(SteppedBreath::levelAt(way / 2, way), 0.5, 0.5 / SteppedBreath::steps + 1e-9);
    EXPECT_EQ(SteppedBreath::levelAt(way, way), 1.0);
    EXPECT_EQ(SteppedBreath::levelAt(way / 4, way), SteppedBreath::levelAt(2 * way - way / 4, way));
    // Read on the ticks of two whole breaths: each change is one step, each step taken once each way.
    int changes = 0;
    double last = 0;
    for (milliseconds t(0); t <= 4 * way; t += SteppedBreath::tick) {
        const double level = SteppedBreath::levelAt(t, way);
        EXPECT_EQ(level * SteppedBreath::steps, std::round(level * SteppedBreath::steps));
        EXPECT_LE(std::abs(level - last), 1.0 / SteppedBreath::steps + 1e-9);
        changes += level != last;
        last = level;
    }
    EXPECT_EQ(changes, 4 * SteppedBreath::steps);
}

TEST(Motion, TheScreensSettlingCheckSeesWhatIsOnItsWayAndNotWhatLoopsForEver) {
    viewApp();
    ShownScene scene;
    std::string error;
    // A fade under a Behavior, in an item a loader made (outside the object tree of the window), beside
    // a spinner that turns for ever.
    ASSERT_TRUE(
        scene.show("import QtQuick\nItem {\n"
                   "  Loader { sourceComponent: Rectangle { objectName: 'faded'\n"
                   "    Behavior on opacity { NumberAnimation { duration: 300 } } } }\n"
                   "  Rectangle { RotationAnimation on rotation { from: 0; to: 360; loops: Animation.Infinite } }\n}",
                   QUrl(), error))
        << error;
    QQuickWindow& window = scene.window;
    EXPECT_TRUE(dovrel::test::waitSettled(window).isEmpty()) << "a spinner is a state, not a way to one";

    QQuickItem* faded = dovrel::test::findItem(window.contentItem(), QStringLiteral("faded"));
    ASSERT_TRUE(faded);
    faded->setProperty("opacity", 0.0); // through the meta-object, as a binding writes it
    const QStringList moving = dovrel::test::stillMoving({&window, window.contentItem()});
    ASSERT_EQ(moving.size(), 1) << moving.join(", ").toStdString();
    EXPECT_TRUE(moving[0].contains("opacity")) << moving[0].toStdString();
    EXPECT_TRUE(dovrel::test::waitSettled(window).isEmpty());
    EXPECT_EQ(faded->opacity(), 0);
}
