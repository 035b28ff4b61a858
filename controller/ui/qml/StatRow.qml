import QtQuick
import Dovrel.Controller

// One small figure of a card: a dim label, then the percentage in the row's colour.
Row {
    id: row
    required property string label
    required property string value
    required property color tint

    spacing: 5
    Text {
        anchors.verticalCenter: parent.verticalCenter
        text: row.label
        textFormat: Text.PlainText
        font.pixelSize: 10
        font.weight: Font.Medium
        color: Theme.textDimmer
    }
    Text {
        anchors.verticalCenter: parent.verticalCenter
        text: row.value
        textFormat: Text.PlainText
        font.pixelSize: 11
        font.weight: Font.DemiBold
        color: row.tint
    }
}
