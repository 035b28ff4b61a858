import QtQuick
import Dovrel.Controller

// The session's link state at the bottom of the window: a dot in the state's colour, the link's word
// (SessionViewModel's pillWord: "encrypted" only once the session is sealed), the round trip once the
// session stands (coloured by its band) and, expanded, the frame rate; the chevron points down while
// expanded.
Rectangle {
    id: pill
    property string word
    property bool connected: false
    property bool reconnecting: false
    property int latencyMs: 0
    property int fps: 0
    // The round trip's colour band (SessionViewModel's latencyBand: none, good, fair, poor).
    property int latencyBand: 0
    property bool expanded: false

    readonly property color stateColor: reconnecting ? Theme.warn : connected ? Theme.good : Theme.textDimmerDark
    readonly property color latencyColor: [Theme.textDimmerDark, Theme.good, Theme.warn, Theme.bad][latencyBand]

    implicitWidth: row.implicitWidth + 30
    implicitHeight: row.implicitHeight + 20
    radius: height / 2
    color: Theme.material
    border.color: Theme.stroke
    border.width: 1

    Row {
        id: row
        anchors.centerIn: parent
        spacing: 9

        Rectangle {
            objectName: "pillDot"
            anchors.verticalCenter: parent.verticalCenter
            width: 8
            height: 8
            radius: 4
            color: pill.stateColor
            // Its glow, in its own colour.
            Shadow {
                blur: 4
                corner: 4
                color: Qt.alpha(pill.stateColor, 0.7)
            }
        }
        Text {
            objectName: "pillState"
            text: pill.word
            textFormat: Text.PlainText
            font.family: "monospace"
            font.pixelSize: 12
            font.weight: Font.Medium
            color: Qt.rgba(1, 1, 1, 0.9)
        }
        Text {
            visible: pill.connected && !pill.reconnecting
            text: "·"
            textFormat: Text.PlainText
            font.pixelSize: 12
            color: Theme.textDimmerDark
        }
        Text {
            objectName: "pillLatency"
            visible: pill.connected && !pill.reconnecting
            text: qsTr("%1 ms").arg(pill.latencyMs)
            textFormat: Text.PlainText
            font.family: "monospace"
            font.pixelSize: 12
            font.weight: Font.Medium
            color: pill.latencyColor
        }
        Text {
            visible: pill.connected && !pill.reconnecting && pill.expanded
            text: "·"
            textFormat: Text.PlainText
            font.pixelSize: 12
            color: Theme.textDimmerDark
        }
        Text {
            objectName: "pillFps"
            visible: pill.connected && !pill.reconnecting && pill.expanded
            text: qsTr("%1 fps").arg(pill.fps)
            textFormat: Text.PlainText
            font.family: "monospace"
            font.pixelSize: 12
            color: Theme.textDimDark
        }
        Symbol {
            objectName: "pillChevron"
            anchors.verticalCenter: parent.verticalCenter
            name: "chevron.up"
            size: 9
            color: Theme.textDimmerDark
            rotation: pill.expanded ? 180 : 0
        }
    }
}
