import QtQuick
import QtQuick.Controls.Fusion
import QtQuick.Layouts

// A bordered button with a symbol before its title.
Button {
    id: button
    required property Theme theme
    property string symbol
    property bool danger: false
    font.pixelSize: theme.caption
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
            color: !button.enabled ? button.theme.secondary : (button.danger ? button.theme.warn : button.theme.text)
        }
    }
}
