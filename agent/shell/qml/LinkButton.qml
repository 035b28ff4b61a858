import QtQuick
import QtQuick.Controls.Basic

// A button that reads as a link in the accent's ink.
AbstractButton {
    id: link
    required property Theme theme
    padding: 2
    font.pixelSize: theme.detail
    font.weight: Font.Medium
    contentItem: Text {
        text: link.text
        textFormat: Text.PlainText
        font: link.font
        color: !link.enabled ? link.theme.textDimmer : link.theme.accentInk
        opacity: link.pressed ? 0.6 : link.hovered ? 0.8 : 1
    }
    MouseArea {
        anchors.fill: parent
        acceptedButtons: Qt.NoButton
        cursorShape: Qt.PointingHandCursor
    }
}
