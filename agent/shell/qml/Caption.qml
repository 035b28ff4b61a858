import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts

// Explanatory text that wraps to as many lines as it needs: a paragraph, or (`small`) the small print.
Label {
    required property Theme theme
    property bool small: false
    textFormat: Text.PlainText
    Layout.fillWidth: true
    wrapMode: Text.Wrap
    lineHeight: 1.08
    color: small ? theme.textDimmer : theme.textDim
    font.pixelSize: small ? theme.caption : theme.detail
}
