import QtQuick
import QtQuick.Controls.Basic

// A button that reads as a link in the accent's ink; in the error's ink where it ends something.
AbstractButton {
    id: link
    required property Theme theme
    property bool danger: false
    padding: 2
    font.pixelSize: theme.detail
    font.weight: Font.Medium
    contentItem: Text {
        text: link.text
        textFormat: Text.PlainText
        font: link.font
        color: !link.enabled ? link.theme.textDimmer : (link.danger ? link.theme.badInk : link.theme.accentInk)
        opacity: link.pressed ? 0.6 : link.hovered ? 0.8 : 1
    }
    MouseArea {
        anchors.fill: parent
        acceptedButtons: Qt.NoButton
        cursorShape: Qt.PointingHandCursor
    }
}
