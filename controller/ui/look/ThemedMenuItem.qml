import QtQuick
import QtQuick.Controls

// A row of a ThemedMenu: its symbol at the size of the words beside it, a compact height.
MenuItem {
    font.pixelSize: 13
    icon.width: 16
    icon.height: 16
    topPadding: 7
    bottomPadding: 7
    leftPadding: 12
    rightPadding: 14
    spacing: 10
    implicitHeight: Math.max(32, implicitContentHeight + topPadding + bottomPadding)
}
