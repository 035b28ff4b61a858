import QtQuick
import Dovrel.Controller

// One small figure of a card: a dim label, then the percentage in the row's colour, the two on one
// baseline, which is the row's own (so that the card can set rows on the lines of its text).
Row {
    id: row
    required property string label
    required property string value
    required property color tint
    readonly property alias figureFont: figure.font

    spacing: 5
    baselineOffset: figure.y + figure.baselineOffset
    Text {
        anchors.baseline: figure.baseline
        text: row.label
        textFormat: Text.PlainText
        font.pixelSize: 10
        font.weight: Font.Medium
        color: Theme.textDimmer
    }
    Text {
        id: figure
        text: row.value
        textFormat: Text.PlainText
        font.pixelSize: 11
        font.weight: Font.DemiBold
        color: row.tint
    }
}
