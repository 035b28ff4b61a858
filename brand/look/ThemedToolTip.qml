import QtQuick
import QtQuick.Controls.Basic

// A tip of the shared look: the raised ground with a hairline and a shadow, its words wrapping at `wrapWidth` so
// that a long tip reads as a short paragraph instead of one line across the window.
ToolTip {
    id: tip
    property real wrapWidth: 320
    delay: 600
    padding: 8
    leftPadding: 11
    rightPadding: 11
    contentWidth: Math.min(contentItem.implicitWidth, tip.wrapWidth)
    contentItem: Text {
        text: tip.text
        textFormat: Text.PlainText
        wrapMode: Text.Wrap
        font.pixelSize: Look.detail
        color: Look.text
    }
    // Raised off the page as the menus and alerts are: their corner, and a faint fall of shadow under
    // it (drawn, not blurred, so that it shows on every renderer), whether it holds a word or a paragraph.
    background: Item {
        Rectangle {
            anchors.fill: parent
            anchors.topMargin: 2
            anchors.bottomMargin: -3
            radius: Look.fieldCorner
            color: Qt.rgba(0, 0, 0, Look.dark ? 0.32 : 0.09)
        }
        Rectangle {
            anchors.fill: parent
            radius: Look.fieldCorner
            color: Look.raised
            border.color: Look.stroke
            border.width: 1
        }
    }
}
