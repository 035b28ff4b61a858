import QtQuick
import QtQuick.Controls.Fusion
import QtQuick.Layouts

// The row that opens each section: symbol, title, and a spinner while the section's work runs.
RowLayout {
    id: header
    required property Theme theme
    property string symbol
    property color symbolColor: theme.brand
    property string title
    property bool busy: false
    spacing: 6
    Layout.fillWidth: true

    Symbol { name: header.symbol; color: header.symbolColor; size: 15 }
    Label {
        text: header.title
        textFormat: Text.PlainText
        color: header.theme.text
        font.pixelSize: header.theme.callout
        font.weight: Font.DemiBold
    }
    Item { Layout.fillWidth: true }
    Spinner {
        objectName: header.objectName + "Busy"
        visible: header.busy
        color: header.theme.link
        Layout.preferredWidth: 14
        Layout.preferredHeight: 14
    }
}
