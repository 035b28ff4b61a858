import QtQuick
import QtQuick.Layouts

// An address or a similar line to copy by hand: monospaced, selectable, wrapping; absent when empty.
TextEdit {
    required property Theme theme
    visible: text.length > 0
    Layout.fillWidth: true
    Layout.preferredWidth: 0
    wrapMode: TextEdit.Wrap
    textFormat: TextEdit.PlainText
    readOnly: true
    selectByMouse: true
    selectionColor: theme.accent
    selectedTextColor: theme.accentLabel
    color: theme.textDim
    font.family: "DejaVu Sans Mono"
    font.pixelSize: theme.caption
}
