import QtQuick

// An error, said the one way both programs say it: the error's mark and its words in the error's ink
// on a ground of its own, so that it reads alike on every surface. Shown only while it has words;
// the field it concerns marks itself (WellField's `invalid`).
Rectangle {
    id: line
    property string text

    visible: line.text.length > 0
    implicitWidth: words.implicitWidth + 40
    implicitHeight: Math.max(words.implicitHeight, 16) + 14
    radius: 8
    color: Look.errorGround
    border.color: Qt.alpha(Look.error, 0.5)
    border.width: 1

    ErrorMark {
        id: mark
        x: 10
        y: words.y + Math.max(0, (words.firstLineHeight - height) / 2)
    }
    Text {
        id: words
        objectName: line.objectName.length > 0 ? line.objectName + "Text" : ""
        readonly property real firstLineHeight: lineCount > 0 ? implicitHeight / lineCount : implicitHeight
        x: 30
        y: 7
        width: line.width - 40
        wrapMode: Text.Wrap
        text: line.text
        textFormat: Text.PlainText
        font.pixelSize: Look.detail
        font.weight: Font.Medium
        lineHeight: 1.1
        color: Look.errorInk
    }
}
