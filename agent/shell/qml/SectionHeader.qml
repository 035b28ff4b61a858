import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts

// The row that opens each section: symbol, title, and a spinner while the section's work runs.
RowLayout {
    id: header
    required property Theme theme
    property string symbol
    property color symbolColor: theme.accentInk
    property string title
    property bool busy: false
    spacing: 8
    Layout.fillWidth: true
    Layout.bottomMargin: 2

    Symbol { name: header.symbol; color: header.symbolColor; size: 16 }
    Label {
        text: header.title
        textFormat: Text.PlainText
        color: header.theme.text
        font.pixelSize: header.theme.headline
        font.weight: Font.DemiBold
    }
    Item { Layout.fillWidth: true }
    Spinner {
        objectName: header.objectName + "Busy"
        visible: header.busy
        color: header.theme.accentInk
        Layout.preferredWidth: 14
        Layout.preferredHeight: 14
    }
}
