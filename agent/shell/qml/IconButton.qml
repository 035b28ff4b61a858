import QtQuick
import QtQuick.Controls.Fusion
import QtQuick.Layouts

// A bordered button with a symbol before its title.
Button {
    id: button
    required property Theme theme
    property string symbol
    property bool danger: false
    // Shown while the pointer rests on the button; none when empty.
    property string tip
    font.pixelSize: theme.caption
    ThemedToolTip {
        theme: button.theme
        visible: button.hovered && button.tip.length > 0
        text: button.tip
    }
    contentItem: RowLayout {
        spacing: 5
        Symbol {
            name: button.symbol
            color: !button.enabled ? button.theme.secondary : (button.danger ? button.theme.warn : button.theme.brand)
            size: 12
        }
        Label {
            objectName: button.objectName + "Label"
            text: button.text
            textFormat: Text.PlainText
            font: button.font
            color: !button.enabled ? button.theme.secondary : (button.danger ? button.theme.warnText : button.theme.text)
        }
    }
}
