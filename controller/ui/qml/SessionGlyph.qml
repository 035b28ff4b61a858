import QtQuick
import Dovrel.Controller

// A symbol of the session window's controls, named as the design names it, drawn from the text
// font's own symbols.
Text {
    id: glyph
    property string symbol
    property real size: 14

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

    text: glyphs[symbol] ?? "•"
    font.pixelSize: size
    horizontalAlignment: Text.AlignHCenter
    verticalAlignment: Text.AlignVCenter
}
