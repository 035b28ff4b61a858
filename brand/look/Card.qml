import QtQuick

// The rounded container that groups controls: a faint fill and a 1-pixel border inside its bounds.
// It adds no padding; callers pad the content. Its width is the caller's to give: content as wide as
// the card would otherwise feed the card's width back into itself, and a layout holding such a card
// stops following its height.
Rectangle {
    id: card
    required property real corner
    default property alias content: holder.data

    radius: corner
    color: Look.card
    border.color: Look.stroke
    border.width: 1
    implicitHeight: holder.childrenRect.height

    Item {
        id: holder
        anchors.fill: parent
    }
}
