import QtQuick
import Dovrel.Controller

// The window's content: one screen at a time, chosen by the root's route, on the themed backdrop.
// A screen is made when its route begins, cross-fades with the theme's spring, and goes once it has
// faded out, so each visit starts afresh.
Item {
    id: rootView
    required property RootViewModel root
    required property SessionViewModel session
    required property AppearanceModel appearance
    required property DeckViewModel deck
    required property PairingViewModel pairing
    required property SignInViewModel signIn
    required property QuibPanelModel assistant

    // The screens end above the launch's notice while it shows, so that it covers nothing of them.
    readonly property real noticeRoom: launchNotice.visible ? launchNotice.height + 2 * launchNotice.anchors.bottomMargin : 0
    // Where the session's picture stands in the window; nothing while no session screen is made.
    readonly property rect picture: {
        const screen = sessionRoute.item as SessionScreen
        return screen ? screen.fit : Qt.rect(0, 0, 0, 0)
    }

    ThemeBackground {
        anchors.fill: parent
    }

    component Route: Loader {
        id: routeLoader
        required property bool current
        required property url screen
        required property var screenProperties

        anchors.fill: parent
        focus: current
        visible: opacity > 0
        opacity: current ? 1 : 0
        onVisibleChanged: {
            if (visible)
                setSource(screen, screenProperties)
            else
                source = ""
        }
        Component.onCompleted: {
            if (visible)
                setSource(screen, screenProperties)
        }
        Behavior on opacity {
            NumberAnimation {
                duration: Theme.springMs
                easing.type: Theme.springEasing
            }
        }
    }

    Route {
        objectName: "deckRoute"
        anchors.bottomMargin: rootView.noticeRoom
        current: rootView.root.route === RootViewModel.Deck
        screen: Qt.resolvedUrl("DeckScreen.qml")
        screenProperties: ({ "appearance": rootView.appearance, "deck": rootView.deck })
    }
    Route {
        objectName: "pairingRoute"
        anchors.bottomMargin: rootView.noticeRoom
        current: rootView.root.route === RootViewModel.Pairing
        screen: Qt.resolvedUrl("PairingScreen.qml")
        screenProperties: ({ "pairing": rootView.pairing })
    }
    Route {
        id: sessionRoute
        objectName: "sessionRoute"
        anchors.bottomMargin: rootView.noticeRoom
        current: rootView.root.route === RootViewModel.Session
        screen: Qt.resolvedUrl("SessionScreen.qml")
        screenProperties: ({ "session": rootView.session, "assistant": rootView.assistant })
    }

    // What the launch could not do, and why, in a band of its own under the screen; a tap puts it away.
    Rectangle {
        id: launchNotice
        objectName: "launchNotice"
        visible: rootView.root.notice.length > 0
        anchors.bottom: parent.bottom
        anchors.bottomMargin: 12
        anchors.horizontalCenter: parent.horizontalCenter
        width: Math.min(620, parent.width - 32)
        height: launchNoticeText.implicitHeight + 20
        radius: 14
        color: Theme.material
        border.color: Theme.strokeDark
        border.width: 1
        Text {
            id: launchNoticeText
            x: 14
            y: 10
            width: parent.width - 28
            text: rootView.root.notice
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
            font.pixelSize: 12
            font.weight: Font.Medium
            color: "white"
        }
        MouseArea {
            anchors.fill: parent
            onClicked: rootView.root.dismissNotice()
        }
    }

    RootAlerts {
        anchors.fill: parent
        root: rootView.root
        signIn: rootView.signIn
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

    Component.onCompleted: rootView.root.appeared()
}
