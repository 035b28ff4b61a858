import QtQuick
import QtQuick.Controls
import Dovrel.Controller

// The session until the full session window arrives: the remote picture fitted on black, driven by
// the mouse and keyboard over it, the link's state at the bottom, an end button, and the loading
// overlay while the session opens.
Rectangle {
    id: screen
    required property RootViewModel root
    required property SessionViewModel session

    color: "black"

    VideoSurfaceItem {
        objectName: "videoSurface"
        anchors.fill: parent
        client: screen.session.client
    }

    // The mouse and keyboard over the picture go to the remote machine.
    InputCaptureItem {
        objectName: "inputCapture"
        anchors.fill: parent
        input: screen.session.input
        focus: true
    }

    StatusPillText {
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.bottom: parent.bottom
        anchors.bottomMargin: 18
        connected: screen.session.connected
        reconnecting: screen.session.reconnecting
        latencyMs: screen.session.latencyMs
        fps: screen.session.fps
    }

    DovrelLoadingView {
        objectName: "loadingOverlay"
        anchors.fill: parent
        progress: screen.session.loadingProgress
        message: screen.session.loadingMessage
        errorText: screen.session.loadingError
        visible: opacity > 0
        opacity: screen.session.overlayShown ? 1 : 0

        Behavior on opacity {
            NumberAnimation {
                duration: Theme.springMs
            }
        }
    }

    ThemedButton {
        objectName: "endSession"
        overPicture: true
        anchors.top: parent.top
        anchors.right: parent.right
        anchors.margins: 14
        text: qsTr("End")
        onClicked: screen.root.endSession()
    }
}
