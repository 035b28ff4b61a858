import QtQuick
import QtQuick.Controls.Basic

// A mark, a title that wraps, and an item in the trailing corner (`trailing`, declared inside and placed
// by its user: anchored right, at y (band - height) / 2). The title wraps in the room the trailing item
// leaves, so that a long one never pushes it past the edge; the mark and the trailing item stand level
// with the title's first line. Anchored rather than in a row layout, which keeps a wrapped title's first
// height after the title has room for one line.
Item {
    id: head
    required property Theme theme
    property alias symbol: mark.name
    property alias symbolColor: mark.color
    property alias symbolSize: mark.size
    property alias markName: mark.objectName
    property alias titleName: title.objectName
    property alias text: title.text
    property alias titleFont: title.font
    // Where the title starts, past the mark.
    property real indent: 23
    property Item trailing: null
    readonly property bool trailingShown: trailing !== null && trailing.visible
    // The band of the first line, which the mark and the trailing item share with the title.
    readonly property real band: Math.max(title.firstLine, trailingShown ? trailing.implicitHeight : 0)

    // The width it would take on one line: a column does not lay out again a row that appears with no
    // width of its own.
    implicitWidth: indent + title.implicitWidth + (trailingShown ? 8 + trailing.implicitWidth : 0)
    implicitHeight: Math.max(band, title.y + title.implicitHeight)

    Symbol {
        id: mark
        anchors.left: parent.left
        y: (head.band - height) / 2
    }
    Label {
        id: title
        readonly property real firstLine: lineCount > 0 ? implicitHeight / lineCount : implicitHeight
        y: (head.band - firstLine) / 2
        anchors.left: parent.left
        anchors.leftMargin: head.indent
        anchors.right: head.trailingShown ? head.trailing.left : parent.right
        anchors.rightMargin: head.trailingShown ? 8 : 0
        wrapMode: Text.Wrap
        textFormat: Text.PlainText
        color: head.theme.text
    }
}
