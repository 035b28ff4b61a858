import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Dovrel.Look

// A terminal command on the field's ground, selectable, with a copy button in its top right corner.
Rectangle {
    id: line
    required property Theme theme
    property string command
    signal copy()
    Layout.fillWidth: true
    implicitHeight: Math.max(commandText.implicitHeight + 12, 28)
    radius: 8
    color: line.theme.well
    border.color: line.theme.stroke

    FontMetrics {
        id: metrics
        font: commandText.font
    }

    // The command as it is laid out `room` wide. A word joiner between each two characters of a word
    // keeps the word whole, so that the lines break only at the command's spaces (never after a hyphen
    // or a slash: "hybrid-sleep.target" is one name). A word wider than a whole line breaks before the
    // dot that ends the longest part of it that fits, so that it starts a line and the next line
    // begins with the dot, reading as the same word.
    function laidOut(command: string, room: real): string {
        return command.split(" ").map(word => {
            const breaks = new Set()
            for (let start = 0; metrics.advanceWidth(word.slice(start)) > room;) {
                let cut = -1
                for (let dot = word.indexOf(".", start + 1); dot > 0; dot = word.indexOf(".", dot + 1)) {
                    if (metrics.advanceWidth(word.slice(start, dot)) > room)
                        break
                    cut = dot
                }
                if (cut < 0)
                    break
                breaks.add(cut)
                start = cut
            }
            let out = word.slice(0, 1)
            for (let i = 1; i < word.length; ++i)
                out += (breaks.has(i) ? "\u200B" : "\u2060") + word[i]
            return out
        }).join(" ")
    }

    MonoText {
        id: commandText
        objectName: line.objectName + "Text"
        theme: line.theme
        x: 9
        y: 6
        width: copyButton.x - x - 2
        text: line.laidOut(line.command, width)
        // Only a word with no break of its own left is broken anywhere.
        wrapMode: TextEdit.WrapAtWordBoundaryOrAnywhere
        font.pixelSize: 11
        // What is copied by hand is the command's own characters, without the joiners.
        Keys.onPressed: event => {
            if (!event.matches(StandardKey.Copy) || commandText.selectedText.length === 0)
                return
            copier.text = commandText.selectedText.replace(/[\u2060\u200B]/g, "")
            copier.selectAll()
            copier.copy()
            event.accepted = true
        }
    }
    // Puts the cleaned selection on the clipboard.
    TextEdit {
        id: copier
        visible: false
        textFormat: TextEdit.PlainText
    }
    AbstractButton {
        id: copyButton
        objectName: line.objectName + "Copy"
        x: line.width - width - 3
        y: 3
        implicitWidth: 22
        implicitHeight: 22
        contentItem: Item {
            Symbol { anchors.centerIn: parent; name: "copy"; color: line.theme.accentInk; size: 13 }
        }
        background: Rectangle {
            radius: 6
            color: copyButton.hovered ? line.theme.card2 : "transparent"
        }
        ThemedToolTip {
            wrapWidth: 240
            visible: copyButton.hovered
            text: qsTr("Copy command")
        }
        onClicked: line.copy()
    }
}
