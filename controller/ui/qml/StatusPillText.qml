import QtQuick
import Dovrel.Controller

// The session's link state at the bottom of the window: a dot in the state's colour, "encrypted" or
// "reconnecting", and the round trip and frame rate once the session stands.
Rectangle {
    id: pill
    property bool connected: false
    property bool reconnecting: false
    property int latencyMs: 0
    property int fps: 0

    readonly property color stateColor: reconnecting ? Theme.warn : connected ? Theme.good : Theme.textDimmer
    readonly property color latencyColor: latencyMs < 1 ? Theme.textDimmer
                                        : latencyMs < 40 ? Theme.good
                                        : latencyMs <= 100 ? Theme.warn : Theme.bad

    implicitWidth: row.implicitWidth + 30
    implicitHeight: row.implicitHeight + 20
    radius: height / 2
    color: Qt.rgba(0.08, 0.08, 0.1, 0.72)
    border.color: Theme.stroke
    border.width: 1

    Row {
        id: row
        anchors.centerIn: parent
        spacing: 9

        Rectangle {
            anchors.verticalCenter: parent.verticalCenter
            width: 8
            height: 8
            radius: 4
            color: pill.stateColor
        }
        Text {
            objectName: "pillState"
            text: pill.reconnecting ? qsTr("reconnecting") : qsTr("encrypted")
            font.family: "monospace"
            font.pixelSize: 12
            font.weight: Font.Medium
            color: Qt.rgba(1, 1, 1, 0.9)
        }
        Text {
            visible: pill.connected && !pill.reconnecting
            text: "·"
            font.pixelSize: 12
            color: Theme.textDimmer
        }
        Text {
            objectName: "pillLatency"
            visible: pill.connected && !pill.reconnecting
            text: qsTr("%1 ms").arg(pill.latencyMs)
            font.family: "monospace"
            font.pixelSize: 12
            font.weight: Font.Medium
            color: pill.latencyColor
        }
        Text {
            visible: pill.connected && !pill.reconnecting
            text: "·"
            font.pixelSize: 12
            color: Theme.textDimmer
        }
        Text {
            visible: pill.connected && !pill.reconnecting
            text: qsTr("%1 fps").arg(pill.fps)
            font.family: "monospace"
            font.pixelSize: 12
            color: Theme.textDim
        }
    }
}
