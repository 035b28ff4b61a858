import QtQuick
import QtQuick.Layouts

// The rounded container that groups controls: a faint fill and a 1-pixel border inside its bounds, its
// content a column standing `inset` in from the edge. Its width is the caller's to give: content as wide
// as the card would otherwise feed the card's width back into itself, and a layout holding such a card
// stops following its height.
Rectangle {
    id: card
    required property real corner
    property real inset: 0
    property alias spacing: column.spacing
    default property alias content: column.data

    radius: corner
    color: Look.card
    border.color: Look.stroke
    border.width: 1
    implicitHeight: column.implicitHeight + 2 * inset

    ColumnLayout {
        id: column
        anchors.fill: parent
        anchors.margins: card.inset
    }
}
