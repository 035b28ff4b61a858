#pragma once

#include <QQmlApplicationEngine>
#include <QQuickWindow>

#include "controller/ui/assistant/QuibPanelModel.h"
#include "controller/ui/deck/DeckViewModel.h"
#include "controller/ui/look/AppearanceModel.h"
#include "controller/ui/pairing/PairingViewModel.h"
#include "controller/ui/root/RootViewModel.h"
#include "controller/ui/session/SessionViewModel.h"
#include "controller/ui/signin/SignInViewModel.h"

namespace dovrel::controller::test {

// The models the window's QML is given, as the program's composition root hands them over.
struct WindowModels {
    RootViewModel& root;
    SessionViewModel& session;
    AppearanceModel& appearance;
    PairingViewModel& pairing;
    SignInViewModel& signIn;
    DeckViewModel& deck;
    QuibPanelModel& assistant;
};

// Loads the controller's window with `models`; null when it did not come up.
inline QQuickWindow* loadMainWindow(QQmlApplicationEngine& engine, const WindowModels& models) {
    engine.setInitialProperties({{"root", QVariant::fromValue(&models.root)},
                                 {"session", QVariant::fromValue(&models.session)},
                                 {"appearance", QVariant::fromValue(&models.appearance)},
                                 {"pairing", QVariant::fromValue(&models.pairing)},
                                 {"signIn", QVariant::fromValue(&models.signIn)},
                                 {"deck", QVariant::fromValue(&models.deck)},
                                 {"assistant", QVariant::fromValue(&models.assistant)}});
    engine.load(QUrl(QStringLiteral("qrc:/qt/qml/Dovrel/Controller/Main.qml")));
    return engine.rootObjects().size() == 1 ? qobject_cast<QQuickWindow*>(engine.rootObjects().first()) : nullptr;
}

} // namespace dovrel::controller::test
