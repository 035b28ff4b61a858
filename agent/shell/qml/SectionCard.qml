import QtQuick
import QtQuick.Layouts
import Dovrel.Look

// One section of the window on a card of the shared look, its content inset 14 from the card's edge.
Card {
    id: section
    default property alias rows: inner.data
    corner: 14
    Layout.fillWidth: true
    implicitHeight: inner.implicitHeight + 28

    content: ColumnLayout {
        id: inner
        x: 14
        y: 14
        width: section.width - 28
        spacing: 8
    }
}
