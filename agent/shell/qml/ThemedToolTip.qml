import QtQuick
import QtQuick.Controls.Fusion

// A tip in the window's colours, wrapping at 240 so that a long one reads as a short paragraph.
ToolTip {
    id: tip
    required property Theme theme
    delay: 600
    padding: 6
    leftPadding: 9
    rightPadding: 9
    contentWidth: Math.min(contentItem.implicitWidth, 240)
    contentItem: Text {
        text: tip.text
        textFormat: Text.PlainText
        wrapMode: Text.Wrap
        font.pixelSize: tip.theme.caption
        color: tip.theme.text
    }
    background: Rectangle {
        radius: 6
        color: tip.theme.field
        border.color: tip.theme.divider
        border.width: 1
    }
}
