import QtQuick
import QtQuick.Controls
import Dovrel.Controller

// The controller's one window. It has no title bar of the window manager's: its content reaches the
// top edge, and each screen's header is its title area (TitleDragArea, WindowButtons). Its edges
// resize it; a hairline marks them while it has its own size.
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
    flags: Qt.Window | Qt.FramelessWindowHint
    title: qsTr("DOVRELÆ")
    color: Theme.bgTop

    Binding {
        target: Theme
        property: "dark"
        value: window.appearance.dark
    }

    RootView {
        id: rootView
        objectName: "rootView"
        anchors.fill: parent
        root: window.root
        session: window.session
        appearance: window.appearance
        deck: window.deck
        pairing: window.pairing
        signIn: window.signIn
        assistant: window.assistant
    }

    Rectangle {
        anchors.fill: parent
        z: 100
        visible: WindowActions.windowed(window)
        enabled: false
        color: "transparent"
        border.color: Theme.dark ? Qt.rgba(1, 1, 1, 0.12) : Qt.rgba(0, 0, 0, 0.18)
        border.width: 1
    }
    ResizeEdges {
        anchors.fill: parent
        z: 101
        // A session's picture is the remote machine's to its last pixel: the edges only beside it.
        keepClear: window.root.route === RootViewModel.Session ? rootView.picture : Qt.rect(0, 0, 0, 0)
    }
}
