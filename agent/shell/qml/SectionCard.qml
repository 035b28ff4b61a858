import QtQuick.Layouts
import Dovrel.Look

// One section of the window on a card of the shared look, its content inset 14 from the card's edge.
Card {
    corner: 14
    inset: 14
    spacing: 8
    Layout.fillWidth: true
}
