import QtQuick
import QtQuick.Controls
import Dovrel.Controller

// The controller's one window.
ApplicationWindow {
    id: window
    required property RootViewModel root
    required property SessionViewModel session
    required property AppearanceModel appearance
    required property DeckViewModel deck
    required property PairingViewModel pairing
    required property SignInViewModel signIn
    required property QuibPanelModel assistant

    width: 1120
    height: 760
    minimumWidth: 880
    minimumHeight: 600
    visible: true
    title: qsTr("DOVRELÆ")
    color: Theme.bgTop

    Binding {
        target: Theme
        property: "dark"
        value: window.appearance.dark
    }

    RootView {
        anchors.fill: parent
        root: window.root
        session: window.session
        appearance: window.appearance
        deck: window.deck
        pairing: window.pairing
        signIn: window.signIn
        assistant: window.assistant
    }
}
