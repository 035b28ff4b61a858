import QtQuick
import QtQuick.Controls.Fusion
import QtQuick.Layouts

// Explanatory text that wraps to as many lines as it needs.
Label {
    required property Theme theme
    property bool small: false
    textFormat: Text.PlainText
    Layout.fillWidth: true
    wrapMode: Text.Wrap
    color: theme.secondary
    font.pixelSize: small ? theme.caption2 : theme.caption
}
