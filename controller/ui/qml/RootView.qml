import QtQuick
import Dovrel.Controller

// The window's content: one screen at a time, chosen by the root's route, on the themed backdrop.
// Screens cross-fade with the theme's spring.
Item {
    id: rootView
    required property RootViewModel root
    required property SessionViewModel session
    required property AppearanceModel appearance

    ThemeBackground {
        anchors.fill: parent
    }

    component Route: Loader {
        id: routeLoader
        required property int route
        readonly property bool current: rootView.root.route === route
        anchors.fill: parent
        active: current || opacity > 0
        visible: opacity > 0
        opacity: current ? 1 : 0
        Behavior on opacity {
            NumberAnimation {
                duration: Theme.springMs
                easing.type: Theme.springEasing
            }
        }
    }

    Route {
        objectName: "deckRoute"
        route: RootViewModel.Deck
        sourceComponent: DeckScreen {
            root: rootView.root
            appearance: rootView.appearance
        }
    }
    Route {
        objectName: "pairingRoute"
        route: RootViewModel.Pairing
        sourceComponent: PairingScreen {
            root: rootView.root
        }
    }
    Route {
        objectName: "sessionRoute"
        route: RootViewModel.Session
        sourceComponent: SessionScreen {
            session: rootView.session
            onExitRequested: rootView.root.endSession()
        }
    }

    Binding {
        target: rootView.session
        property: "deviceName"
        value: rootView.root.activeName
    }
    Binding {
        target: rootView.session
        property: "demo"
        value: rootView.root.demoSession
    }

    Component.onCompleted: root.appeared()
}
