import QtQuick
import QtQuick.Controls.Fusion

// A button that reads as a link in the brand green.
AbstractButton {
    id: link
    required property Theme theme
    property bool danger: false
    padding: 2
    font.pixelSize: theme.caption
    contentItem: Text {
        text: link.text
        textFormat: Text.PlainText
        font: link.font
        color: !link.enabled ? link.theme.secondary : (link.danger ? link.theme.warnText : link.theme.link)
        opacity: link.pressed ? 0.6 : 1
    }
    MouseArea {
        anchors.fill: parent
        acceptedButtons: Qt.NoButton
        cursorShape: Qt.PointingHandCursor
    }
}
