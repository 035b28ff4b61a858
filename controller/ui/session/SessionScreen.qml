import QtQuick
import QtQuick.Dialogs
import QtQuick.Window
import Dovrel.Controller

// The session window: the remote picture fitted on black with the input capture exactly over it, the
// cursor marker and click ripple, the loading overlay while the session opens, and over it all the
// controls: the top row, the notice, the status pill that opens the action wheel, the writing
// assistant's panel, the display picker and the controls guide. Every rule and timer lives in the session's model; this file lays out and
// animates.
Rectangle {
    id: screen
    required property SessionViewModel session
    required property QuibPanelModel assistant

    readonly property SessionHud hud: session.hud
    // Where the window has a title area, the top row stands in a band of its own above the picture, so
    // that the window's buttons and the chips cover nothing of the remote screen (its clock and status
    // icons stand at its top edge, under them); in full screen the row floats over the picture.
    readonly property real titleRoom: WindowActions.titled(Window.window) ? topChips.implicitHeight + 8 : 0
    // The status pill, likewise, in a band of its own under the picture: no control lies over the remote
    // screen's dock or taskbar; in full screen it floats over the picture's foot. On whole pixels, as the
    // picture's edges are.
    readonly property real pillInset: 9
    readonly property real pillRoom: titleRoom > 0 ? Math.ceil(pill.implicitHeight) + 2 * pillInset : 0
    // The picture's place in the window: the largest rectangle of its shape, centred between the bands.
    readonly property rect fit: {
        session.remoteSize // re-fit when the picture's size changes
        const r = session.fitted(width, height - titleRoom - pillRoom)
        return Qt.rect(r.x, r.y + titleRoom, r.width, r.height)
    }

    color: "black"

    Binding {
        target: screen.hud
        property: "banded"
        value: screen.titleRoom > 0
    }

    // The picture, which the assistant's panel shows blurred through its glass.
    Item {
        id: picture
        anchors.fill: parent

        // The surface fits the picture into itself by the same rule, centred on black; it keeps the
        // window's size so that it never moves while a picture shows.
        VideoSurfaceItem {
            objectName: "videoSurface"
            anchors.fill: parent
            anchors.topMargin: screen.titleRoom
            anchors.bottomMargin: screen.pillRoom
            client: screen.session.client
            visible: !screen.session.demo
        }

        // A demo session shows the made-up desktop in the picture's place.
        Loader {
            objectName: "demoDesktop"
            x: screen.fit.x
            y: screen.fit.y
            width: screen.fit.width
            height: screen.fit.height
            active: screen.session.demo
            sourceComponent: DemoDesktop {}
        }
    }

    // Reconnecting dims the picture.
    Rectangle {
        anchors.fill: parent
        color: "black"
        opacity: screen.session.reconnecting ? 0.24 : 0
        enabled: false
    }

    DovrelLoadingView {
        objectName: "loadingOverlay"
        anchors.fill: parent
        progress: screen.session.loadingProgress
        message: screen.session.loadingMessage
        errorText: screen.session.loadingError
        sweeping: screen.session.loadingSweeps
        visible: opacity > 0
        opacity: screen.session.overlayShown ? 1 : 0
        enabled: false

        Behavior on opacity {
            NumberAnimation {
                duration: Theme.springMs
            }
        }
    }

    // The mouse and keyboard over the picture, and only over it, go to the remote machine.
    InputCaptureItem {
        id: capture
        objectName: "inputCapture"
        x: screen.fit.x
        y: screen.fit.y
        width: screen.fit.width
        height: screen.fit.height
        input: screen.session.input
        focus: true
        // Nothing reaches the remote machine while the window's own dialog or a panel covers the picture.
        enabled: !screen.hud.pictureCovered
        onPointerMoved: point => screen.session.pointerAt(Qt.point(point.x + x, point.y + y))
        onClicked: point => screen.session.clickAt(Qt.point(point.x + x, point.y + y))
    }

    CursorMarker {
        interaction: screen.session.interaction
    }
    TouchRipple {
        interaction: screen.session.interaction
    }

    // The band is the window's title area, also while the row is away; the pointer in it brings the
    // controls back, as it does over the picture.
    TitleDragArea {
        objectName: "titleBandDrag"
        width: parent.width
        height: screen.titleRoom
    }
    MouseArea {
        objectName: "titleBand"
        width: parent.width
        height: screen.titleRoom
        acceptedButtons: Qt.NoButton
        hoverEnabled: true
        onPositionChanged: screen.hud.interact()
    }
    MouseArea {
        objectName: "pillBand"
        anchors.bottom: parent.bottom
        width: parent.width
        height: screen.pillRoom
        acceptedButtons: Qt.NoButton
        hoverEnabled: true
        onPositionChanged: screen.hud.interact()
    }

    Column {
        anchors.top: parent.top
        anchors.left: parent.left
        anchors.right: parent.right
        spacing: 8

        SessionChips {
            id: topChips
            objectName: "topChips"
            width: parent.width
            session: screen.session
            assistant: screen.assistant
            onExitPressed: screen.session.exit()
        }
        NoticeBanner {
            anchors.horizontalCenter: parent.horizontalCenter
            notices: screen.session.notices
            onEndPressed: screen.session.exit()
        }
    }

    // The action wheel over a dimmed window; a click beside it closes it.
    Item {
        objectName: "wheelLayer"
        anchors.fill: parent
        visible: opacity > 0
        opacity: screen.hud.wheelOpen ? 1 : 0
        Behavior on opacity {
            NumberAnimation {
                duration: Theme.springMs
            }
        }

        Rectangle {
            anchors.fill: parent
            color: Qt.rgba(0, 0, 0, 0.32)
            MouseArea {
                objectName: "wheelBackdrop"
                anchors.fill: parent
                onClicked: screen.hud.wheelOpen = false
            }
        }
        RadialWheel {
            objectName: "radialWheel"
            anchors.horizontalCenter: parent.horizontalCenter
            anchors.bottom: parent.bottom
            anchors.bottomMargin: 120
            model: screen.session.wheel
            open: screen.hud.wheelOpen
            onActivated: row => screen.session.runWheelAction(row)
        }
    }

    StatusPillText {
        id: pill
        objectName: "statusPill"
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.bottom: parent.bottom
        anchors.bottomMargin: screen.pillRoom > 0 ? screen.pillInset : 18
        word: screen.session.pillWord
        connected: screen.session.connected
        reconnecting: screen.session.reconnecting
        // Its figures change every second; while it is away they wait, since any change to an item, seen
        // or not, has the whole window drawn again.
        Binding on latencyMs {
            when: screen.hud.bright
            value: screen.session.latencyMs
            restoreMode: Binding.RestoreNone
        }
        Binding on latencyBand {
            when: screen.hud.bright
            value: screen.session.latencyBand
            restoreMode: Binding.RestoreNone
        }
        Binding on fps {
            when: screen.hud.bright
            value: screen.session.fps
            restoreMode: Binding.RestoreNone
        }
        expanded: screen.hud.wheelOpen
        // At rest it leaves, as the top row does over the picture; its wheel is offered only once a
        // session stood.
        opacity: screen.hud.bright && screen.session.stood ? 1 : 0
        visible: opacity > 0
        enabled: screen.hud.bright && screen.session.stood
        Behavior on opacity {
            NumberAnimation {
                duration: screen.hud.bright ? Theme.springMs : 600
                easing.type: screen.hud.bright ? Theme.springEasing : Easing.OutQuad
            }
        }
        MouseArea {
            anchors.fill: parent
            cursorShape: Qt.PointingHandCursor
            onClicked: screen.hud.toggleWheel()
        }
    }

    // The hud's flag follows the panel, which opens from its chip and closes from its own button or
    // when the window is left.
    Binding {
        target: screen.hud
        property: "assistantOpen"
        value: screen.assistant.open
    }

    // The writing assistant floats above the status pill; its close button hides it.
    QuibPanel {
        objectName: "assistantPanel"
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.bottom: parent.bottom
        anchors.bottomMargin: 92
        model: screen.assistant
        backdrop: picture
        visible: opacity > 0
        opacity: screen.assistant.open ? 1 : 0
        Behavior on opacity {
            NumberAnimation {
                duration: Theme.springMs
            }
        }
    }
    Connections {
        target: screen.assistant
        function onCloseRequested() {
            screen.assistant.hide()
        }
    }

    DisplayPicker {
        anchors.fill: parent
        session: screen.session
        visible: opacity > 0
        opacity: screen.hud.showMonitors ? 1 : 0
        Behavior on opacity {
            NumberAnimation {
                duration: Theme.springMs
            }
        }
    }

    // Any one file for the machine's download folder; nothing happens when none is chosen.
    FileDialog {
        id: fileChooser
        objectName: "fileChooser"
        fileMode: FileDialog.OpenFile
        onAccepted: screen.session.sendFile(selectedFile)
    }
    Binding {
        target: screen.hud
        property: "dialogOpen"
        value: fileChooser.visible
    }
    Connections {
        target: screen.session
        function onFileChooserRequested(folder) {
            fileChooser.currentFolder = folder
            fileChooser.open()
        }
    }

    ControlsGuide {
        anchors.fill: parent
        session: screen.session
        visible: opacity > 0
        opacity: screen.hud.showGuide ? 1 : 0
        onClosed: screen.hud.showGuide = false
        Behavior on opacity {
            NumberAnimation {
                duration: Theme.springMs
            }
        }
    }
}
