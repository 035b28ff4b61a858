import QtQuick
import Dovrel.Look

// A compact button of the shared look with a symbol before its title; `tip` shows while the pointer
// rests on it (none when empty).
ThemedButton {
    id: button
    required property Theme theme
    property string symbol
    property string tip
    compact: true
    leading: Symbol {
        name: button.symbol
        color: button.destructive || button.primary ? button.ink : button.theme.accentInk
        size: 13
    }
    ThemedToolTip {
        wrapWidth: 240
        visible: button.hovered && button.tip.length > 0
        text: button.tip
    }
}
