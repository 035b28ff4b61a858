// The assistant panel's QML offscreen, driven through its controls.
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QtQml/QQmlExtensionPlugin>

#include <gtest/gtest.h>

#include "../ui/QuibPanelFakes.h"
#include "ViewTestSupport.h"

Q_IMPORT_QML_PLUGIN(Dovrel_ControllerPlugin)

using namespace dovrel::controller;
using namespace dovrel::controller::test;

namespace {

QStringList qmlWarnings;
void collectWarnings(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type != QtDebugMsg && type != QtInfoMsg) qmlWarnings << text;
}

// By the visual tree, which also holds what a Repeater made.
QQuickItem* child(QQuickItem* root, const char* name) {
    for (QQuickItem* item : root->childItems()) {
        if (item->objectName() == QLatin1String(name)) return item;
        if (QQuickItem* found = child(item, name)) return found;
    }
    return nullptr;
}

struct PanelFixture : ::testing::Test, PanelParts {
    void SetUp() override { panel.show(); }
};

TEST_F(PanelFixture, TheQmlPanelLoadsOffscreenAndDrivesTheModel) {
    viewApp();
    qmlWarnings.clear();
    qInstallMessageHandler(collectWarnings);
    QQmlEngine engine;
    QQmlComponent component(&engine, QUrl("qrc:/qt/qml/Dovrel/Controller/QuibPanel.qml"));
    QQuickWindow window;
    std::unique_ptr<QObject> object(component.createWithInitialProperties({{"model", QVariant::fromValue(&panel)}}));
    ASSERT_TRUE(object) << component.errorString().toStdString();
    auto* root = qobject_cast<QQuickItem*>(object.get());
    root->setParentItem(window.contentItem());
    window.resize(470, 400);
    window.show();
    QCoreApplication::processEvents();

    panel.setPrompt("fix grammar");
    QQuickItem* generate = child(root, "quibGenerate");
    ASSERT_TRUE(generate);
    EXPECT_TRUE(generate->isEnabled());
    QMetaObject::invokeMethod(generate, "clicked");
    ASSERT_EQ(assistant->calls.size(), 1u);
    EXPECT_FALSE(generate->isEnabled());
    EXPECT_TRUE(child(root, "quibBusy")->isVisible());
    assistant->calls[0].done(QString("Done."));
    EXPECT_EQ(child(root, "quibDraft")->property("text").toString(), "Done.");
    EXPECT_EQ(child(root, "quibStatus")->property("text").toString(),
              "Draft updated - Insert to type it into the remote.");

    QQuickItem* insert = child(root, "quibInsert");
    ASSERT_TRUE(insert);
    QMetaObject::invokeMethod(insert, "clicked");
    EXPECT_EQ(remote->typed, std::vector<QString>{"Done."});

    assistant->remaining = 0;
    panel.setCloudConsent(false);
    EXPECT_TRUE(child(root, "quibSignIn")->isVisible());
    EXPECT_FALSE(child(root, "quibPrompt")->isVisible());
    qInstallMessageHandler(nullptr);
    EXPECT_TRUE(qmlWarnings.isEmpty()) << qmlWarnings.join("\n").toStdString();
}

} // namespace
