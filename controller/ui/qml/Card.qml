import QtQuick

// The rounded container that groups controls: a faint fill and a 1-pixel border inside its bounds.
// It adds no padding; callers pad the content.
Rectangle {
    id: card
    required property real corner
    default property alias content: holder.data

    radius: corner
    color: Theme.card
    border.color: Theme.stroke
    border.width: 1
    implicitWidth: holder.childrenRect.width
    implicitHeight: holder.childrenRect.height

    Item {
        id: holder
        anchors.fill: parent
    }
}
