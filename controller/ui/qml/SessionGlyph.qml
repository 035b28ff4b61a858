import QtQuick
import Dovrel.Controller

// A symbol of the session window's controls, named as the design names it: from our symbol set where
// it has one, else from the text font's own symbols.
Item {
    id: glyph
    property string symbol
    property real size: 14
    property color color: "white"
    property alias font: text.font
    readonly property var drawn: ["display.2", "lock.fill", "moon.zzz.fill", "xmark"]

    readonly property var glyphs: ({
            "hand.tap": "☝",
            "rectangle.and.hand.point.up.left": "▭",
            "cursorarrow.motionlines": "➚",
            "cursorarrow.click.2": "⊙",
            "checkmark": "✓",
            "speaker.wave.2.fill": "♫",
            "speaker.slash.fill": "⊘",
            "questionmark": "?",
            "arrow.up.left.and.arrow.down.right": "⤢",
            "xmark": "✕",
            "rectangle.3.group": "❐",
            "square.grid.3x3.fill": "▦",
            "magnifyingglass": "⚲",
            "menubar.dock.rectangle": "▭",
            "bell.fill": "♪",
            "display.2": "◫",
            "arrow.up.doc.fill": "⇪",
            "moon.zzz.fill": "☾",
            "lock.fill": "⚷",
            "exclamationmark.shield.fill": "⚠",
            "xmark.circle.fill": "⊗",
            "lock.shield.fill": "◈",
            "exclamationmark.triangle.fill": "⚠",
            "arrow.up.and.down.and.arrow.left.and.right": "✥",
            "keyboard": "⌨",
            "circle.grid.cross.fill": "✣",
            "chevron.up": "⌃"
        })

    implicitWidth: drawn.includes(symbol) ? size : text.implicitWidth
    implicitHeight: drawn.includes(symbol) ? size : text.implicitHeight

    Symbol {
        anchors.centerIn: parent
        visible: glyph.drawn.includes(glyph.symbol)
        name: visible ? glyph.symbol : ""
        size: glyph.size
        color: glyph.color
    }
    Text {
        id: text
        anchors.centerIn: parent
        visible: !glyph.drawn.includes(glyph.symbol)
        text: glyph.glyphs[glyph.symbol] ?? "•"
        textFormat: Text.PlainText
        font.pixelSize: glyph.size
        color: glyph.color
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
    }
}
