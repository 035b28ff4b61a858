#pragma once

#include <memory>
#include <string>

#include <QGuiApplication>
#include <QQuickWindow>
#include <QUdpSocket>

#include "../../agent/desktop/XProbe.h"
#include "../client/ClientTestSupport.h"
#include "../media/AgentUnderTest.h"
#include "../ui/GuiTestApp.h"
#include "XvfbServer.h"
#include "controller/client/input/RemoteInput.h"
#include "controller/client/session/InputBinding.h"
#include "controller/ui/session/InputCaptureItem.h"

namespace dovrel::controller::test {

// The real DovrelAgent on a private 1280 x 720 Xvfb whose whole screen is one probe window with the
// keyboard focus, and the controller's capture item (640 x 360, offscreen) driving the real client in
// an established session with it, once the first picture told the client the screen's size.
struct AgentSession {
    std::unique_ptr<dovrel::test::XvfbServer> x;
    std::unique_ptr<dovrel::test::XProbe> probe;
    AgentUnderTest agent;
    ClientFixture f;
    std::unique_ptr<RemoteInput> input;
    std::unique_ptr<QQuickWindow> window;
    InputCaptureItem* item = nullptr;

    // Empty when the session is up; else why not (`skip` says whether that is a reason to skip).
    std::string start(bool& skip) {
        guiApp();
        skip = false;
        x = std::make_unique<dovrel::test::XvfbServer>(1280, 720);
        if (!x->available() || !x->running()) {
            skip = !x->available();
            return "no Xvfb: " + x->failure();
        }
        probe = std::make_unique<dovrel::test::XProbe>(x->display(), true); // the agent opens its window
        if (!probe->ok()) return "the probe window could not be made";
        {
            QUdpSocket free;
            free.bind(QHostAddress::LocalHost, 0);
            f.config.videoPort = free.localPort();
        }
        const wex::Bytes key = f.keyTrusting(agent.publicKey(), agent.room());
        std::string why;
        if (!agent.start(DOVREL_AGENT_BINARY, key, f.config.videoPort, {{"DISPLAY", x->display()}}, why)) return why;
        f.config.inputPort = agent.inputPort();
        WEXClient& c = f.make();
        input = makeRemoteInput(c, realScheduler());
        input->setTargetKind(TargetKind::linuxDesktop);
        window = std::make_unique<QQuickWindow>();
        window->resize(640, 360);
        item = new InputCaptureItem(window->contentItem());
        item->setSize(QSizeF(640, 360));
        item->setInput(input.get());
        window->show();
        c.connectToHost(QString("127.0.0.1:%1").arg(agent.controlPort()));
        if (!f.waitPhase(PhaseKind::connected, std::chrono::seconds(15)))
            return "no session: " + f.message() + " / " + f.status() + "\n" + agent.tail(30);
        if (!waitUntil([&] { return c.remoteSize() == QSizeF(1280, 720); }, std::chrono::seconds(15)))
            return "no picture size from the agent\n" + agent.tail(30);
        item->forceActiveFocus();
        return {};
    }

    void mouse(QEvent::Type type, QPointF at, Qt::MouseButton button, Qt::MouseButtons held) {
        QMouseEvent e(type, at, at, window->mapToGlobal(at), button, held, Qt::NoModifier);
        QCoreApplication::sendEvent(window.get(), &e);
    }
    void key(QEvent::Type type, int qtKey, quint32 scanCode, const QString& text = {},
             Qt::KeyboardModifiers mods = Qt::NoModifier) {
        QKeyEvent e(type, qtKey, mods, scanCode, 0, 0, text);
        QCoreApplication::sendEvent(window.get(), &e);
    }
};

} // namespace dovrel::controller::test
