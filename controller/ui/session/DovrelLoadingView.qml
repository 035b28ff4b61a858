import QtQuick
import Dovrel.Controller
import Dovrel.Look

// The full-window overlay over a session being opened or refused: the wordmark as a gauge that fills
// with `progress` while, as long as `sweeping` holds, a bright band sweeps across its letters; the status
// line under it and, when there is one, the error. It decides nothing and takes no input. Its ground is the window's own
// backdrop, the deck's, so that opening a session from the deck changes only what stands on it.
Item {
    id: overlay
    property real progress: 0
    property string message: ""
    property string errorText: ""
    // The band sweeps while this holds: while the state it shows is new, not while it only waits.
    property bool sweeping: true

    ThemeBackground {
        anchors.fill: parent
    }

    Column {
        anchors.centerIn: parent
        width: parent.width
        spacing: 22

        WordmarkGauge {
            id: gauge
            objectName: "loadingGauge"
            anchors.horizontalCenter: parent.horizontalCenter
            width: 236
            height: 236 * 176 / 1500
            dark: Theme.dark
            progress: overlay.progress
            // The band sweeps only while the overlay can be seen: hidden, it would still redraw the window.
            readonly property bool sweeping: Motion.shown && overlay.sweeping

            Behavior on progress {
                NumberAnimation {
                    duration: 550
                    easing.type: Easing.InOutQuad
                }
            }
            NumberAnimation on shimmer {
                objectName: "shimmerSweep"
                running: gauge.sweeping
                from: -0.45
                to: 1.08
                duration: 1800
                loops: Animation.Infinite
                // Stopped, the band waits out of sight, where the next sweep sets off from.
                onRunningChanged: {
                    if (!running)
                        gauge.shimmer = -0.45
                }
            }
        }

        Text {
            objectName: "loadingMessage"
            anchors.horizontalCenter: parent.horizontalCenter
            text: overlay.message
            textFormat: Text.PlainText
            font.pixelSize: 14
            font.weight: Font.Medium
            color: Theme.textDim
        }

        ErrorLine {
            objectName: "loadingError"
            width: Math.min(implicitWidth, parent.width - 64, 560)
            anchors.horizontalCenter: parent.horizontalCenter
            text: overlay.errorText
        }
    }
}
