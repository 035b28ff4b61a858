// Motion at rest, offscreen: the loading overlay's sweep and a breath run only while what they move can
// be seen (item shown, window on the screen), and a breath moves in a bounded number of steps.
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>

#include <gtest/gtest.h>

#include "ViewTestSupport.h"
#include "controller/ui/SteppedBreath.h"

using namespace dovrel::controller;
using namespace dovrel::controller::test;
using std::chrono::milliseconds;

namespace {

struct Shown : ::testing::Test {
    QGuiApplication& app = viewApp();
    QQmlEngine engine;
    QQuickWindow window;
    std::unique_ptr<QObject> root;

    // QML text, or the module's file of that name.
    void load(const QByteArray& qml) {
        QQmlComponent component(&engine);
        if (qml.endsWith(".qml"))
            component.loadUrl(QUrl(QStringLiteral("qrc:/qt/qml/Dovrel/Controller/") + QString::fromUtf8(qml)));
        else
            component.setData(qml, QUrl());
        ASSERT_TRUE(component.isReady()) << component.errorString().toStdString();
        root.reset(component.create());
        ASSERT_TRUE(root) << component.errorString().toStdString();
        qobject_cast<QQuickItem*>(root.get())->setParentItem(window.contentItem());
        window.resize(400, 300);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    }
    bool on(const char* object, const char* property) const {
        return root->findChild<QObject*>(object)->property(property).toBool();
    }
};

} // namespace

TEST_F(Shown, AHiddenOverlaySweepsNothingAndNeitherDoesAMinimisedWindow) {
    ASSERT_NO_FATAL_FAILURE(load("DovrelLoadingView.qml"));
    EXPECT_TRUE(on("shimmerSweep", "running"));
    root->setProperty("visible", false);
    EXPECT_FALSE(on("shimmerSweep", "running"));
    root->setProperty("visible", true);
    EXPECT_TRUE(on("shimmerSweep", "running"));
    window.showMinimized();
    EXPECT_TRUE(waitUntil([&] { return !on("shimmerSweep", "running"); }));
    window.showNormal();
    EXPECT_TRUE(waitUntil([&] { return on("shimmerSweep", "running"); }));
    window.hide();
    EXPECT_FALSE(on("shimmerSweep", "running"));
}

TEST_F(Shown, ABreathRestsWhileItsItemIsHiddenOrItIsNotAsked) {
    ASSERT_NO_FATAL_FAILURE(load("import QtQuick\nimport Dovrel.Controller\n"
                                 "Item { Rectangle { objectName: 'dot'; Breath { objectName: 'breath' } } }"));
    QObject* dot = root->findChild<QObject*>("dot");
    EXPECT_TRUE(on("breath", "breathing"));
    // An ancestor hidden hides the dot too.
    root->setProperty("visible", false);
    EXPECT_FALSE(on("breath", "breathing"));
    EXPECT_EQ(root->findChild<QObject*>("breath")->property("level").toDouble(), 0.0);
    root->setProperty("visible", true);
    EXPECT_TRUE(on("breath", "breathing"));
    root->findChild<QObject*>("breath")->setProperty("running", false);
    EXPECT_FALSE(on("breath", "breathing"));
    root->findChild<QObject*>("breath")->setProperty("running", true);
    dot->setProperty("visible", false);
    EXPECT_FALSE(on("breath", "breathing"));
}

TEST(SteppedBreath, GoesInAndOutInEqualStepsAtMostOneATick) {
    const milliseconds way(1600);
    EXPECT_EQ(SteppedBreath::levelAt(milliseconds(0), way), 0.0);
    EXPECT_EQ(SteppedBreath::levelAt(way / 2, way), 0.5);
    EXPECT_EQ(SteppedBreath::levelAt(way, way), 1.0);
    EXPECT_EQ(SteppedBreath::levelAt(2 * way, way), 0.0);
    EXPECT_EQ(SteppedBreath::levelAt(way / 4, way), SteppedBreath::levelAt(2 * way - way / 4, way));
    // Read on the ticks of two whole breaths: each change is one step, and there are two per step.
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
