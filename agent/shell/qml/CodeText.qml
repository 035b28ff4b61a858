import QtQuick
import QtQuick.Layouts

// An address or a similar line to copy by hand: monospaced, selectable, wrapping; absent when empty.
MonoText {
    visible: text.length > 0
    Layout.fillWidth: true
    Layout.preferredWidth: 0
    wrapMode: TextEdit.Wrap
    color: theme.textDim
    font.pixelSize: theme.caption
}
